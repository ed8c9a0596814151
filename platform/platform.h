// The one door from the module's logic to the operating system: every facility that a test must
// be able to replace, as a table of whole tasks.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A 6-byte hardware (MAC) address, first byte first.
using HardwareAddress = std::array<std::uint8_t, 6>;

// One adapter of the machine's list and what its permanent-address query answered.
struct AdapterAnswer {
    std::string name;                                // the adapter's name as the system lists it
    std::optional<HardwareAddress> permanentAddress; // empty when the query failed
};

// Local wall-clock time of day.
struct LocalTime {
    int hour = 0; // 0 to 23
    int minute = 0;
    int second = 0;
};

// A named cross-process lock; kNoLock when none could be had.
using LockHandle = std::intptr_t;
inline constexpr LockHandle kNoLock = -1;

// Every call does one whole task, never throws, never prints, and reports failure as an empty
// result (false, nullopt, an empty string or list).
class IPlatform {
public:
    virtual ~IPlatform() = default;

    // Full path of the loaded shared library whose file name is fileName ("libLibUpload.so",
    // "LibUpload.dll"); empty when no such library is loaded in the process.
    virtual std::string LoadedLibraryPath(const std::string& fileName) = 0;

    // Full path of the host process's executable; empty when it cannot be obtained.
    virtual std::string HostExecutablePath() = 0;

    // The native path of one of the machine's fixed places, given as its Windows path
    // ("C:\\runtime.log"). Identity on Windows; under the platform root elsewhere.
    virtual std::string FixedPlacePath(const std::string& windowsPath) = 0;

    // Registry under HKEY_LOCAL_MACHINE; key paths use '\' between their parts.
    // True when the value exists; the key is opened for query only and never created.
    virtual bool RegistryValueExists(const std::u16string& key, const std::u16string& name) = 0;
    // The value's data, when the value exists and its data fit into maxBytes. Opens the key,
    // creating it when missing.
    virtual std::optional<std::vector<std::uint8_t>> RegistryReadValue(const std::u16string& key,
                                                                       const std::u16string& name,
                                                                       std::size_t maxBytes) = 0;
    // Writes the value as binary data, creating the key when missing; false when refused. A
    // reader never sees a partly written value.
    virtual bool RegistryWriteValue(const std::u16string& key, const std::u16string& name,
                                    const std::vector<std::uint8_t>& data) = 0;

    // Named locks shared by all processes of the machine, free when nobody holds them.
    // Opens (creating when missing) the lock of that name; kNoLock on failure.
    virtual LockHandle OpenNamedLock(const std::u16string& name) = 0;
    // Waits without time-out until the lock is ours; false at once for kNoLock or on failure.
    virtual bool WaitNamedLock(LockHandle lock) = 0;
    // Releases the lock taken by WaitNamedLock; nothing for kNoLock.
    virtual void SignalNamedLock(LockHandle lock) = 0;
    // Closes the handle; nothing for kNoLock. A lock still held is released.
    virtual void CloseNamedLock(LockHandle lock) = 0;

    // The machine's network adapters (not loopback) in the system's list order, each with the
    // answer of its permanent-address query; nullopt when the list cannot be obtained.
    virtual std::optional<std::vector<AdapterAnswer>> QueryAdapterPermanentAddresses() = 0;

    // The machine's host name, whole; nullopt when it cannot be read.
    virtual std::optional<std::string> HostName() = 0;
    // The IPv4 addresses the resolver gives for hostName, dotted quads in its order; empty when
    // the name does not resolve.
    virtual std::vector<std::string> ResolveIPv4(const std::string& hostName) = 0;

    // Milliseconds since an arbitrary start, as a 32-bit count that wraps.
    virtual std::uint32_t TickCountMs() = 0;
    // The local time of day now.
    virtual LocalTime LocalTimeNow() = 0;
    // Blocks the calling thread for ms milliseconds.
    virtual void SleepMs(std::uint32_t ms) = 0;

    // Sends text to the debugger output (standard error on POSIX).
    virtual void DebugOutput(const std::u16string& text) = 0;
};

// The platform in force: the compiled-in real one unless a test has installed another.
IPlatform& Current();

// The compiled-in real platform.
IPlatform& Real();

// Installs a platform for the lifetime of the guard and puts the previous one back after it.
class ScopedPlatform {
public:
    explicit ScopedPlatform(IPlatform& replacement);
    ~ScopedPlatform();
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;

private:
    IPlatform* previous_;
};

} // namespace platform
