// The end-to-end stage: the real plug-in library loaded by pandel-host, a temporary agent
// directory and PANDEL_ROOT, the scripted stand-in imaging library and a loopback server. The
// same cases run against the Windows build under Wine when the program is built for it
// (PANDEL_WINE_RUNNER): the server stays on this side of loopback.
#pragma once

#include "harness/child_process.h"
#include "harness/loopback_server.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pandel::test {

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override;

    // Writes Conf/agent.xml of the agent directory pointing at url's parts.
    void WriteAgentConfig(const std::string& ip, const std::string& port);
    void ScriptImaging(const std::string& script);

    // Runs pandel-host with the given calls (and host options before them).
    ProcessResult Host(const std::vector<std::string>& calls, int timeoutMs = 60000);
    // Writes body as a file and delivers it as command name.
    ProcessResult Post(const std::string& name, const std::string& body,
                       const std::vector<std::string>& hostOptions = {});

    std::vector<std::string> Journal();
    // The decoded xIn of every request the server received, in order.
    std::vector<std::string> Reports();

    static std::string Build(const std::string& relative);
    // The host program, in the build: pandel-host unless PANDEL_E2E_HOST names another that
    // speaks its command line (the host of Microsoft's ABI under Wine).
    static std::string HostProgram();
    // Whether the programs under test are the Windows build, run under Wine.
    static bool UnderWine();
    // Whether that build is the 32-bit one.
    static bool Windows32Bit();
    // Runs a Windows program (msiexec, reg) under the Wine of the build under test.
    static ProcessResult Wine(const std::vector<std::string>& arguments, int timeoutMs = 120000);
    // A path of this side as the programs under test name it (Z:\... under Wine).
    static std::string TargetPath(const std::string& path);
    // The file that is "C:\runtime.log" for the programs under test. Under Wine it is shared by
    // every test: a test that reads it holds LogLock while it writes and reads it.
    std::string LogPath() const;
    class LogLock {
    public:
        LogLock();
        ~LogLock();
        LogLock(const LogLock&) = delete;
        LogLock& operator=(const LogLock&) = delete;

    private:
        int fd_ = -1;
    };
    static std::string Download(const std::string& fields);
    static std::string TaskStatus(int scheduleId, int progress);

    TempRoot root_;
    std::string agentDir_;
    // The plug-in that Host loads, as the host names it: the build's own unless a test installs
    // another.
    std::string plugin_;
    // Environment that Host adds for the programs under test.
    std::map<std::string, std::string> hostEnv_;
    std::unique_ptr<LoopbackServer> server_;
};

} // namespace pandel::test
