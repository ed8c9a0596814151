// A platform made of plain data for tests: virtual time, an in-memory registry, scripted adapters
// and host names, and locks that only record. Every call appends to one ordered trace. Failures
// of single calls come from a FaultInjectingPlatform above it (ScopedFakePlatform has one).
#pragma once

#include "harness/fault_injecting_platform.h"
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

    std::optional<std::vector<platform::AdapterAnswer>> adapters; // nullopt: list unavailable

    std::optional<std::string> hostName = std::string("terminal");
    std::map<std::string, std::vector<std::string>> resolver; // host name -> dotted addresses

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
    // The name of an open lock, empty for an unknown handle; with forget the handle is closed.
    std::u16string LockName(platform::LockHandle lock, bool forget = false);

    std::mutex mutex_;
    platform::LockHandle nextLock_ = 1;
    std::map<platform::LockHandle, std::u16string> openLocks_;
};

// Installs a FakePlatform, under a fault injector, for one scope.
struct ScopedFakePlatform {
    FakePlatform fake;
    FaultInjectingPlatform injector{fake};
    FaultInjectingPlatform::Faults& faults = injector.faults;
    platform::ScopedPlatform guard{injector};
};

} // namespace pandel::test
