// The module and devcfg-server against real SOAP stacks, each loading the shipped WSDL unchanged:
// PHP's SoapServer, spyne and node-soap serve the module's reports; zeep, PHP's SoapClient and
// node-soap call devcfg-server. Every test runs in a network namespace of its own.
#include "harness/fake_platform.h"
#include "report/report_sender.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/interop/interop_stage.h"
#include "tests/report/report_test_support.h"

#include <gmock/gmock.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <sstream>

namespace pandel::test {
namespace {

using ::testing::ElementsAre;
using ::testing::MatchesRegex;

constexpr int kPort = 18080; // the namespace is the test's own: nothing else listens in it
constexpr int kStartMs = 15000;
constexpr const char* kServicePath = "/DeviceManager/DeviceConfig"; // as the agent file says
const std::string kUrl = "http://127.0.0.1:" + std::to_string(kPort) + kServicePath;

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

// What a server recorded: one xIn per line, in hexadecimal UTF-8.
std::vector<std::string> Recorded(const std::string& file) {
    std::vector<std::string> reports;
    std::istringstream in(ReadFile(file));
    for (std::string line; std::getline(in, line);)
        reports.push_back(FromHex(line));
    return reports;
}

struct ServerStack {
    const char* name;
    // The server's command line and environment for an answer ("r=N", "fault=client",
    // "fault=server") and a record file.
    std::vector<std::string> (*argv)(const std::string& answer, const std::string& record);
    std::vector<std::string> (*env)(const std::string& answer, const std::string& record);
};

const ServerStack kServers[] = {
    {"PhpSoapServer",
     [](const std::string&, const std::string&) {
         return std::vector<std::string>{"/usr/bin/php", "-S", "127.0.0.1:" + std::to_string(kPort),
                                         InteropScript("php_server.php")};
     },
     [](const std::string& answer, const std::string& record) {
         return std::vector<std::string>{"INTEROP_WSDL=" + ShippedWsdl(),
                                         "INTEROP_ANSWER=" + answer, "INTEROP_RECORD=" + record};
     }},
    {"Spyne",
     [](const std::string& answer, const std::string& record) {
         return std::vector<std::string>{"/usr/bin/python3",
                                         InteropScript("spyne_server.py"),
                                         ShippedWsdl(),
                                         std::to_string(kPort),
                                         answer,
                                         record};
     },
     [](const std::string&, const std::string&) { return std::vector<std::string>{}; }},
    {"NodeSoap",
     [](const std::string& answer, const std::string& record) {
         return std::vector<std::string>{"/usr/bin/node", InteropScript("node_server.js"),
                                         ShippedWsdl(),   std::to_string(kPort),
                                         kServicePath,    answer,
                                         record};
     },
     [](const std::string&, const std::string&) {
         return std::vector<std::string>{"INTEROP_NODE_MODULES=" + NodeModules()};
     }},
};

void PrintTo(const ServerStack& stack, std::ostream* out) {
    *out << stack.name;
}

// Skips the test unless it has a network of its own and the stacks are installed.
#define PANDEL_ENTER_INTEROP_STAGE()                                                               \
    do {                                                                                           \
        const std::string missing = StacksMissing();                                               \
        if (!missing.empty())                                                                      \
            GTEST_SKIP() << missing;                                                               \
        const std::string why = EnterOwnNetwork();                                                 \
        if (!why.empty())                                                                          \
            GTEST_SKIP() << why;                                                                   \
    } while (false)

class ModuleToServer : public EndToEnd, public ::testing::WithParamInterface<ServerStack> {
protected:
    void SetUp() override {
        PANDEL_ENTER_INTEROP_STAGE();
        EndToEnd::SetUp();
        WriteAgentConfig("127.0.0.1", std::to_string(kPort));
    }

    // Starts the stack's server with the answer; null (and a failure) when it does not listen.
    std::unique_ptr<BackgroundProcess> Serve(const std::string& answer) {
        const ServerStack& stack = GetParam();
        auto server = std::make_unique<BackgroundProcess>(
            stack.argv(answer, Record()), stack.env(answer, Record()), root_.Sub("server.out"));
        if (!server->Listening(kPort, kStartMs)) {
            ADD_FAILURE() << stack.name
                          << " does not listen: " << ReadFile(root_.Sub("server.out"));
            return nullptr;
        }
        return server;
    }

    std::string Record() const { return root_.Sub("record"); }
};

const std::string kUpload =
    "<FileType>7</FileType><Command>upload</Command><ScheduleId>42</ScheduleId>"
    "<BackupType>0</BackupType><StartMode>2</StartMode>"
    "<ServerAddr>10.1.2.3</ServerAddr><ServerPort>9000</ServerPort>";

TEST_P(ModuleToServer, DownloadWithTwoAdaptersReportsStartedAndProbesOnce) {
    auto server = Serve("r=0");
    ASSERT_TRUE(server);
    ScriptImaging("GetAdapterCount 2\n");
    ProcessResult run = Post("Download", Download(kUpload));
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const std::vector<std::string> reports = Recorded(Record());
    ASSERT_EQ(reports.size(), 2u) << ReadFile(root_.Sub("server.out"));
    EXPECT_EQ(reports[0], TaskStatus(42, 101));
    EXPECT_THAT(reports[1], MatchesRegex("<Root ID=\"([0-9A-F]{12})?\"/>"));
    // One probe delivered: adapter 2 back on at once, the task on adapter 1.
    EXPECT_THAT(Journal(), ElementsAre("CheckFilesExistWhenUpload", "CheckUpdateUserExist",
                                       "GetAdapterCount", "EnableAdapter 2 0", "EnableAdapter 2 1",
                                       "UploadImgWithAdapter 1 \"C\""));
}

struct AnswerCase {
    const char* answer;
    int result;
    std::int32_t slot;
};

TEST_P(ModuleToServer, SendReportResultFollowsTheAnswerAndTheTextArrivesExactly) {
    const AnswerCase cases[] = {{"r=5", 0, 5}, {"fault=client", 1, 0}, {"fault=server", 2, 0}};
    const std::u16string report = u"<r a=\"1\">x < 5 & y > 3\r\n\ttab \u00e9 \u2603</r>";
    const std::string asUtf8 = "<r a=\"1\">x < 5 & y > 3\r\n\ttab \xC3\xA9 \xE2\x98\x83</r>";
    ScopedFakePlatform platform;
    platform.fake.resolver["terminal"] = {"192.168.1.20"};
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.answer);
        std::remove(Record().c_str());
        auto server = Serve(c.answer);
        ASSERT_TRUE(server);
        std::int32_t slot = 77;
        int result = 0;
        {
            CapturedOutput faultPrintout;
            result = SendReport(kUrl.c_str(), report.c_str(), &slot);
        }
        EXPECT_EQ(c.result, result);
        EXPECT_EQ(c.slot, slot);
        EXPECT_THAT(Recorded(Record()), ElementsAre(asUtf8));
    }
}

INSTANTIATE_TEST_SUITE_P(Stacks, ModuleToServer, ::testing::ValuesIn(kServers),
                         [](const auto& info) { return std::string(info.param.name); });

struct ClientStack {
    const char* name;
    std::vector<std::string> argv; // followed by the WSDL, the endpoint and the report
};

const ClientStack kClients[] = {
    {"Zeep", {"/usr/bin/python3", InteropScript("zeep_client.py")}},
    {"PhpSoapClient", {"/usr/bin/php", InteropScript("php_client.php")}},
    {"NodeSoap", {"/usr/bin/node", InteropScript("node_client.js")}},
};

void PrintTo(const ClientStack& stack, std::ostream* out) {
    *out << stack.name;
}

class ClientToDevcfgServer : public ::testing::TestWithParam<ClientStack> {
protected:
    void SetUp() override { PANDEL_ENTER_INTEROP_STAGE(); }
    TempRoot root_;
};

struct ClientCase {
    std::vector<std::string> serverArgs;
    const char* printed; // the client's line: how it read the answer
};

TEST_P(ClientToDevcfgServer, ReadsRAsANumberAndFaultsAsFaults) {
    const ClientCase cases[] = {
        {{"--r", "7"}, "r number 7\n"},
        {{"--r", "-2147483648"}, "r number -2147483648\n"},
        {{"--fault", "client"}, "fault SOAP-ENV:Client\n"},
        {{"--fault", "server"}, "fault SOAP-ENV:Server\n"},
    };
    const std::string report = "x < 5 & y > 3\ttab \xC3\xA9 \xE2\x98\x83";
    for (const ClientCase& c : cases) {
        SCOPED_TRACE(c.serverArgs[1]);
        const std::string output = root_.Sub("devcfg.out");
        std::remove(output.c_str());
        std::vector<std::string> argv = {std::string(PANDEL_BUILD_DIR) +
                                             "/tools/devcfg-server/devcfg-server",
                                         "--port",
                                         std::to_string(kPort),
                                         "--count",
                                         "1",
                                         "--json"};
        argv.insert(argv.end(), c.serverArgs.begin(), c.serverArgs.end());
        BackgroundProcess server(argv, {}, output);
        // Not Listening(): a connection of its own would be devcfg-server's one request.
        ASSERT_TRUE(server.Printed("listening on", kStartMs)) << ReadFile(output);

        std::vector<std::string> client = GetParam().argv;
        client.insert(client.end(), {ShippedWsdl(), kUrl, report});
        ProcessResult run = RunProcess(client, {{"INTEROP_NODE_MODULES", NodeModules()}}, 30000);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(c.printed, run.out) << run.err;
        // The connection counted as devcfg-server's one request, and it read the text exactly.
        EXPECT_TRUE(server.Exited(10000));
        EXPECT_THAT(ReadFile(output),
                    ::testing::HasSubstr("\"operation\":\"Set\",\"messageId\":null,\"from\":null,"
                                         "\"to\":null,\"action\":null,\"report\":\"x < 5 & y > "
                                         "3\\ttab \\u00e9 \\u2603\"}\n"));
    }
}

INSTANTIATE_TEST_SUITE_P(Stacks, ClientToDevcfgServer, ::testing::ValuesIn(kClients),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace pandel::test
