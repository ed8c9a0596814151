// The log channels against real files in a temporary root, with the fake platform's registry,
// local time (09:05:03) and debugger output.
#include "diag/log_module.h"

#include "harness/fake_platform.h"
#include "platform/wide_text.h"
#include "tests/diag/log_capture.h"
#include "tests/support/temp_root.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

using pandel::CLogModule;
using pandel::test::ReadFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// A temporary root that the fake platform maps C:\runtime.log into.
struct LogRoot {
    LogRoot() { platform.fake.rootDirectory = root.path(); }
    std::string LogFile() const { return root.Sub("C/runtime.log"); }
    void SwitchOff(const std::u16string& channel) {
        platform.fake.registry[pandel::test::FakePlatform::RegistryPath(pandel::kLogSwitchKey,
                                                                        channel)] = {};
    }
    pandel::test::TempRoot root;
    pandel::test::ScopedFakePlatform platform;
};

TEST(LogChannel, EntriesAppendInWriteOrderAcrossChannelsWithTheirExactBytes) {
    const std::string expected = "earlier\r\n"
                                 "[09:05:03][PluginPandel]INFO:CPandelPluginModule "
                                 "InitModule()\r\n"
                                 "[09:05:03][DbgPlugin]INFO:-12|x|%|07\r\n"
                                 "\r\n"
                                 "\r\n"
                                 "[23:00:59][PluginPandel]INFO:caf\xC3\xA9\nnext\r\n";
    LogRoot root;
    pandel::test::WriteFile(root.LogFile(), "earlier\r\n");
    {
        CLogModule plugin(u"PluginPandel");
        CLogModule debug(u"DbgPlugin");
        plugin.Write(u"CPandelPluginModule InitModule()");
        debug.Write(u"%d|%s|%%|%02d", -12, u"x", 7);
        plugin.Write(u"");  // an empty message is a bare line end
        debug.Write(u"%s"); // so is a format error
        root.platform.fake.localTime = {23, 0, 59};
        plugin.Write(u"caf\u00e9\nnext");
        EXPECT_EQ(ReadFile(root.LogFile()), expected) << "each entry flushed at once";
    }
    EXPECT_EQ(ReadFile(root.LogFile()), expected);
    EXPECT_THAT(root.platform.fake.debugLines, IsEmpty());
}

TEST(LogChannel, TheRegistrySwitchIsReadOnceAndItsExistenceTurnsTheChannelOff) {
    const std::string kBoth =
        "[09:05:03][PluginPandel]INFO:p\r\n[09:05:03][DbgPlugin]INFO:d\r\n\r\n";
    struct Row {
        const char* what;
        std::vector<std::u16string> switchedOff;
        bool registryUnreadable;
        std::string bytes; // the file afterwards; "-" for no file
    } const rows[] = {
        {"no switch", {}, false, kBoth},
        {"PluginPandel off", {u"PluginPandel"}, false, "[09:05:03][DbgPlugin]INFO:d\r\n\r\n"},
        {"both off: no file at all", {u"PluginPandel", u"DbgPlugin"}, false, "-"},
        {"other values do not count", {u"Plugin", u"PluginPandel2"}, false, kBoth},
        {"registry unreadable: on", {u"PluginPandel", u"DbgPlugin"}, true, kBoth},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        LogRoot root;
        for (const std::u16string& name : row.switchedOff)
            root.SwitchOff(name);
        if (row.registryUnreadable)
            root.platform.faults.RegistryValueExists.FailCall(1, /*forGood=*/true);
        CLogModule plugin(u"PluginPandel");
        CLogModule debug(u"DbgPlugin");
        plugin.Write(u"p");
        debug.Write(u"d");
        root.SwitchOff(u"DbgPlugin"); // too late: the switch counts at construction only
        debug.Write(u"");
        if (row.bytes == "-")
            EXPECT_FALSE(std::filesystem::exists(root.LogFile()));
        else
            EXPECT_EQ(ReadFile(root.LogFile()), row.bytes);
        EXPECT_EQ(root.platform.faults.RegistryValueExists.Calls(), 2);
        if (row.registryUnreadable)
            EXPECT_THAT(root.platform.fake.trace, IsEmpty()) << "no check reached the registry";
        else
            EXPECT_THAT(root.platform.fake.trace,
                        ElementsAre("RegistryValueExists Software\\Orvane\\LogModule PluginPandel",
                                    "RegistryValueExists Software\\Orvane\\LogModule DbgPlugin"));
        EXPECT_THAT(root.platform.fake.debugLines, IsEmpty());
    }
}

TEST(LogChannel, TheRealRegistrysValueFileTurnsTheChannelOff) {
    pandel::test::TempRoot root;
    pandel::test::WriteFile(
        root.Sub("registry/HKEY_LOCAL_MACHINE/Software/Orvane/LogModule/PluginPandel"), "");
    CLogModule plugin(u"PluginPandel");
    CLogModule debug(u"DbgPlugin");
    plugin.Write(u"p");
    debug.Write(u"d");
    EXPECT_THAT(ReadFile(root.Sub("C/runtime.log")),
                ::testing::MatchesRegex("\\[[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\]"
                                        "\\[DbgPlugin\\]INFO:d\r\n"));
}

TEST(LogChannel, WithoutItsFileAChannelWritesToTheDebuggerOutput) {
    LogRoot root;
    root.platform.fake.rootDirectory = root.root.Sub("missing");
    root.SwitchOff(u"DbgPlugin"); // a channel that is off writes nowhere at all
    CLogModule off(u"DbgPlugin");
    off.Write(u"never");
    CLogModule log(u"PluginPandel");
    log.Write(u"x %d", 1);
    log.Write(u"");
    EXPECT_THAT(root.platform.fake.debugLines,
                ElementsAre(u"Cannot open log file:" +
                                pandel::platform::Utf8ToUtf16(root.root.path()) +
                                u"/missing/C/runtime.log, redirect the log using "
                                u"OutputDebugString().\r\n",
                            u"[09:05:03][PluginPandel]INFO:x 1\r\n", u"\r\n"));
}

TEST(ErrorLog, TextIsCutTo1023UnitsAndWrittenVerbatim) {
    pandel::test::DbgLogCapture log;
    std::u16string longText(1500, u'a');
    longText[1022] = u'b';
    pandel::WriteErrorLog(u"%s", longText);
    pandel::WriteErrorLog(u"100%% of %s", u"50%d %s %%");
    std::string appended = log.Appended();
    EXPECT_THAT(appended, HasSubstr(log.Entry(longText.substr(0, 1023))));
    EXPECT_THAT(appended, HasSubstr(log.Entry(u"100% of 50%d %s %%")));
}

} // namespace
