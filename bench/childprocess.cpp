#include "childprocess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Owns the spawn attributes' file actions so that every exit path frees them.
class FileActions
{
public:
    FileActions() { posix_spawn_file_actions_init(&m_actions); }
    ~FileActions() { posix_spawn_file_actions_destroy(&m_actions); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t* get() { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions{};
};

// Reaps the child if it has ended; true then.
bool reap(pid_t pid, int* status, rusage* usage, bool block)
{
    for (;;) {
        const pid_t got = wait4(pid, status, block ? 0 : WNOHANG, usage);
        if (got == pid)
            return true;
        if (got == 0)
            return false;
        if (errno != EINTR)
            return true; // nothing left to wait for
    }
}

// The high-water mark of the child's own memory since its exec, in KiB; 0
// when it cannot be read. ru_maxrss would also count the bench's own pages,
// which the child holds between its fork and its exec.
long highWaterKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

} // namespace

ChildResult RunChild(const std::vector<std::string>& argv, const std::string& outputFile,
                     std::chrono::seconds limit)
{
    ChildResult result;
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    FileActions actions;
    posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, outputFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(actions.get(), STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    const auto started = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], actions.get(), nullptr, args.data(), environ) != 0)
        return result;
    result.started = true;

    int status = 0;
    rusage usage{};
    // A short poll keeps the measuring error to a millisecond or so.
    const auto deadline = started + limit;
    bool ended = false;
    long peak = 0;
    for (int tick = 0; !(ended = reap(pid, &status, &usage, false)) && Clock::now() < deadline;
         ++tick) {
        if (tick % 10 == 0)
            peak = std::max(peak, highWaterKiB(pid));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!ended) {
        result.timedOut = true;
        kill(pid, SIGINT);
        const auto grace = Clock::now() + std::chrono::seconds(10);
        while (!(ended = reap(pid, &status, &usage, false)) && Clock::now() < grace)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!ended) {
            kill(pid, SIGKILL);
            reap(pid, &status, &usage, true);
        }
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    result.peakKiB = peak;
    const auto secondsOf = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    result.cpuSeconds = secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(outputFile, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    result.output = text.str();
    return result;
}

bool OnPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

const char* CliUnderTest(const char* built)
{
    const char* other = std::getenv("NQ_BENCH_CLI");
    return other && *other ? other : built;
}
