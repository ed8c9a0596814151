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
    if (dlopen(platform::SharedLibraryFileName(kImagingLibraryName).c_str(),
               RTLD_NOW | RTLD_NOLOAD) != nullptr)
        GTEST_SKIP() << "the stand-in is already loaded in this process";
    EXPECT_EQ(LoadImagingClient(), nullptr);

    platform::SharedLibrary standIn = platform::SharedLibrary::Open(PANDEL_XPE_CLIENT_PATH);
    ASSERT_TRUE(standIn.IsOpen());
    const ImagingClient* client = LoadImagingClient();
    ASSERT_NE(client, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(client->EnableAdapter), standIn.Symbol("EnableAdapter"));
}

TEST_F(StandInLibrary, UnscriptedCallsSucceedAndEachIsJournaledWithItsArguments) {
    const ImagingClient& c = *client_;
    std::int32_t count = 0;
    EXPECT_EQ(c.CheckFilesExistWhenUpload(), 0);
    EXPECT_EQ(c.CheckSupportNC(), 1);
    EXPECT_EQ(c.CheckUpdateUserExist(), 1);
    EXPECT_EQ(c.UploadByNC(u"10.1.2.3", u"9000", u"C", 1), 0);
    EXPECT_EQ(c.UploadImgWithAdapter(2, nullptr), 0);
    EXPECT_EQ(c.RestoreByNC(u"10.1.2.3", u"9000", 2), 0);
    EXPECT_EQ(c.RestoreImgWithAdapter(1), 0);
    EXPECT_EQ(c.GetAdapterCount(&count), 1);
    EXPECT_EQ(c.EnableAdapter(2, 0), 0);
    EXPECT_THAT(Journal(), ::testing::ElementsAre(
                               "CheckFilesExistWhenUpload", "CheckSupportNC",
                               "CheckUpdateUserExist", "UploadByNC \"10.1.2.3\" \"9000\" \"C\" 1",
                               "UploadImgWithAdapter 2 null", "RestoreByNC \"10.1.2.3\" \"9000\" 2",
                               "RestoreImgWithAdapter 1", "GetAdapterCount", "EnableAdapter 2 0"));
    // Every function reads the script under its own name.
    WriteFile(script_, "CheckFilesExistWhenUpload 3\nCheckSupportNC 0\nUploadByNC 7\n"
                       "RestoreImgWithAdapter -1\nEnableAdapter 9\n");
    EXPECT_EQ(c.CheckFilesExistWhenUpload(), 3);
    EXPECT_EQ(c.CheckSupportNC(), 0);
    EXPECT_EQ(c.CheckUpdateUserExist(), 1);
    EXPECT_EQ(c.UploadByNC(u"a", u"b", nullptr, 2), 7);
    EXPECT_EQ(c.RestoreImgWithAdapter(2), -1);
    EXPECT_EQ(c.EnableAdapter(2, 1), 9);
}

TEST_F(StandInLibrary, ScriptIsReadAfreshAndBadLinesAreIgnored) {
    std::int32_t count = 0;
    for (const auto& [script, result] : std::vector<std::pair<std::string, std::int32_t>>{
             {"GetAdapterCount 2\n", 2},
             {"GetAdapterCount 3\n", 3},
             {"GetAdapterCount\nGetAdapterCount two\nGetAdapterCount 2x\n", 1},
             {"GetAdapterCount 99999999999\ngetadaptercount 4\n", 1},
             {"GetAdapterCount fault nothing\n", 1},
             {"GetAdapterCount x\n  GetAdapterCount   -2147483648  \n", INT32_MIN},
         }) {
        WriteFile(script_, script);
        EXPECT_EQ(client_->GetAdapterCount(&count), result) << script;
    }
    EXPECT_EQ(count, 0); // the pointee is left as it was
    unsetenv("XPE_CLIENT_SCRIPT");
    unsetenv("XPE_CLIENT_JOURNAL");
    EXPECT_EQ(client_->CheckSupportNC(), 1);
    EXPECT_EQ(Journal().size(), 6u);
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
