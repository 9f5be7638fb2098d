// A child process of the end-to-end tests and the benchmark: started with posix_spawn, its stdout into a pipe (read
// line by line) or a file, its stderr into a file; killed and reaped when the object goes. One thread per object.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

// How a child ended. Times in milliseconds, memory in KiB.
struct TChildEnd {
    int Rc = -1;        // exit code, -1 when a signal ended it
    double WallMs = 0;  // from the start to the end
    double CpuMs = 0;   // its user + system time
    long MaxRssKb = 0;  // its peak resident set, as sampled while Wait waited
};

class TChild {
public:
    // argv[0] is the program's path. outFile empty: stdout goes into a pipe for ReadLines. Throws
    // std::runtime_error when the process cannot be started.
    TChild(const std::vector<std::string>& argv, const std::string& outFile, const std::string& errFile);
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;
    ~TChild();

    // The next n lines of its stdout pipe, waiting at most timeoutMs; fewer when it ends or the time is up.
    std::vector<std::string> ReadLines(std::size_t n, double timeoutMs);
    void Signal(int sig);
    // Waits for the end. With sampleRss the peak resident set is read from /proc every 2 ms meanwhile (the ru_maxrss
    // of a spawned child starts from its parent, whose memory it shared until its exec); without, MaxRssKb stays 0
    // and the wait blocks.
    TChildEnd Wait(bool sampleRss = false);

private:
    pid_t FPid = -1;
    int FOut = -1;
    double FStart = 0;
    std::string FPartial;
};
