// The real platform, except that the host executable lives in a directory named by the operator:
// the module's own functions then find the host's files (Conf/ProxyInfo.xml, and Conf/agent.xml
// when no agent library is loaded) there, as they would inside the agent's process.
#pragma once

#include "platform/platform.h"

#include <string>

namespace pandel::doctor {

class HostDirectoryPlatform final : public platform::IPlatform {
public:
    explicit HostDirectoryPlatform(std::string hostDirectory);

    std::string LoadedLibraryPath(const std::string& fileName) override;
    std::string HostExecutablePath() override;
    std::string FixedPlacePath(const std::string& windowsPath) override;
    bool RegistryValueExists(const std::u16string& key, const std::u16string& name) override;
    std::optional<std::vector<std::uint8_t>> RegistryReadValue(const std::u16string& key,
                                                               const std::u16string& name,
                                                               std::size_t maxBytes) override;
    bool RegistryWriteValue(const std::u16string& key, const std::u16string& name,
                            const std::vector<std::uint8_t>& data) override;
    platform::LockHandle OpenNamedLock(const std::u16string& name) override;
    bool WaitNamedLock(platform::LockHandle lock) override;
    void SignalNamedLock(platform::LockHandle lock) override;
    void CloseNamedLock(platform::LockHandle lock) override;
    std::optional<std::vector<platform::AdapterAnswer>> QueryAdapterPermanentAddresses() override;
    std::optional<std::string> HostName() override;
    std::vector<std::string> ResolveIPv4(const std::string& hostName) override;
    std::uint32_t TickCountMs() override;
    platform::LocalTime LocalTimeNow() override;
    void SleepMs(std::uint32_t ms) override;
    void DebugOutput(const std::u16string& text) override;

private:
    platform::IPlatform& real_;
    std::string executable_;
};

} // namespace pandel::doctor
