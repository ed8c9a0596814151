// Faults around the report sender, the log and the machine root, each with the outcome the
// module gives: an error result, a lost log entry, a Download that still reports.
#include "diag/log_module.h"
#include "harness/fake_platform.h"
#include "harness/loopback_server.h"
#include "report/report_sender.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/report/report_test_support.h"
#include "tests/support/temp_root.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace pandel::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::int32_t kUntouched = 77;

TEST(ProxyDown, ReportFailsAsRefusedAndNeverFallsBackToTheServer) {
    TempRoot root;
    ScopedFakePlatform platform;
    MakeDirectories(root.Sub("agent/Conf"));
    WriteFile(root.Sub("agent/Conf/ProxyInfo.xml"),
              "127.0.0.1 " + std::to_string(ClosedPort()) + " true");
    platform.fake.hostExecutablePath = root.Sub("agent/host");
    LoopbackServer server("", LoopbackServer::Mode::Idle);
    // Not a loopback name, so the proxy is used; the name itself is never looked up.
    const std::string url = "http://LOCALHOST:" + std::to_string(server.port()) + "/App/Ep";
    std::int32_t slot = kUntouched;
    CapturedOutput output;
    EXPECT_EQ(28, SendReport(url.c_str(), u"report", &slot));
    EXPECT_EQ(kUntouched, slot);
    EXPECT_FALSE(server.HasPendingConnection());
}

TEST(ServerMisbehaves, ClosingAfterHalfTheRequestCostsAnErrorNotTheProcess) {
    ScopedFakePlatform platform;
    // About 16 MB on the wire, more than the socket buffers on both sides can take; the server
    // takes 1 MB, then closes with the rest unread (a reset).
    const std::u16string report(16u << 20, u'a');
    LoopbackServer server({LoopbackServer::Mode::CloseAfterBytes, "", 1u << 20});
    const std::string url = LoopbackUrl(server.port());
    std::int32_t slot = kUntouched;
    int result = 0;
    {
        CapturedOutput output;
        result = SendReport(url.c_str(), report.c_str(), &slot);
    }
    EXPECT_EQ(-1, result);
    EXPECT_EQ(kUntouched, slot); // the request never went out whole
    EXPECT_EQ(server.Request().size(), 1u << 20);
}

// The log channel over a file that takes no bytes, and over a directory that is not one.
struct LogPlace {
    LogPlace() { platform.fake.rootDirectory = root.path(); }
    TempRoot root;
    ScopedFakePlatform platform;
};

TEST(LogFault, FullDiskLosesTheEntriesAndNothingElse) {
    LogPlace place;
    std::filesystem::remove(place.root.Sub("C/runtime.log"));
    std::filesystem::create_symlink("/dev/full", place.root.Sub("C/runtime.log"));
    CLogModule log(u"PluginPandel");
    // Far more than the stream's buffer, each entry flushed into ENOSPC.
    const std::u16string entry(1000, u'x');
    for (int i = 0; i < 200; ++i)
        log.Write(u"%d %s", i, entry.c_str());
    log.WriteMessage(u"last");
    EXPECT_THAT(place.platform.fake.debugLines, IsEmpty()); // the file was opened: no fallback
}

TEST(LogFault, UnusableLogDirectoryTurnsToTheDebuggerOutput) {
    LogPlace place;
    // As root no mode bits stop a write; a file where the directory belongs stops every one.
    std::filesystem::remove_all(place.root.Sub("C"));
    WriteFile(place.root.Sub("C"), "not a directory");
    CLogModule log(u"PluginPandel");
    log.Write(u"entry %d", 1);
    ASSERT_EQ(place.platform.fake.debugLines.size(), 2u);
    EXPECT_EQ(place.platform.fake.debugLines[1], u"[09:05:03][PluginPandel]INFO:entry 1\r\n");
    EXPECT_EQ(ReadFile(place.root.Sub("C")), "not a directory");
}

// pandel-host with the real library under a machine root without its log directory, or one
// that cannot be used at all (no log, registry or named locks): the Download runs and reports.
class UnusableRoot : public EndToEnd {
protected:
    ProcessResult Run(const std::string& pandelRoot) {
        const std::string body = root_.Sub("body.xml");
        WriteFile(body, Download("<FileType>7</FileType><Command>upload</Command>"
                                 "<ScheduleId>42</ScheduleId><StartMode>2</StartMode>"));
        return RunProcess({Build("tools/pandel-host/pandel-host"), "--plugin",
                           Build("plugin/libPluginPandel.so"), "--agent-dir", agentDir_,
                           "PostCommand", "Download", body},
                          {{"PANDEL_ROOT", pandelRoot},
                           {"XPE_CLIENT_SCRIPT", root_.Sub("imaging.script")},
                           {"XPE_CLIENT_JOURNAL", root_.Sub("imaging.journal")},
                           {"LD_LIBRARY_PATH", Build("tools/xpe-client")}},
                          60000);
    }
};

TEST_F(UnusableRoot, DownloadStillRunsAndReports) {
    WriteFile(root_.Sub("a-file"), "x");
    const struct {
        const char* name;
        std::string root;
    } cases[] = {
        {"missing", root_.Sub("no/such/root")},
        {"a regular file", root_.Sub("a-file")},
    };
    std::size_t reports = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProcessResult run = Run(c.root);
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_FALSE(run.timedOut);
        ++reports;
        EXPECT_EQ(server_->WaitForRequests(reports), reports);
        EXPECT_EQ(Reports().back(), TaskStatus(42, 101));
    }
    // A missing root is made as the locks and the registry need it; a file stays a file.
    EXPECT_TRUE(std::filesystem::is_directory(root_.Sub("no/such/root/locks")));
    EXPECT_EQ(ReadFile(root_.Sub("a-file")), "x");
}

} // namespace
} // namespace pandel::test
