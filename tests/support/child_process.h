// Runs a program as a child process for tests, with a bounded wait, and collects its output.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace pandel::test {

struct ProcessResult {
    int exitCode = -1;  // the exit status, or -1 when it did not exit normally
    int termSignal = 0; // the signal that ended it, or 0
    bool timedOut = false;
    std::string out; // standard output
    std::string err; // standard error
};

// Runs argv[0] with argv and the current environment plus env (which overrides), for at most
// timeoutMs (then kills it). Standard input is /dev/null.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env = {}, int timeoutMs = 60000);

// Runs body in a forked child of this process (for what must not touch the test process: a
// namespace of its own, a call that may block for ever) for at most timeoutMs, then kills it by
// its pid. The child's exit status is body's result; its output goes where this process's does.
ProcessResult RunForked(const std::function<int()>& body, int timeoutMs);

} // namespace pandel::test
