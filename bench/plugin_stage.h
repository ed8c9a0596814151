// The stage on which the real libPluginPandel.so runs in-process: a temporary PANDEL_ROOT and
// agent directory (Conf/agent.xml pointing at an answering server), the agent library loaded
// first, the stand-in imaging library scripted to succeed, and host command objects.
#pragma once

#include "bench/answering_server.h"
#include "pandel/memory_command.h"
#include "pandel/plugin_api.h"
#include "platform/shared_library.h"

#include <cstdint>
#include <memory>
#include <string>

namespace pandel::bench {

// A command as the host delivers it, through the example host's command object: a name and the
// UTF-8 body as UTF-16 with its null character.
using pandel::MemoryCommand;
MemoryCommand MakeCommand(std::u16string name, const std::string& utf8Body);

class PluginStage {
public:
    // Builds the directories under a fresh temporary directory and sets the environment the
    // module and the stand-in read (PANDEL_ROOT, XPE_CLIENT_SCRIPT, XPE_CLIENT_JOURNAL; the
    // journal is journalPath, none by default: the stand-in's own file writes are no part of a
    // task's cost). The stand-in's directory must already be on LD_LIBRARY_PATH: the loader
    // reads it once, at process start. Exits the process with a message when anything is
    // missing.
    explicit PluginStage(const std::string& journalPath = "");
    ~PluginStage();

    std::int32_t Post(pandel::IHostCommand& command) { return post_(&command); }
    AnsweringServer& server() { return *server_; }
    // Replaces the stand-in imaging library's script (read afresh at each of its calls).
    void ScriptImaging(const std::string& lines);

    // A Download document of FileType 7: adapter-mode upload, which the stand-in runs at once.
    static std::string UploadDocument();
    // The same with FileType 6: dropped without a report.
    static std::string DroppedDocument();

private:
    std::string root_;
    std::unique_ptr<AnsweringServer> server_;
    platform::SharedLibrary agent_;
    platform::SharedLibrary plugin_;
    pandel::PostCommandFunction post_ = nullptr;
};

// The build directory this program was built in (plugin/, tools/ below it).
std::string BuildDir();

// This process's resident memory in KiB, -1 when it cannot be read.
long ResidentKib();

} // namespace pandel::bench
