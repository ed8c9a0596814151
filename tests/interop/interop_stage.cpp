// The interop stage's namespace, paths and background processes.
#include "tests/interop/interop_stage.h"

#include "tests/support/temp_root.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <thread>

namespace pandel::test {
namespace {

constexpr int kStepMs = 20;

bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// NAME=VALUE entries as names and values.
std::map<std::string, std::string> Variables(const std::vector<std::string>& entries) {
    std::map<std::string, std::string> variables;
    for (const std::string& entry : entries) {
        const std::size_t equals = entry.find('=');
        variables[entry.substr(0, equals)] =
            equals == std::string::npos ? std::string() : entry.substr(equals + 1);
    }
    return variables;
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
    : child_(argv, Variables(env), outputFile), outputFile_(outputFile) {}

bool BackgroundProcess::Exited(int timeoutMs) {
    return child_.Exited(timeoutMs);
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
