// The library's seven exported entry points, under their undecorated names.
#include "pandel/plugin_api.h"
#include "plugin/plugin_module.h"

#include <cstdint>

// The six simple exports take no arguments; whatever the host passes is ignored.
#define PANDEL_FORWARD_SIMPLE_EXPORT(name, line)                                                   \
    std::int32_t name() {                                                                          \
        return pandel::CPandelPluginModule::name();                                                \
    }
PANDEL_SIMPLE_EXPORTS(PANDEL_FORWARD_SIMPLE_EXPORT)
#undef PANDEL_FORWARD_SIMPLE_EXPORT
std::int32_t PostCommand(pandel::IHostCommand* command) {
    return pandel::CPandelPluginModule::PostCommand(command);
}
