#pragma once

#include <chrono>
#include <string>
#include <vector>

// What one finished child process gave: its exit, its wall time from start
// to reaping, its peak resident memory and what it wrote to its output.
struct ChildResult
{
    bool started = false;
    int exitCode = -1; // -1 when it ended by a signal
    bool timedOut = false;
    double seconds = 0;
    long peakKiB = 0; // the child's own peak since its exec (VmHWM, sampled every 10 ms)
    // User and system CPU time of the child: steadier than the wall clock
    // on a machine busy with other work.
    double cpuSeconds = 0;
    std::string output;
};

// Runs a program found on PATH with its standard input and error on
// /dev/null and its output collected in outputFile. When it runs longer than
// the limit it gets an interrupt, then, a few seconds later, a kill.
ChildResult RunChild(const std::vector<std::string>& argv, const std::string& outputFile,
                     std::chrono::seconds limit);

// True when a program of that name is on PATH.
bool OnPath(const std::string& program);

// The netquarry-cli to time: the one NQ_BENCH_CLI names (an older build, or
// a profiler's wrapper), else built.
const char* CliUnderTest(const char* built);
