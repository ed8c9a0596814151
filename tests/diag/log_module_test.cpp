// The log channels against real files in a temporary root, with the fake platform's registry,
// local time (09:05:03) and debugger output.
#include "diag/log_module.h"

#include "platform/wide_text.h"
#include "tests/diag/log_capture.h"
#include "tests/support/fake_platform.h"
#include "tests/support/temp_root.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace {

using pandel::CLogModule;
using pandel::test::FakePlatform;
using pandel::test::ReadFile;
using pandel::test::ScopedFakePlatform;
using pandel::test::TempRoot;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// A temporary root whose C:\runtime.log the fake platform maps into it.
struct LogRoot {
    LogRoot() { platform.fake.rootDirectory = root.path(); }
    std::string LogFile() const { return root.Sub("C/runtime.log"); }
    void SwitchOff(const std::u16string& channel) {
        platform.fake.registry[FakePlatform::RegistryPath(pandel::kLogSwitchKey, channel)] = {};
    }
    TempRoot root;
    ScopedFakePlatform platform;
};

TEST(LogChannel, EntriesHaveTheirExactBytes) {
    struct Row {
        const char* what;
        std::function<void(CLogModule&)> write;
        std::string bytes;
    } const rows[] = {
        {"plain text", [](CLogModule& log) { log.Write(u"CPandelPluginModule InitModule()"); },
         "[09:05:03][PluginPandel]INFO:CPandelPluginModule InitModule()\r\n"},
        {"empty message: a bare line end", [](CLogModule& log) { log.Write(u""); }, "\r\n"},
        {"format error: a bare line end", [](CLogModule& log) { log.Write(u"%s"); }, "\r\n"},
        {"arguments", [](CLogModule& log) { log.Write(u"%d|%s|%%", -12, u"x"); },
         "[09:05:03][PluginPandel]INFO:-12|x|%\r\n"},
        {"text beyond ASCII is UTF-8", [](CLogModule& log) { log.Write(u"caf\u00e9 \U0001F600"); },
         "[09:05:03][PluginPandel]INFO:caf\xC3\xA9 \xF0\x9F\x98\x80\r\n"},
        {"line ends inside the message stay as they are",
         [](CLogModule& log) { log.Write(u"a\nb"); }, "[09:05:03][PluginPandel]INFO:a\nb\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        LogRoot root;
        {
            CLogModule log(u"PluginPandel");
            row.write(log);
            EXPECT_EQ(ReadFile(root.LogFile()), row.bytes) << "flushed at once";
        }
        EXPECT_EQ(ReadFile(root.LogFile()), row.bytes);
        EXPECT_THAT(root.platform.fake.debugLines, IsEmpty());
    }
}

TEST(LogChannel, TheTimeIsTwoDigitsEach) {
    LogRoot root;
    root.platform.fake.localTime = {23, 0, 59};
    CLogModule log(u"DbgPlugin");
    log.Write(u"x");
    EXPECT_EQ(ReadFile(root.LogFile()), "[23:00:59][DbgPlugin]INFO:x\r\n");
}

TEST(LogChannel, TwoChannelsAppendToTheFileInWriteOrder) {
    LogRoot root;
    pandel::test::WriteFile(root.LogFile(), "earlier\r\n");
    CLogModule plugin(u"PluginPandel");
    CLogModule debug(u"DbgPlugin");
    plugin.Write(u"one");
    debug.Write(u"two");
    plugin.Write(u"three");
    debug.Write(u"");
    plugin.Write(u"four");
    EXPECT_EQ(ReadFile(root.LogFile()), "earlier\r\n"
                                        "[09:05:03][PluginPandel]INFO:one\r\n"
                                        "[09:05:03][DbgPlugin]INFO:two\r\n"
                                        "[09:05:03][PluginPandel]INFO:three\r\n"
                                        "\r\n"
                                        "[09:05:03][PluginPandel]INFO:four\r\n");
}

TEST(LogChannel, TheRegistrySwitchIsReadOnceAndItsExistenceTurnsTheChannelOff) {
    const std::string kBoth =
        "[09:05:03][PluginPandel]INFO:p\r\n[09:05:03][DbgPlugin]INFO:d\r\n\r\n";
    struct Row {
        const char* what;
        std::vector<std::u16string> switchedOff;
        int failRegistryCall;
        std::string bytes; // the file afterwards; "-" for no file
    } const rows[] = {
        {"no switch", {}, 0, kBoth},
        {"PluginPandel off", {u"PluginPandel"}, 0, "[09:05:03][DbgPlugin]INFO:d\r\n\r\n"},
        {"both off: no file at all", {u"PluginPandel", u"DbgPlugin"}, 0, "-"},
        {"another value does not count", {u"Plugin", u"PluginPandel2"}, 0, kBoth},
        {"registry unreadable: on", {u"PluginPandel"}, 1, kBoth},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        LogRoot root;
        for (const std::u16string& name : row.switchedOff)
            root.SwitchOff(name);
        root.platform.fake.failRegistryCall = row.failRegistryCall;
        CLogModule plugin(u"PluginPandel");
        CLogModule debug(u"DbgPlugin");
        plugin.Write(u"p");
        debug.Write(u"d");
        root.SwitchOff(u"DbgPlugin"); // too late: the switch counts only at construction
        debug.Write(u"");
        if (row.bytes == "-")
            EXPECT_FALSE(std::filesystem::exists(root.LogFile()));
        else
            EXPECT_EQ(ReadFile(root.LogFile()), row.bytes);
        EXPECT_THAT(root.platform.fake.trace,
                    ElementsAre("RegistryValueExists Software\\Orvane\\LogModule PluginPandel",
                                "RegistryValueExists Software\\Orvane\\LogModule DbgPlugin"));
        EXPECT_THAT(root.platform.fake.debugLines, IsEmpty());
    }
}

TEST(LogChannel, WithoutItsFileTheChannelWritesToTheDebuggerOutput) {
    LogRoot root;
    root.platform.fake.rootDirectory = root.root.Sub("missing");
    CLogModule log(u"PluginPandel");
    log.Write(u"x %d", 1);
    log.Write(u"");
    CLogModule off(u"DbgPlugin");
    EXPECT_THAT(root.platform.fake.debugLines,
                ElementsAre(u"Cannot open log file:" + platform::Utf8ToUtf16(root.root.path()) +
                                u"/missing/C/runtime.log, redirect the log using "
                                u"OutputDebugString().\r\n",
                            u"[09:05:03][PluginPandel]INFO:x 1\r\n", u"\r\n",
                            u"Cannot open log file:" + platform::Utf8ToUtf16(root.root.path()) +
                                u"/missing/C/runtime.log, redirect the log using "
                                u"OutputDebugString().\r\n"));
    EXPECT_FALSE(std::filesystem::exists(root.root.Sub("missing")));
}

TEST(LogChannel, ASwitchedOffChannelWritesNowhere) {
    LogRoot root;
    root.platform.fake.rootDirectory = root.root.Sub("missing");
    root.SwitchOff(u"PluginPandel");
    CLogModule log(u"PluginPandel");
    log.Write(u"x");
    EXPECT_THAT(root.platform.fake.debugLines, IsEmpty());
}

TEST(LogChannel, FormatStringIsEmptyForNoFormatOrNothingFormatted) {
    EXPECT_EQ(CLogModule::FormatString(nullptr), u"");
    EXPECT_EQ(CLogModule::FormatString(u"%d"), u"");
    EXPECT_EQ(CLogModule::FormatString(u"%s=%d", u"n", 5), u"n=5");
}

TEST(ErrorLog, TextIsCutTo1023UnitsAndWrittenVerbatim) {
    pandel::test::DbgLogCapture log;
    if (!log.Available())
        GTEST_SKIP() << "DbgLog has no file: run under CTest (PANDEL_ROOT)";
    std::u16string longText(1500, u'a');
    longText[1022] = u'b';
    pandel::WriteErrorLog(u"%s", longText);
    pandel::WriteErrorLog(u"100%% of %s", u"50%d %s %%");
    std::string appended = log.Appended();
    EXPECT_THAT(appended, HasSubstr(log.Entry(longText.substr(0, 1023))));
    EXPECT_THAT(appended, HasSubstr(log.Entry(u"100% of 50%d %s %%")));
}

} // namespace
