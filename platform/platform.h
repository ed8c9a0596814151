// The one door from the module's logic to the operating system: every facility that a test must
// be able to replace, as a table of whole tasks.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pandel::platform {

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
// result (false, nullopt, an empty string or list). The calls are those of platform_calls.def.
class IPlatform {
public:
    virtual ~IPlatform() = default;
#define PANDEL_PLATFORM_CALL(Result, Name, Parameters, Arguments)                                  \
    virtual Result Name Parameters = 0;
#include "platform/platform_calls.def"
#undef PANDEL_PLATFORM_CALL
};

// Passes every call on to another platform: the base of one that changes only a few calls (a
// tool's view of the host, a test's injected faults).
class ForwardingPlatform : public IPlatform {
public:
    explicit ForwardingPlatform(IPlatform& next) : next_(next) {}
#define PANDEL_PLATFORM_CALL(Result, Name, Parameters, Arguments)                                  \
    Result Name Parameters override {                                                              \
        return next_.Name Arguments;                                                               \
    }
#include "platform/platform_calls.def"
#undef PANDEL_PLATFORM_CALL

private:
    IPlatform& next_;
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

} // namespace pandel::platform
