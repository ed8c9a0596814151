// Child processes for tests, every wait bounded: posix/child_process.cpp and
// win32/child_process.cpp. Both run a program to its end; POSIX also runs one beside the test and
// forks, Windows runs this test program again for one of its tests.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace pandel::test {

struct ProcessResult {
    int exitCode = -1;  // the exit status (Windows: the exit code's bits), or -1 when it did not
                        // exit normally
    int termSignal = 0; // the signal that ended it, or 0 (always on Windows)
    bool timedOut = false;
    std::string out; // standard output
    std::string err; // standard error
};

// Runs argv[0] with argv and the current environment plus env (which overrides), for at most
// timeoutMs (then kills it). Standard input is the null device.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env = {}, int timeoutMs = 60000);

// POSIX only.

// Runs body in a forked child of this process (for what must not touch the test process: a
// namespace of its own, a call that may block for ever) for at most timeoutMs, then kills it by
// its pid. The child's exit status is body's result; its output goes where this process's does.
ProcessResult RunForked(const std::function<int()>& body, int timeoutMs);

// A program running beside the test, started as RunProcess starts one: its standard output on a
// pipe that the test reads, its standard error this process's; or, with outputFile, both
// appended to that file. Ended when the object goes: SIGTERM, then SIGKILL after a bounded wait.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& env = {},
                 const std::string& outputFile = std::string());
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    // True when the program has ended by itself within timeoutMs; its exit status (-1 when a
    // signal ended it) in *exitCode.
    bool Exited(int timeoutMs, int* exitCode = nullptr);
    // Everything the program wrote on the pipe so far, once text has appeared in it (empty text:
    // once the output has ended), or the output ended, or timeoutMs passed without a byte.
    std::string OutputUntil(const std::string& text, int timeoutMs);

private:
    int pid_ = -1;
    int out_ = -1;
    bool running_ = false;
    int exitCode_ = -1;
    std::string output_;
};

// Windows only.

// The exit code reported for a child that did not start or did not end in time.
inline constexpr std::uint32_t kChildDidNotEnd = 0xFFFFFFFFu;

// Runs the test testName (usually a DISABLED_ one) of this program in a child process, with the
// environment variable PANDEL_CHILD_SYNC set to syncName; returns its exit code. A child still
// running after timeoutMs is ended.
std::uint32_t RunChildTest(const std::string& testName, const std::string& syncName = "",
                           std::uint32_t timeoutMs = 30000);

// PANDEL_CHILD_SYNC as the parent set it for this process; empty in a parent.
std::string ChildSyncName();

bool RunsUnderWine();

} // namespace pandel::test
