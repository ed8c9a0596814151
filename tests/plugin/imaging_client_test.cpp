// The imaging library's import by name, and the stand-in library's script and journal, loaded
// as the module loads it.
#include "plugin/imaging_client.h"

#include "platform/shared_library.h"
#include "tests/support/temp_root.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <dlfcn.h>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace pandel {
namespace {

using test::ReadFile;
using test::WriteFile;

// The module finds the library by its file name; the test makes it loaded first by full path.
class StandInLibrary : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!preloaded().IsOpen())
            preloaded() = platform::SharedLibrary::Open(PANDEL_XPE_CLIENT_PATH);
    }
    static platform::SharedLibrary& preloaded() {
        static platform::SharedLibrary library;
        return library;
    }

    void SetUp() override {
        ASSERT_TRUE(preloaded().IsOpen()) << platform::SharedLibrary::Error();
        client_ = LoadImagingClient();
        ASSERT_NE(client_, nullptr);
        script_ = root_.Sub("imaging.script");
        journal_ = root_.Sub("imaging.journal");
        setenv("XPE_CLIENT_SCRIPT", script_.c_str(), 1);
        setenv("XPE_CLIENT_JOURNAL", journal_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("XPE_CLIENT_SCRIPT");
        unsetenv("XPE_CLIENT_JOURNAL");
    }

    std::vector<std::string> Journal() const {
        std::vector<std::string> lines;
        std::istringstream in(ReadFile(journal_));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    test::TempRoot root_;
    const ImagingClient* client_ = nullptr;
    std::string script_;
    std::string journal_;
};

TEST(ImagingImport, MissingLibraryIsNullAndTriedAgain) {
    if (dlopen(kImagingLibraryName, RTLD_NOW | RTLD_NOLOAD) != nullptr)
        GTEST_SKIP() << "the stand-in is already loaded in this process";
    EXPECT_EQ(LoadImagingClient(), nullptr);

    platform::SharedLibrary standIn = platform::SharedLibrary::Open(PANDEL_XPE_CLIENT_PATH);
    ASSERT_TRUE(standIn.IsOpen());
    const ImagingClient* client = LoadImagingClient();
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(client->EnableAdapter), standIn.Symbol("EnableAdapter"));
    EXPECT_EQ(reinterpret_cast<void*>(client->CheckFilesExistWhenUpload),
              standIn.Symbol("CheckFilesExistWhenUpload"));
}

struct CallCase {
    const char* label;
    std::function<std::int32_t(const ImagingClient&)> call;
    std::string journalLine;
    std::int32_t unscripted;
};

const char16_t kAddr[] = u"10.1.2.3";
const char16_t kPort[] = u"9000";
const char16_t kScope[] = u"C";

const std::vector<CallCase>& Calls() {
    static const std::vector<CallCase> calls = {
        {"CheckFilesExistWhenUpload", [](auto& c) { return c.CheckFilesExistWhenUpload(); },
         "CheckFilesExistWhenUpload", 0},
        {"CheckSupportNC", [](auto& c) { return c.CheckSupportNC(); }, "CheckSupportNC", 1},
        {"CheckUpdateUserExist", [](auto& c) { return c.CheckUpdateUserExist(); },
         "CheckUpdateUserExist", 1},
        {"UploadByNC", [](auto& c) { return c.UploadByNC(kAddr, kPort, kScope, 1); },
         "UploadByNC \"10.1.2.3\" \"9000\" \"C\" 1", 0},
        {"UploadImgWithAdapter", [](auto& c) { return c.UploadImgWithAdapter(2, nullptr); },
         "UploadImgWithAdapter 2 null", 0},
        {"RestoreByNC", [](auto& c) { return c.RestoreByNC(kAddr, kPort, 2); },
         "RestoreByNC \"10.1.2.3\" \"9000\" 2", 0},
        {"RestoreImgWithAdapter", [](auto& c) { return c.RestoreImgWithAdapter(1); },
         "RestoreImgWithAdapter 1", 0},
        {"GetAdapterCount",
         [](auto& c) {
             std::int32_t count = 0;
             return c.GetAdapterCount(&count);
         },
         "GetAdapterCount", 1},
        {"EnableAdapter", [](auto& c) { return c.EnableAdapter(2, 0); }, "EnableAdapter 2 0", 0},
    };
    return calls;
}

TEST_F(StandInLibrary, UnscriptedCallsSucceedAndScriptedOnesAnswerAsScripted) {
    for (const CallCase& c : Calls()) {
        WriteFile(script_, "");
        EXPECT_EQ(c.call(*client_), c.unscripted) << c.label;
        WriteFile(script_, std::string("Other 5\n") + c.label + " -7\n" + c.label + " 9\n");
        EXPECT_EQ(c.call(*client_), -7) << c.label;
    }
    std::vector<std::string> expected;
    for (const CallCase& c : Calls()) {
        expected.push_back(c.journalLine);
        expected.push_back(c.journalLine);
    }
    EXPECT_EQ(Journal(), expected);
}

TEST_F(StandInLibrary, ScriptIsReadAfreshAndBadLinesAreIgnored) {
    WriteFile(script_, "GetAdapterCount 2\n");
    std::int32_t count = 0;
    EXPECT_EQ(client_->GetAdapterCount(&count), 2);
    EXPECT_EQ(count, 0); // the pointee is left as it was
    WriteFile(script_, "GetAdapterCount 3\n");
    EXPECT_EQ(client_->GetAdapterCount(&count), 3);

    for (const char* bad : {"GetAdapterCount\n", "GetAdapterCount two\n", "GetAdapterCount 2x\n",
                            "GetAdapterCount 99999999999\n", "GetAdapterCount fault nothing\n",
                            "getadaptercount 4\n"}) {
        WriteFile(script_, bad);
        EXPECT_EQ(client_->GetAdapterCount(&count), 1) << bad;
    }
    WriteFile(script_, "GetAdapterCount x\n  GetAdapterCount   -2147483648  \n");
    EXPECT_EQ(client_->GetAdapterCount(&count), INT32_MIN);

    unsetenv("XPE_CLIENT_SCRIPT");
    EXPECT_EQ(client_->CheckSupportNC(), 1);
    unsetenv("XPE_CLIENT_JOURNAL");
    EXPECT_EQ(client_->CheckSupportNC(), 1);
    EXPECT_EQ(Journal().size(), 10u);
}

TEST_F(StandInLibrary, JournalQuotesTextAsUtf8WithEscapes) {
    const char16_t addr[] = u"caf\u00e9 \U0001F600";
    const char16_t port[] = u"a\"b\\c\nd\x01";
    EXPECT_EQ(client_->UploadByNC(addr, port, nullptr, -1), 0);
    EXPECT_EQ(client_->RestoreByNC(u"", nullptr, 2), 0);
    EXPECT_EQ(ReadFile(journal_), "UploadByNC \"caf\xC3\xA9 \xF0\x9F\x98\x80\" "
                                  "\"a\\\"b\\\\c\\nd\\x01\" null -1\n"
                                  "RestoreByNC \"\" null 2\n");
}

struct FaultCase {
    const char* kind;
    int signal;
};

class StandInFault : public StandInLibrary, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(StandInFault, ScriptedFaultIsARealProcessorFaultAfterTheJournalLine) {
    WriteFile(script_, std::string("RestoreImgWithAdapter fault ") + GetParam().kind + "\n");
    // The default action in the child, whatever handler a sanitizer runtime has put in place.
    EXPECT_EXIT(
        {
            std::signal(GetParam().signal, SIG_DFL);
            client_->RestoreImgWithAdapter(2);
        },
        ::testing::KilledBySignal(GetParam().signal), "");
    EXPECT_EQ(Journal(), std::vector<std::string>{"RestoreImgWithAdapter 2"});
}

INSTANTIATE_TEST_SUITE_P(Kinds, StandInFault,
                         ::testing::Values(FaultCase{"segv", SIGSEGV}, FaultCase{"fpe", SIGFPE},
                                           FaultCase{"ill", SIGILL}),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                             return std::string(info.param.kind);
                         });

} // namespace
} // namespace pandel
