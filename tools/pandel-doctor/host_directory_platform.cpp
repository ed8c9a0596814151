// The real platform with the host executable placed in the operator's directory.
#include "tools/pandel-doctor/host_directory_platform.h"

#include <utility>

namespace pandel::doctor {
namespace {

// Only the executable's directory counts; the name stands for whatever the agent's host is called.
constexpr const char* kHostExecutableName = "agent-host";

} // namespace

HostDirectoryPlatform::HostDirectoryPlatform(std::string hostDirectory)
    : ForwardingPlatform(platform::Real()), executable_(std::move(hostDirectory)) {
    while (executable_.size() > 1 && executable_.back() == '/')
        executable_.pop_back();
    executable_ += std::string("/") + kHostExecutableName;
}

std::string HostDirectoryPlatform::HostExecutablePath() {
    return executable_;
}

} // namespace pandel::doctor
