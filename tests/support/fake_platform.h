// A platform made of plain data for tests: virtual time, an in-memory registry with injectable
// failures, scripted adapters and host names, and locks that only record. Every call appends
// to one ordered trace.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace pandel::test {

class FakePlatform : public platform::IPlatform {
public:
    // --- What the test scripts ---------------------------------------------------------
    std::map<std::string, std::string> loadedLibraries; // file name -> full path
    std::string hostExecutablePath = "/opt/agent/agent";
    std::string rootDirectory = "/fake-root";

    // Registry: "key\\name" -> data (see RegistryPath).
    std::map<std::u16string, std::vector<std::uint8_t>> registry;
    // Fail the registry call with this 1-based number (counted over all registry calls); with
    // failRegistryForGood every call from that one on fails. 0: no failure.
    int failRegistryCall = 0;
    bool failRegistryForGood = false;

    std::optional<std::vector<platform::AdapterAnswer>> adapters; // nullopt: list unavailable

    std::optional<std::string> hostName = std::string("terminal");
    std::map<std::string, std::vector<std::string>> resolver; // host name -> dotted addresses

    bool failLockOpen = false;

    std::uint32_t tickCount = 0; // advanced by SleepMs
    platform::LocalTime localTime{9, 5, 3};

    // --- What the test reads back ------------------------------------------------------
    std::vector<std::string> trace;         // one entry per call, in order
    std::vector<std::u16string> debugLines; // DebugOutput texts
    std::uint64_t sleptMs = 0;              // total of all SleepMs

    static std::u16string RegistryPath(const std::u16string& key, const std::u16string& name) {
        return key + u"\\" + name;
    }

    // --- IPlatform ---------------------------------------------------------------------
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

    // Lets code outside the platform (a fake imaging library, a fake sender) add to the trace.
    void Record(std::string event);

private:
    bool NextRegistryCallFails();

    std::mutex mutex_;
    int registryCalls_ = 0;
    platform::LockHandle nextLock_ = 1;
    std::map<platform::LockHandle, std::u16string> openLocks_;
};

// Installs a FakePlatform for one scope.
class ScopedFakePlatform {
public:
    ScopedFakePlatform() : guard_(fake) {}
    FakePlatform fake;

private:
    platform::ScopedPlatform guard_;
};

} // namespace pandel::test
