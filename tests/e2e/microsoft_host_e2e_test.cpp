// PluginPandel.dll driven by hosts of Microsoft's ABI (tests/win32/msvc_host: built /EHs, /EHa,
// without run-time type information, and against the debug runtime's DLLs) under Wine: the
// command's name read from the host's std::wstring, faults in the module and in the imaging
// library caught as the host's ErrObj however it catches, the heaps as they were afterwards.
#include "tests/e2e/e2e_fixture.h"

#include <gmock/gmock.h>

#include <regex>
#include <string>
#include <vector>

namespace pandel::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const char* const kAdapterUpload = "<FileType>7</FileType><Command>upload</Command>"
                                   "<ScheduleId>5</ScheduleId><StartMode>2</StartMode>";
const char* const kAccessViolation =
    "ErrObj code=-1073741819 (0xC0000005) description=EXCEPTION_ACCESS_VIOLATION";
const char* const kDivideByZero =
    "ErrObj code=-1073741676 (0xC0000094) description=EXCEPTION_INT_DIVIDE_BY_ZERO";
constexpr int kRounds = 5;

class MicrosoftHost : public EndToEnd {
protected:
    void SetUp() override {
        EndToEnd::SetUp();
        if (!UnderWine())
            GTEST_SKIP() << "hosts of Microsoft's ABI run under Wine only";
    }

    ProcessResult RunHost(const std::string& host, const std::vector<std::string>& options,
                          const std::string& name, const std::string& body) {
        const std::string file = root_.Sub("body.xml");
        WriteFile(file, body);
        std::vector<std::string> calls = options;
        calls.insert(calls.end(), {"PostCommand", name, file});
        const std::string program = "tests/win32/msvc_host/" + host + ".exe";
        setenv("PANDEL_E2E_HOST", program.c_str(), 1);
        ProcessResult run = Host(calls);
        unsetenv("PANDEL_E2E_HOST");
        return run;
    }

    // "heap: host valid, N blocks left; module valid, M blocks left" with neither grown.
    static void ExpectHeapsAsTheyWere(const std::string& out) {
        std::smatch found;
        const std::regex heap(R"(heap: host valid, (-?\d+) blocks left; module valid, (-?\d+) )");
        ASSERT_TRUE(std::regex_search(out, found, heap)) << out;
        EXPECT_LE(std::stoi(found[1]), 0) << "the host's heap grew: blocks never freed";
        EXPECT_LE(std::stoi(found[2]), 0) << "the module's heap grew: destructors not run";
    }
};

// Each kind of host, each way of catching, each place of the fault: an ErrObj with the fault's
// code and name, its Report in the log, the module's frames unwound (its heap as it was after
// the first round) and the host's copies freed by the host's runtime.
TEST_F(MicrosoftHost, FaultsReachEveryKindOfCatchAsErrObj) {
    struct Fault {
        const char* where;
        std::string imaging; // the stand-in's script
        std::vector<std::string> options;
        const char* expected;
    };
    const Fault faults[] = {
        {"imaging library, access violation",
         "UploadImgWithAdapter fault segv",
         {},
         kAccessViolation},
        {"imaging library, division by zero",
         "CheckFilesExistWhenUpload fault fpe",
         {},
         kDivideByZero},
        {"the module itself", "", {"--bad-body-info"}, kAccessViolation},
    };
    for (const char* host : {"msvc-host", "msvc-host-eha", "msvc-host-nortti"}) {
        for (const char* how : {"ref", "const", "value"}) {
            for (const Fault& fault : faults) {
                SCOPED_TRACE(std::string(host) + ", catch " + how + ", " + fault.where);
                ScriptImaging(fault.imaging);
                std::vector<std::string> options = {
                    "--catch", how, "--repeat", std::to_string(kRounds), "--heap", "--report"};
                options.insert(options.end(), fault.options.begin(), fault.options.end());
                LogLock lock;
                WriteFile(LogPath(), "");
                const ProcessResult run =
                    RunHost(host, options, "Download", Download(kAdapterUpload));
                EXPECT_EQ(run.exitCode, 3) << run.out << run.err;
                std::size_t caught = 0;
                for (std::size_t at = run.out.find(fault.expected); at != std::string::npos;
                     at = run.out.find(fault.expected, at + 1))
                    ++caught;
                EXPECT_EQ(caught, static_cast<std::size_t>(kRounds)) << run.out;
                ExpectHeapsAsTheyWere(run.out);
                // Report(0) on the host's object (its own copy, for a catch by value).
                if (std::string(how) != "const") {
                    EXPECT_THAT(ReadFile(LogPath()),
                                HasSubstr("]INFO:Err occur, Code:" +
                                          std::string(fault.expected).substr(12, 11)));
                }
            }
        }
    }
}

// The name read from the host's std::wstring: held inside (1 character), at the inner buffer's
// edge (8: "Download", which then runs), and in a block of its own past 4096 bytes, which the
// module gives back to the host's runtime as the host's allocator would.
TEST_F(MicrosoftHost, CommandNamesOfEveryLengthAreReadAndFreed) {
    const struct {
        std::string name;
        std::size_t reports;
    } names[] = {{"D", 0}, {"Download", kRounds}, {std::string(4000, 'D'), 0}};
    std::size_t before = 0;
    for (const auto& c : names) {
        SCOPED_TRACE(c.name.size());
        const ProcessResult run =
            RunHost("msvc-host", {"--repeat", std::to_string(kRounds), "--heap"}, c.name,
                    Download(kAdapterUpload));
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_THAT(run.out, HasSubstr("host: GetName"));
        ExpectHeapsAsTheyWere(run.out);
        EXPECT_EQ(server_->WaitForRequests(before + c.reports), before + c.reports);
        before += c.reports;
    }
    EXPECT_EQ(Reports().back(), TaskStatus(5, 101));
}

// A host of the debug runtime keeps other strings: it is told so and asked nothing.
TEST_F(MicrosoftHost, DebugRuntimeHostIsRefusedAndAskedNothing) {
    const ProcessResult run = RunHost("msvc-host-debug", {}, "Download", Download(kAdapterUpload));
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_THAT(run.err, HasSubstr("PluginPandel: PostCommand refused: the host was built with "
                                   "Microsoft's debug C++ runtime (vcruntime140d.dll)"));
    EXPECT_THAT(run.out, Not(HasSubstr("host: GetBody")));
    EXPECT_THAT(run.out, HasSubstr("-> 0"));
    EXPECT_TRUE(server_->Requests().empty());
}

// An ErrObj the host does not catch ends it, as any uncaught exception does.
TEST_F(MicrosoftHost, UncaughtErrObjEndsTheHost) {
    ScriptImaging("UploadImgWithAdapter fault segv");
    const ProcessResult run =
        RunHost("msvc-host", {"--catch", "none"}, "Download", Download(kAdapterUpload));
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.exitCode, 3);
    EXPECT_THAT(run.out, Not(HasSubstr("PostCommand Download")));
    EXPECT_EQ(server_->WaitForRequests(1), 1u); // the task had started
}

} // namespace
} // namespace pandel::test
