// The entry points: six that only log their call, and PostCommand, which takes a command apart
// through the host's objects and hands a Download to its handling.
#include "plugin/plugin_module.h"

#include "config/agent_config.h"
#include "diag/log_module.h"
#include "diag/se_translator.h"
#include "plugin/download_command.h"
#include "plugin/service_url.h"

#include <memory>
#include <new>
#include <string>

namespace pandel {
namespace {

// The body as the host copied it, up to its null character or the end of what was read.
std::u16string ReadCommandDocument(IHostCommandBody& body, std::int32_t size) {
    if (size <= 0 || size > kMaxBodyBytes)
        return {};
    // One unit more than the host may fill, always zero: a body without its terminating null
    // ends at the buffer's end.
    std::size_t units = (static_cast<std::size_t>(size) + 1) / 2 + 1;
    std::unique_ptr<char16_t[]> buffer(new (std::nothrow) char16_t[units]());
    if (!buffer)
        return {};
    std::int32_t bufferSize = size;
    body.ReadBody(buffer.get(), &bufferSize);
    buffer[units - 1] = 0;
    return std::u16string(buffer.get());
}

} // namespace

std::int32_t CPandelPluginModule::InitModule() {
    PluginLog.Write(u"CPandelPluginModule InitModule()");
    return 0;
}

std::int32_t CPandelPluginModule::UninitModule() {
    PluginLog.Write(u"CPandelPluginModule UninitModule()");
    return 0;
}

std::int32_t CPandelPluginModule::GetInfo() {
    PluginLog.Write(u"CPandelPluginModule GetInfo()");
    return 0;
}

std::int32_t CPandelPluginModule::RunTimeRoutine() {
    PluginLog.Write(u"CPandelPluginModule RunTimeRoutine()");
    return 0;
}

std::int32_t CPandelPluginModule::GetPluginVersion() {
    PluginLog.Write(u"CPandelPluginModule GetVersion()");
    return 0;
}

std::int32_t CPandelPluginModule::SetDbg() {
    PluginLog.Write(u"SetDbg");
    return 0;
}

std::int32_t CPandelPluginModule::PostCommand(IHostCommand* command) {
    InstallSeTranslator();
    if (command == nullptr)
        return 0;
    IHostCommandBody* body = command->GetBody();
    IHostBodyInfo* info = body != nullptr ? body->GetBodyInfo() : nullptr;
    std::int32_t size = info != nullptr ? info->GetSize() : 0;

    std::u16string serviceUrl;
    GetServerUrl(serviceUrl);

    std::u16string name;
    command->GetName(&name);

    char narrowUrl[kServiceUrlBufferSize];
    ToNarrowServiceUrl(serviceUrl, narrowUrl);

    if (name != kDownloadCommandName || body == nullptr)
        return 0;
    std::u16string document = ReadCommandDocument(*body, size);
    HandleDownload(document, narrowUrl);
    return 0;
}

} // namespace pandel
