// StagedFile: a file written under a fresh name beside its target and renamed over it when whole.

#include "stagedfile.h"

#include "ioerror.h"

#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Writes go out in pieces of this size rather than one per call.
constexpr std::size_t kBufferSize = 64 * 1024;

String freshName(const String& target)
{
    const auto slash = target.rfind('/');
    const String folder = slash == String::npos ? String() : target.substr(0, slash + 1);
    const String name = slash == String::npos ? target : target.substr(slash + 1);
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    String suffix(8, 'x');
    for (char& c : suffix)
        c = kLetters[QRandomGenerator::global()->bounded(static_cast<int>(sizeof kLetters - 1))];
    return folder + "." + name + "." + suffix;
}

} // namespace

StagedFile::StagedFile(String target) : m_target(std::move(target))
{
    // O_EXCL: a name someone else made, link or file, is never opened.
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        m_staged = freshName(m_target);
        m_fd = ::open(m_staged.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (m_fd < 0 && errno != EEXIST)
            break;
    }
    if (m_fd < 0) {
        const int error = errno;
        m_staged.clear();
        fail(error);
    }
    m_buffer.reserve(kBufferSize);
}

StagedFile::~StagedFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_staged.empty())
        ::unlink(m_staged.c_str());
}

void StagedFile::Write(std::string_view bytes)
{
    m_buffer += bytes;
    if (m_buffer.size() >= kBufferSize)
        flush();
}

void StagedFile::flush()
{
    std::size_t done = 0;
    while (done < m_buffer.size()) {
        const ssize_t written = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            fail(written < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(written);
    }
    m_buffer.clear();
}

void StagedFile::Commit()
{
    flush();
    // Some file systems say a disk is full only when the data goes out.
    if (::fsync(m_fd) != 0 && errno != EINVAL)
        fail(errno);
    const int fd = std::exchange(m_fd, -1);
    if (::close(fd) != 0)
        fail(errno);
    if (::rename(m_staged.c_str(), m_target.c_str()) != 0)
        fail(errno);
    m_staged.clear();
}

void StagedFile::fail(int error) const
{
    throw EInOutError::CannotWrite(m_target, error);
}
