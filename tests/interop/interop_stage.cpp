// The interop stage's namespace, paths and background processes.
#include "tests/interop/interop_stage.h"

#include "tests/support/temp_root.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace pandel::test {
namespace {

constexpr int kStepMs = 20;
constexpr int kStopWaitMs = 5000;

bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

} // namespace

std::string EnterOwnNetwork() {
    if (unshare(CLONE_NEWNET) != 0)
        return std::string("no network namespace of the test's own (unshare: ") +
               std::strerror(errno) + "); the interop tests need CAP_SYS_ADMIN";
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                    (request.ifr_flags |= IFF_UP, ioctl(fd, SIOCSIFFLAGS, &request) == 0);
    const int error = errno;
    if (fd >= 0)
        close(fd);
    if (!up)
        return std::string("cannot bring loopback up in the namespace: ") + std::strerror(error);
    return std::string();
}

std::string StacksMissing() {
    for (const char* program : {"/usr/bin/php", "/usr/bin/python3", "/usr/bin/node"})
        if (!Exists(program))
            return std::string(program) + " is missing: scripts/interop-deps did not install it";
    if (!Exists(NodeModules() + "/soap/package.json"))
        return "node-soap is missing from " + NodeModules() + ": scripts/interop-deps failed";
    return std::string();
}

std::string InteropScript(const std::string& name) {
    return std::string(PANDEL_SOURCE_DIR) + "/tests/interop/" + name;
}

std::string ShippedWsdl() {
    return std::string(PANDEL_SOURCE_DIR) + "/report/wsdl/DeviceConfig.wsdl";
}

std::string NodeModules() {
    return std::string(PANDEL_BUILD_DIR) + "/interop/node_modules";
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const std::vector<std::string>& env,
                                     const std::string& outputFile)
    : outputFile_(outputFile) {
    pid_ = fork();
    if (pid_ == 0) {
        const int null = open("/dev/null", O_RDONLY);
        const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(null, 0);
        dup2(out, 1);
        dup2(out, 2);
        for (const std::string& entry : env)
            putenv(const_cast<char*>(entry.c_str()));
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    running_ = pid_ > 0;
}

BackgroundProcess::~BackgroundProcess() {
    if (!running_)
        return;
    kill(pid_, SIGTERM);
    if (!Exited(kStopWaitMs)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool BackgroundProcess::Exited(int timeoutMs) {
    for (int waited = 0; running_ && waited <= timeoutMs; waited += kStepMs) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            running_ = false;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
    }
    return !running_;
}

bool BackgroundProcess::Printed(const std::string& text, int timeoutMs) {
    for (int waited = 0; waited <= timeoutMs; waited += kStepMs) {
        if (ReadFile(outputFile_).find(text) != std::string::npos)
            return true;
        if (Exited(0))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
    }
    return false;
}

bool BackgroundProcess::Listening(int port, int timeoutMs) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int waited = 0; waited <= timeoutMs; waited += kStepMs) {
        if (Exited(0))
            return false;
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool connected =
            fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (fd >= 0)
            close(fd);
        if (connected)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(kStepMs));
    }
    return false;
}

} // namespace pandel::test
