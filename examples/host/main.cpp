// A minimal host: loads the module by file name as the agent does, calls its entry points and
// delivers one Download command through its own command object, catching the ErrObj that a
// processor fault during the command becomes.
//
//   example-host /usr/lib/x86_64-linux-gnu/libPluginPandel.so
//
// The module reads the service's address from Conf/agent.xml beside this program (or beside the
// agent's library when the host has loaded it) and finds libXPePandelClient.so by file name.
#include <pandel/err_obj.h>
#include <pandel/memory_command.h>
#include <pandel/plugin_api.h>

#include <dlfcn.h>

#include <cstdio>
#include <string>

namespace {

// An upload of the terminal's image to 10.1.2.3:9000 through the adapter the module chooses.
const char16_t kDownloadDocument[] =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?><Download><FileType>7</FileType>"
    u"<Command>upload</Command><ScheduleId>42</ScheduleId><BackupType>0</BackupType>"
    u"<StartMode>2</StartMode><ServerAddr>10.1.2.3</ServerAddr><ServerPort>9000</ServerPort>"
    u"</Download>";

// The module's texts are ASCII; anything else is shown as '?'.
std::string Narrow(const std::u16string& text) {
    std::string narrow;
    for (char16_t unit : text)
        narrow.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    return narrow;
}

template <typename Function> Function Find(void* module, const char* name) {
    auto function = reinterpret_cast<Function>(dlsym(module, name));
    if (function == nullptr)
        std::fprintf(stderr, "example-host: the module has no %s\n", name);
    return function;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: example-host MODULE\n");
        return 2;
    }
    void* module = dlopen(argv[1], RTLD_NOW);
    if (module == nullptr) {
        std::fprintf(stderr, "example-host: %s\n", dlerror());
        return 1;
    }
    auto init = Find<pandel::InitModuleFunction>(module, "InitModule");
    auto version = Find<pandel::GetPluginVersionFunction>(module, "GetPluginVersion");
    auto post = Find<pandel::PostCommandFunction>(module, "PostCommand");
    auto uninit = Find<pandel::UninitModuleFunction>(module, "UninitModule");
    if (init == nullptr || version == nullptr || post == nullptr || uninit == nullptr)
        return 1;

    std::printf("InitModule -> %d\n", init());
    std::printf("GetPluginVersion -> %d\n", version());

    pandel::MemoryCommand command(u"Download", kDownloadDocument);
    command.Observe([](const char* operation, std::int32_t size) {
        if (size >= 0)
            std::printf("host: %s %d\n", operation, size);
        else
            std::printf("host: %s\n", operation);
    });
    int status = 0;
    try {
        std::printf("PostCommand -> %d\n", post(&command));
    } catch (const pandel::ErrObj& error) {
        // A processor fault in the module or the imaging library, on this thread.
        std::printf("PostCommand -> ErrObj %d %s\n", error.GetCode(),
                    Narrow(error.GetDescription()).c_str());
        status = 3;
    }
    std::printf("UninitModule -> %d\n", uninit());
    dlclose(module);
    return status;
}
