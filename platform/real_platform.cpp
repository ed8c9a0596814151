// The compiled-in platform: IPlatform forwarded to this system's native facilities, and the
// switch that lets a test put another platform in its place.
#include "platform/platform.h"

#include "platform/adapters.h"
#include "platform/clock.h"
#include "platform/debug_out.h"
#include "platform/fixed_places.h"
#include "platform/host.h"
#include "platform/module_paths.h"
#include "platform/named_lock.h"
#include "platform/registry.h"

#include <atomic>

namespace platform {
namespace {

class RealPlatform final : public IPlatform {
public:
    std::string LoadedLibraryPath(const std::string& fileName) override {
        return native::LoadedLibraryPath(fileName);
    }
    std::string HostExecutablePath() override { return native::HostExecutablePath(); }
    std::string FixedPlacePath(const std::string& windowsPath) override {
        return native::FixedPlacePath(windowsPath);
    }
    bool RegistryValueExists(const std::u16string& key, const std::u16string& name) override {
        return native::RegistryValueExists(key, name);
    }
    std::optional<std::vector<std::uint8_t>> RegistryReadValue(const std::u16string& key,
                                                               const std::u16string& name,
                                                               std::size_t maxBytes) override {
        return native::RegistryReadValue(key, name, maxBytes);
    }
    bool RegistryWriteValue(const std::u16string& key, const std::u16string& name,
                            const std::vector<std::uint8_t>& data) override {
        return native::RegistryWriteValue(key, name, data);
    }
    LockHandle OpenNamedLock(const std::u16string& name) override {
        return native::OpenNamedLock(name);
    }
    bool WaitNamedLock(LockHandle lock) override { return native::WaitNamedLock(lock); }
    void SignalNamedLock(LockHandle lock) override { native::SignalNamedLock(lock); }
    void CloseNamedLock(LockHandle lock) override { native::CloseNamedLock(lock); }
    std::optional<std::vector<AdapterAnswer>> QueryAdapterPermanentAddresses() override {
        return native::QueryAdapterPermanentAddresses();
    }
    std::optional<std::string> HostName() override { return native::HostName(); }
    std::vector<std::string> ResolveIPv4(const std::string& hostName) override {
        return native::ResolveIPv4(hostName);
    }
    std::uint32_t TickCountMs() override { return native::TickCountMs(); }
    LocalTime LocalTimeNow() override { return native::LocalTimeNow(); }
    void SleepMs(std::uint32_t ms) override { native::SleepMs(ms); }
    void DebugOutput(const std::u16string& text) override { native::DebugOutput(text); }
};

// Constructed on first use so that static initialisers elsewhere (the log channels) may use it.
RealPlatform& TheRealPlatform() {
    static RealPlatform real;
    return real;
}

std::atomic<IPlatform*> g_installed{nullptr};

} // namespace

IPlatform& Real() {
    return TheRealPlatform();
}

IPlatform& Current() {
    IPlatform* installed = g_installed.load(std::memory_order_acquire);
    return installed ? *installed : TheRealPlatform();
}

ScopedPlatform::ScopedPlatform(IPlatform& replacement)
    : previous_(g_installed.exchange(&replacement, std::memory_order_acq_rel)) {}

ScopedPlatform::~ScopedPlatform() {
    g_installed.store(previous_, std::memory_order_release);
}

} // namespace platform
