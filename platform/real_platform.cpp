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

namespace pandel::platform {
namespace {

class RealPlatform final : public IPlatform {
public:
#define PANDEL_PLATFORM_CALL(Result, Name, Parameters, Arguments)                                  \
    Result Name Parameters override {                                                              \
        return native::Name Arguments;                                                             \
    }
#include "platform/platform_calls.def"
#undef PANDEL_PLATFORM_CALL
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

} // namespace pandel::platform
