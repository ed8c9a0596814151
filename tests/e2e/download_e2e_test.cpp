// A Download command from the host's command object to the last report and imaging call, through
// the real library, a real host process and a real socket.
#include "harness/agent_xml.h"
#include "tests/e2e/e2e_fixture.h"

#include <gmock/gmock.h>

namespace pandel::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

const std::string kAdapterUpload =
    "<FileType>7</FileType><Command>upload</Command><ScheduleId>42</ScheduleId>"
    "<BackupType>0</BackupType><StartMode>2</StartMode>"
    "<ServerAddr>10.1.2.3</ServerAddr><ServerPort>9000</ServerPort>";

TEST_F(EndToEnd, StartedTaskSendsOneReportAndCallsTheLibraryInOrder) {
    ProcessResult run = Post("Download", Download(kAdapterUpload));
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("PostCommand Download"));
    EXPECT_THAT(Reports(), ElementsAre(TaskStatus(42, 101)));
    EXPECT_THAT(Journal(), ElementsAre("CheckFilesExistWhenUpload", "CheckUpdateUserExist",
                                       "GetAdapterCount", "UploadImgWithAdapter 1 \"C\""));
}

TEST_F(EndToEnd, FailedTaskSendsStartedThenFailed) {
    ScriptImaging("UploadImgWithAdapter 7\n");
    ASSERT_EQ(Post("Download", Download(kAdapterUpload)).exitCode, 0);
    EXPECT_THAT(Reports(), ElementsAre(TaskStatus(42, 101), TaskStatus(42, -50)));
}

struct Refusal {
    const char* what;
    std::string fields;
    std::string script;
    std::vector<std::string> journal; // the library calls made before the refusal
};

class Refusals : public EndToEnd, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refusals, SendOneFailedReportAndStopTheChecks) {
    ScriptImaging(GetParam().script);
    ASSERT_EQ(Post("Download", Download(GetParam().fields)).exitCode, 0);
    EXPECT_THAT(Reports(), ElementsAre(TaskStatus(5, -50)));
    EXPECT_THAT(Journal(), ElementsAreArray(GetParam().journal));
}

const std::string kHead = "<FileType>7</FileType><ScheduleId>5</ScheduleId>";

INSTANTIATE_TEST_SUITE_P(
    CheckOrder, Refusals,
    ::testing::Values(
        Refusal{"capitalised command",
                kHead + "<Command>Upload</Command><StartMode>2</StartMode>",
                "",
                {}},
        Refusal{"no command", kHead + "<StartMode>2</StartMode>", "", {}},
        Refusal{
            "start mode 1", kHead + "<Command>upload</Command><StartMode>1</StartMode>", "", {}},
        Refusal{
            "start mode 3", kHead + "<Command>restore</Command><StartMode>3</StartMode>", "", {}},
        Refusal{"files missing",
                kHead + "<Command>upload</Command><StartMode>2</StartMode>",
                "CheckFilesExistWhenUpload 1\n",
                {"CheckFilesExistWhenUpload"}},
        Refusal{"no NC support",
                kHead + "<Command>upload</Command><StartMode>0</StartMode>",
                "CheckSupportNC 0\n",
                {"CheckFilesExistWhenUpload", "CheckSupportNC"}},
        Refusal{"no update user (NC)",
                kHead + "<Command>restore</Command><StartMode>0</StartMode>",
                "CheckUpdateUserExist 0\n",
                {"CheckFilesExistWhenUpload", "CheckSupportNC", "CheckUpdateUserExist"}},
        Refusal{"no update user (adapter)",
                kHead + "<Command>restore</Command><StartMode>2</StartMode>",
                "CheckUpdateUserExist 0\n",
                {"CheckFilesExistWhenUpload", "CheckUpdateUserExist"}},
        Refusal{"server address over 99 characters (NC)",
                kHead + "<Command>upload</Command><StartMode>0</StartMode><ServerAddr>" +
                    std::string(100, 'a') + "</ServerAddr>",
                "",
                {}}),
    [](const auto& info) {
        std::string name;
        for (char c : std::string(info.param.what))
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

struct ModeCall {
    const char* what;
    std::string fields;
    std::string call;
};

class ModeTable : public EndToEnd, public ::testing::WithParamInterface<ModeCall> {};

TEST_P(ModeTable, PassesTheModesArguments) {
    ASSERT_EQ(Post("Download", Download(kHead + GetParam().fields)).exitCode, 0);
    std::vector<std::string> journal = Journal();
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.back(), GetParam().call);
    EXPECT_THAT(Reports(), ElementsAre(TaskStatus(5, 101)));
}

const std::string kServer = "<ServerAddr>10.1.2.3</ServerAddr><ServerPort>9000</ServerPort>";

INSTANTIATE_TEST_SUITE_P(
    Modes, ModeTable,
    ::testing::Values(
        ModeCall{"nc_upload_whole_disk",
                 "<Command>upload</Command><StartMode>0</StartMode><BackupType>0</BackupType>" +
                     kServer,
                 "UploadByNC \"10.1.2.3\" \"9000\" \"C\" 1"},
        ModeCall{"nc_upload_backup_type_1",
                 "<Command>upload</Command><StartMode>0</StartMode><BackupType>1</BackupType>" +
                     kServer,
                 "UploadByNC \"10.1.2.3\" \"9000\" null 1"},
        ModeCall{"adapter_upload_backup_type_minus_1",
                 "<Command>upload</Command><StartMode>2</StartMode><BackupType>-1</BackupType>" +
                     kServer,
                 "UploadImgWithAdapter 1 null"},
        ModeCall{"nc_restore", "<Command>restore</Command><StartMode>0</StartMode>" + kServer,
                 "RestoreByNC \"10.1.2.3\" \"9000\" 1"},
        ModeCall{"adapter_restore_ignores_backup_type_and_server",
                 "<Command>restore</Command><StartMode>2</StartMode><BackupType>0</BackupType>" +
                     kServer,
                 "RestoreImgWithAdapter 1"},
        // Without a StartMode element the mode reads as 0: NC mode.
        ModeCall{"no_start_mode_is_nc", "<Command>restore</Command>" + kServer,
                 "RestoreByNC \"10.1.2.3\" \"9000\" 1"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(EndToEnd, ScheduleIdIsReadAsANumber) {
    ASSERT_EQ(Post("Download", Download("<FileType>7</FileType><Command>upload</Command>"
                                        "<ScheduleId>0042</ScheduleId><StartMode>2</StartMode>"))
                  .exitCode,
              0);
    EXPECT_THAT(Reports(), ElementsAre(TaskStatus(42, 101)));
}

TEST_F(EndToEnd, DroppedDocumentsSendNothingAndCallNothing) {
    const std::string bodies[] = {
        Download("<FileType>6</FileType><Command>upload</Command><StartMode>2</StartMode>"),
        Download("<Command>upload</Command><StartMode>2</StartMode>"),
        "not xml at all",
        "",
    };
    for (const std::string& body : bodies) {
        ASSERT_EQ(Post("Download", body).exitCode, 0) << body;
    }
    EXPECT_THAT(server_->Requests(), IsEmpty());
    EXPECT_THAT(Journal(), IsEmpty());
}

TEST_F(EndToEnd, OtherCommandNamesAreNotRead) {
    for (const char* name : {"download", "DOWNLOAD", "Download ", "Upload"}) {
        ProcessResult run = Post(name, Download(kAdapterUpload));
        ASSERT_EQ(run.exitCode, 0) << run.err;
        // Size and name are asked for, the body is never read.
        EXPECT_THAT(run.out, HasSubstr("host: GetSize"));
        EXPECT_THAT(run.out, HasSubstr("host: GetName"));
        EXPECT_THAT(run.out, Not(HasSubstr("host: ReadBody"))) << name;
    }
    EXPECT_THAT(server_->Requests(), IsEmpty());
    EXPECT_THAT(Journal(), IsEmpty());
}

TEST_F(EndToEnd, HostCallsComeInTheirOrder) {
    ProcessResult run = Post("Download", Download(kAdapterUpload));
    std::size_t body = run.out.find("host: GetBody\n");
    std::size_t info = run.out.find("host: GetBodyInfo\n");
    std::size_t size = run.out.find("host: GetSize");
    std::size_t name = run.out.find("host: GetName\n");
    std::size_t read = run.out.find("host: ReadBody");
    ASSERT_NE(read, std::string::npos) << run.out;
    EXPECT_LT(body, info);
    EXPECT_LT(info, size);
    EXPECT_LT(size, name);
    EXPECT_LT(name, read);
}

TEST_F(EndToEnd, FaultInTheImagingCallReachesTheHostAsErrObj) {
    ScriptImaging("UploadImgWithAdapter fault segv\n");
    ProcessResult run = Post("Download", Download(kAdapterUpload));
    EXPECT_EQ(run.exitCode, 3) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("ErrObj code=-1073741819 (0xC0000005) "
                                   "description=EXCEPTION_ACCESS_VIOLATION"));
    // The 101 report went out before the fault; nothing after it.
    EXPECT_THAT(Reports(), ElementsAre(TaskStatus(42, 101)));
}

TEST_F(EndToEnd, DivisionByZeroInACheckReachesTheHostAsErrObj) {
    ScriptImaging("CheckUpdateUserExist fault fpe\n");
    ProcessResult run = Post("Download", Download(kAdapterUpload));
    EXPECT_EQ(run.exitCode, 3) << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr("(0xC0000094) description=EXCEPTION_INT_DIVIDE_BY_ZERO"));
    EXPECT_THAT(server_->Requests(), IsEmpty());
}

TEST_F(EndToEnd, UnreadableServiceUrlSendsNothing) {
    WriteFile(agentDir_ + "/Conf/agent.xml", "<Root><Server><Ip>127.0.0.1</Ip></Server></Root>");
    ASSERT_EQ(Post("Download", Download(kAdapterUpload)).exitCode, 0);
    EXPECT_THAT(server_->Requests(), IsEmpty());
    // The task itself still runs.
    EXPECT_EQ(Journal().back(), "UploadImgWithAdapter 1 \"C\"");
}

TEST_F(EndToEnd, ServiceUrlTooLongForItsBufferIsNotSentCut) {
    // 259 bytes fit with the terminator; one more and the URL is not sent at all.
    const std::string prefix = "http://127.0.0.1:" + std::to_string(server_->port()) + "/";
    for (std::size_t length : {259u, 260u}) {
        std::string app(length - prefix.size() - std::string("/DeviceConfig").size(), 'a');
        ASSERT_TRUE(WriteAgentXml(agentDir_, {"127.0.0.1", std::to_string(server_->port()), app}));
        ASSERT_EQ(Post("Download", Download(kAdapterUpload)).exitCode, 0);
    }
    std::vector<std::string> requests = server_->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(ElementText(requests[0], "To").size(), 259u);
}

TEST_F(EndToEnd, TwoAdaptersProbeWithTheSecondOffThenRunOnTheFirst) {
    ScriptImaging("GetAdapterCount 2\n");
    ASSERT_EQ(Post("Download", Download(kAdapterUpload)).exitCode, 0);
    std::vector<std::string> reports = Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], TaskStatus(42, 101));
    EXPECT_THAT(reports[1], ::testing::MatchesRegex("<Root ID=\"[0-9A-F]{12}\"/>"));
    EXPECT_THAT(Journal(), ElementsAre("CheckFilesExistWhenUpload", "CheckUpdateUserExist",
                                       "GetAdapterCount", "EnableAdapter 2 0", "EnableAdapter 2 1",
                                       "UploadImgWithAdapter 1 \"C\""));
}

} // namespace
} // namespace pandel::test
