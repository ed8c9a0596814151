// Child processes for tests on POSIX: fork, exec, pipes drained with poll, a kill at the
// deadline.
#include "harness/child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pandel::test {
namespace {

constexpr int kPollStepMs = 10;
constexpr int kStopWaitMs = 5000; // SIGTERM's grace before SIGKILL

// Starts argv[0] with the environment plus env, its descriptors 0, 1 and 2 those given; the
// child's pid, or -1.
pid_t Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            int in, int out, int err) {
    const pid_t child = fork();
    if (child != 0)
        return child;
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    for (const auto& [name, value] : env)
        setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

int OpenNull() {
    return open("/dev/null", O_RDONLY | O_CLOEXEC);
}

enum class Waited { Ended, Running, Failed };

// Waits up to timeoutMs for pid to end, its wait status in *status.
Waited WaitFor(pid_t pid, int timeoutMs, int* status) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const pid_t done = waitpid(pid, status, WNOHANG);
        if (done == pid)
            return Waited::Ended;
        if (done < 0 && errno != EINTR)
            return Waited::Failed;
        if (std::chrono::steady_clock::now() >= deadline)
            return Waited::Running;
        usleep(kPollStepMs * 1000);
    }
}

void Record(int status, ProcessResult* result) {
    if (WIFEXITED(status))
        result->exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        result->termSignal = WTERMSIG(status);
}

} // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env, int timeoutMs) {
    ProcessResult result;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        return result;
    const int null = OpenNull();
    const pid_t child = Spawn(argv, env, null, outPipe[1], errPipe[1]);
    close(null);
    close(outPipe[1]);
    close(errPipe[1]);
    if (child < 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return result;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) {
            result.timedOut = true;
            kill(child, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0)
                continue;
            char chunk[65536];
            ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(n));
                continue;
            }
            close(fds[i].fd);
            fds[i].fd = -1;
            --open;
        }
    }
    for (pollfd& p : fds) {
        if (p.fd >= 0)
            close(p.fd);
    }
    int status = 0;
    waitpid(child, &status, 0);
    Record(status, &result);
    return result;
}

ProcessResult RunForked(const std::function<int()>& body, int timeoutMs) {
    ProcessResult result;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        return result;
    if (pid == 0) {
        int code = 125;
        try {
            code = body();
        } catch (...) {
        }
        std::fflush(nullptr);
        _exit(code);
    }
    int status = 0;
    const Waited waited = WaitFor(pid, timeoutMs, &status);
    if (waited == Waited::Failed)
        return result;
    if (waited == Waited::Running) {
        result.timedOut = true;
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    Record(status, &result);
    return result;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::map<std::string, std::string>& env,
                           const std::string& outputFile) {
    int pipeFds[2] = {-1, -1};
    int out = -1;
    if (!outputFile.empty())
        out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    else if (pipe2(pipeFds, O_CLOEXEC) == 0)
        out = pipeFds[1];
    if (out < 0)
        return;
    const int null = OpenNull();
    pid_ = Spawn(argv, env, null, out, outputFile.empty() ? 2 : out);
    close(null);
    close(out);
    out_ = pipeFds[0];
    running_ = pid_ > 0;
}

ChildProcess::~ChildProcess() {
    if (running_) {
        kill(pid_, SIGTERM);
        if (!Exited(kStopWaitMs)) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    if (out_ >= 0)
        close(out_);
}

bool ChildProcess::Exited(int timeoutMs, int* exitCode) {
    int status = 0;
    if (running_ && WaitFor(pid_, timeoutMs, &status) != Waited::Running) {
        running_ = false;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (exitCode != nullptr)
        *exitCode = exitCode_;
    return pid_ > 0 && !running_;
}

std::string ChildProcess::OutputUntil(const std::string& text, int timeoutMs) {
    char buffer[4096];
    pollfd p{out_, POLLIN, 0};
    while (out_ >= 0 && (text.empty() || output_.find(text) == std::string::npos) &&
           poll(&p, 1, timeoutMs) == 1) {
        const ssize_t got = read(out_, buffer, sizeof buffer);
        if (got <= 0)
            break;
        output_.append(buffer, static_cast<std::size_t>(got));
    }
    return output_;
}

} // namespace pandel::test
