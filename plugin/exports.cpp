// The library's seven exported entry points, under their undecorated names.
#include "pandel/plugin_api.h"
#include "plugin/plugin_module.h"

#include <cstdint>

// The six simple exports take no arguments; whatever the host passes is ignored.
std::int32_t InitModule() {
    return pandel::CPandelPluginModule::InitModule();
}
std::int32_t UninitModule() {
    return pandel::CPandelPluginModule::UninitModule();
}
std::int32_t GetInfo() {
    return pandel::CPandelPluginModule::GetInfo();
}
std::int32_t RunTimeRoutine() {
    return pandel::CPandelPluginModule::RunTimeRoutine();
}
std::int32_t GetPluginVersion() {
    return pandel::CPandelPluginModule::GetPluginVersion();
}
std::int32_t SetDbg() {
    return pandel::CPandelPluginModule::SetDbg();
}
std::int32_t PostCommand(pandel::IHostCommand* command) {
    return pandel::CPandelPluginModule::PostCommand(command);
}
