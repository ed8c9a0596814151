// The library's seven exported entry points, under their undecorated names.
#include "plugin/plugin_module.h"

#include <cstdint>

#define PANDEL_EXPORT extern "C" __attribute__((visibility("default")))

// The six simple exports take no arguments; whatever the host passes is ignored.
PANDEL_EXPORT std::int32_t InitModule() {
    return pandel::CPandelPluginModule::InitModule();
}
PANDEL_EXPORT std::int32_t UninitModule() {
    return pandel::CPandelPluginModule::UninitModule();
}
PANDEL_EXPORT std::int32_t GetInfo() {
    return pandel::CPandelPluginModule::GetInfo();
}
PANDEL_EXPORT std::int32_t RunTimeRoutine() {
    return pandel::CPandelPluginModule::RunTimeRoutine();
}
PANDEL_EXPORT std::int32_t GetPluginVersion() {
    return pandel::CPandelPluginModule::GetPluginVersion();
}
PANDEL_EXPORT std::int32_t SetDbg() {
    return pandel::CPandelPluginModule::SetDbg();
}
PANDEL_EXPORT std::int32_t PostCommand(pandel::IHostCommand* command) {
    return pandel::CPandelPluginModule::PostCommand(command);
}
