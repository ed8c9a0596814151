// The real platform with the host executable placed in the operator's directory.
#include "tools/pandel-doctor/host_directory_platform.h"

#include <utility>

namespace pandel::doctor {
namespace {

// Only the executable's directory counts; the name stands for whatever the agent's host is called.
constexpr const char* kHostExecutableName = "agent-host";

} // namespace

HostDirectoryPlatform::HostDirectoryPlatform(std::string hostDirectory)
    : real_(platform::Real()), executable_(std::move(hostDirectory)) {
    while (executable_.size() > 1 && executable_.back() == '/')
        executable_.pop_back();
    executable_ += std::string("/") + kHostExecutableName;
}

std::string HostDirectoryPlatform::LoadedLibraryPath(const std::string& fileName) {
    return real_.LoadedLibraryPath(fileName);
}
std::string HostDirectoryPlatform::HostExecutablePath() {
    return executable_;
}
std::string HostDirectoryPlatform::FixedPlacePath(const std::string& windowsPath) {
    return real_.FixedPlacePath(windowsPath);
}
bool HostDirectoryPlatform::RegistryValueExists(const std::u16string& key,
                                                const std::u16string& name) {
    return real_.RegistryValueExists(key, name);
}
std::optional<std::vector<std::uint8_t>>
HostDirectoryPlatform::RegistryReadValue(const std::u16string& key, const std::u16string& name,
                                         std::size_t maxBytes) {
    return real_.RegistryReadValue(key, name, maxBytes);
}
bool HostDirectoryPlatform::RegistryWriteValue(const std::u16string& key,
                                               const std::u16string& name,
                                               const std::vector<std::uint8_t>& data) {
    return real_.RegistryWriteValue(key, name, data);
}
platform::LockHandle HostDirectoryPlatform::OpenNamedLock(const std::u16string& name) {
    return real_.OpenNamedLock(name);
}
bool HostDirectoryPlatform::WaitNamedLock(platform::LockHandle lock) {
    return real_.WaitNamedLock(lock);
}
void HostDirectoryPlatform::SignalNamedLock(platform::LockHandle lock) {
    real_.SignalNamedLock(lock);
}
void HostDirectoryPlatform::CloseNamedLock(platform::LockHandle lock) {
    real_.CloseNamedLock(lock);
}
std::optional<std::vector<platform::AdapterAnswer>>
HostDirectoryPlatform::QueryAdapterPermanentAddresses() {
    return real_.QueryAdapterPermanentAddresses();
}
std::optional<std::string> HostDirectoryPlatform::HostName() {
    return real_.HostName();
}
std::vector<std::string> HostDirectoryPlatform::ResolveIPv4(const std::string& hostName) {
    return real_.ResolveIPv4(hostName);
}
std::uint32_t HostDirectoryPlatform::TickCountMs() {
    return real_.TickCountMs();
}
platform::LocalTime HostDirectoryPlatform::LocalTimeNow() {
    return real_.LocalTimeNow();
}
void HostDirectoryPlatform::SleepMs(std::uint32_t ms) {
    real_.SleepMs(ms);
}
void HostDirectoryPlatform::DebugOutput(const std::u16string& text) {
    real_.DebugOutput(text);
}

} // namespace pandel::doctor
