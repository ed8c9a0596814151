// The entry points: six that only log their call, and PostCommand, which takes a command apart
// through the host's objects and hands a Download to its handling.
#include "plugin/plugin_module.h"

#include "config/agent_config.h"
#include "diag/log_module.h"
#include "diag/se_translator.h"
#include "pandel/err_obj.h"
#include "plugin/download_command.h"
#include "plugin/service_url.h"

#include <memory>
#include <new>
#include <optional>
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

std::u16string OwnCommandName(void* command) {
    std::u16string name;
    static_cast<IHostCommand*>(command)->GetName(&name);
    return name;
}

std::int32_t RunInHostWorld(void* command, platform::NameReader readName,
                            std::optional<platform::EscapedErrObj>* escaped) {
    auto* host = static_cast<IHostCommand*>(command);
    if (escaped == nullptr)
        return CPandelPluginModule::RunCommand(host, readName);
    // A host of another compiler cannot catch the module's own exception: it is caught here,
    // once the frames below have run their destructors, and raised again in the host's world
    // after this block has ended. The module's ErrObj come from faults: no Windows error code.
    try {
        return CPandelPluginModule::RunCommand(host, readName);
    } catch (const ErrObj& error) {
        escaped->emplace(platform::EscapedErrObj{error.GetCode(), error.GetDescription(), false});
    }
    return 0;
}

void ReportForHost(const platform::EscapedErrObj& error) {
    ErrObj(error.code, error.description, error.isWindowsError).Report(0);
}

} // namespace

#define PANDEL_DEFINE_SIMPLE_EXPORT(name, line)                                                    \
    std::int32_t CPandelPluginModule::name() {                                                     \
        PluginLog.Write(line);                                                                     \
        return 0;                                                                                  \
    }
PANDEL_SIMPLE_EXPORTS(PANDEL_DEFINE_SIMPLE_EXPORT)
#undef PANDEL_DEFINE_SIMPLE_EXPORT

std::int32_t CPandelPluginModule::PostCommand(IHostCommand* command) {
    InstallSeTranslator();
    if (command == nullptr)
        return 0;
    return platform::ServeHostCommand(command, OwnCommandName, RunInHostWorld, ReportForHost);
}

std::int32_t CPandelPluginModule::RunCommand(IHostCommand* command, platform::NameReader readName) {
    IHostCommandBody* body = command->GetBody();
    IHostBodyInfo* info = body != nullptr ? body->GetBodyInfo() : nullptr;
    std::int32_t size = info != nullptr ? info->GetSize() : 0;

    std::u16string serviceUrl;
    GetServerUrl(serviceUrl);

    const std::u16string name = readName(command);

    char narrowUrl[kServiceUrlBufferSize];
    ToNarrowServiceUrl(serviceUrl, narrowUrl);

    if (name != kDownloadCommandName || body == nullptr)
        return 0;
    std::u16string document = ReadCommandDocument(*body, size);
    HandleDownload(document, narrowUrl);
    return 0;
}

} // namespace pandel
