// devcfg-server as a real process, driven by the module's own SendReport.
#include "harness/child_process.h"
#include "harness/fake_platform.h"
#include "report/report_sender.h"
#include "tests/report/report_test_support.h"
#include "tests/support/temp_root.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace pandel::test {
namespace {

constexpr int kWaitMs = 10000;

// One devcfg-server child, its port read from the first line it prints.
class ServerProcess {
public:
    explicit ServerProcess(std::vector<std::string> args) : child_(WithProgram(std::move(args))) {
        const std::string first = child_.OutputUntil("\n", kWaitMs);
        const std::string prefix = "listening on 127.0.0.1:";
        if (first.rfind(prefix, 0) == 0)
            port_ = static_cast<std::uint16_t>(std::stoi(first.substr(prefix.size())));
    }

    std::uint16_t port() const { return port_; }

    // True when the server ended by itself, with exit status 0, within the wait.
    bool ExitsCleanly() {
        int exitCode = -1;
        return child_.Exited(kWaitMs, &exitCode) && exitCode == 0;
    }

    // Everything printed, once the server has exited (its output then ends).
    std::string Output() { return child_.OutputUntil(std::string(), kWaitMs); }

    // Everything printed so far, once text has appeared in it (or the output ended or the wait
    // ran out).
    std::string OutputUntil(const std::string& text) { return child_.OutputUntil(text, kWaitMs); }

private:
    static std::vector<std::string> WithProgram(std::vector<std::string> args) {
        args.insert(args.begin(), DEVCFG_SERVER_PATH);
        return args;
    }

    ChildProcess child_;
    std::uint16_t port_ = 0;
};

std::string Block(long number, const std::string& id, const std::string& url, std::size_t units,
                  const std::string& text) {
    return "--- Set #" + std::to_string(number) + "\nMessageID: " + id +
           "\nFrom: 0,192.168.1.20\nTo: " + url + "\nAction: " + url + "\nReport (" +
           std::to_string(units) + " units):\n" + text + "\n--- end\n";
}

// Sends bytes on a new connection to the server and returns everything it answers, up to its
// close (or the wait running out). With afterContinue, waits for "100 Continue" and sends that.
std::string Exchange(std::uint16_t port, const std::string& bytes,
                     const std::string& afterContinue = std::string()) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size())) {
        char buffer[4096];
        pollfd p{fd, POLLIN, 0};
        ssize_t got = 0;
        const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
        while (!afterContinue.empty() && answer.size() < interim.size() &&
               poll(&p, 1, kWaitMs) == 1 && (got = read(fd, buffer, sizeof buffer)) > 0)
            answer.append(buffer, static_cast<std::size_t>(got));
        if (!afterContinue.empty() && answer == interim)
            send(fd, afterContinue.data(), afterContinue.size(), MSG_NOSIGNAL);
        while (poll(&p, 1, kWaitMs) == 1 && (got = read(fd, buffer, sizeof buffer)) > 0)
            answer.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    return answer;
}

std::string ToHex(std::size_t value) {
    char text[20];
    std::snprintf(text, sizeof text, "%zx", value);
    return text;
}

std::string Post(const std::string& body) {
    return "POST /App/Ep HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml; charset=utf-8\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\nSOAPAction: \"\"\r\n\r\n" + body;
}

class DevcfgServer : public ::testing::Test {
protected:
    DevcfgServer() { platform_.fake.resolver["terminal"] = {"192.168.1.20"}; }
    ScopedFakePlatform platform_;
    TempRoot root_;
};

TEST_F(DevcfgServer, PrintsEachSetKeepsItsBytesAndAnswersR) {
    const std::string raw = root_.Sub("raw.bin");
    ServerProcess server({"--port", "0", "--r", "5", "--count", "2", "--raw", raw});
    ASSERT_NE(0, server.port());
    const std::string url = LoopbackUrl(server.port());
    const std::u16string first = u"line 1\r\nline 2\t\x00E9";
    const std::u16string second = u"<x a=\"1\">&amp;</x> \xD83D\xDE00";

    std::int32_t slot = 0;
    platform_.fake.tickCount = 1000;
    EXPECT_EQ(0, SendReport(url.c_str(), first.c_str(), &slot));
    EXPECT_EQ(5, slot);
    slot = 0;
    platform_.fake.tickCount = 2000;
    EXPECT_EQ(0, SendReport(url.c_str(), second.c_str(), &slot));
    EXPECT_EQ(5, slot);
    ASSERT_TRUE(server.ExitsCleanly()); // --count 2

    const std::string host = "127.0.0.1:" + std::to_string(server.port());
    EXPECT_EQ("listening on " + host + "\n" +
                  Block(1, "1000", url, first.size(), "line 1\r\nline 2\t\xC3\xA9") +
                  Block(2, "2000", url, second.size(), "<x a=\"1\">&amp;</x> \xF0\x9F\x98\x80"),
              server.Output());
    EXPECT_EQ(ExpectedSetRequest(host, "App/Ep", "1000", "0,192.168.1.20", url,
                                 "line 1&#xD;&#xA;line 2\t\xC3\xA9") +
                  ExpectedSetRequest(host, "App/Ep", "2000", "0,192.168.1.20", url,
                                     "&lt;x a=\"1\"&gt;&amp;amp;&lt;/x&gt; "
                                     "\xED\xA0\xBD\xED\xB8\x80"),
              ReadFile(raw));
}

struct AnswerCase {
    std::vector<std::string> args;
    int result;
    std::int32_t slot;
};

TEST_F(DevcfgServer, AnswersAsItIsTold) {
    const std::vector<AnswerCase> cases =
        {
            {{"--r", "-3"}, 0, -3},        {{"--fault", "client"}, 1, 0},
            {{"--fault", "server"}, 2, 0}, {{"--close-early"}, -1, 0},
            {{"--garbage"}, 200, 0}, // the runtime's code for a 200 whose body is no envelope
        };
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.args[0]);
        std::vector<std::string> args = {"--port", "0", "--count", "1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ServerProcess server(args);
        ASSERT_NE(0, server.port());
        const std::string url = LoopbackUrl(server.port());
        std::int32_t slot = 77;
        CapturedOutput output; // the fault printout
        EXPECT_EQ(c.result, SendReport(url.c_str(), u"report", &slot));
        EXPECT_EQ(c.slot, slot);
        EXPECT_TRUE(server.ExitsCleanly());
        EXPECT_NE(std::string::npos, server.Output().find("--- Set #1\n"));
    }
}

TEST_F(DevcfgServer, HangReadsTheRequestAndNeverAnswers) {
    ServerProcess server({"--port", "0", "--hang"});
    ASSERT_NE(0, server.port());
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
    const std::string url = LoopbackUrl(server.port());
    const std::string request =
        ExpectedSetRequest("127.0.0.1", "App/Ep", "1", "0,192.168.1.20", url, "hang");
    ASSERT_EQ(static_cast<ssize_t>(request.size()),
              send(fd, request.data(), request.size(), MSG_NOSIGNAL));
    // Once the block is printed the request has been read; then nothing comes back.
    const std::string block = "Report (4 units):\nhang\n--- end\n";
    EXPECT_NE(std::string::npos, server.OutputUntil(block).find(block));
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(0, poll(&p, 1, 300));
    close(fd);
}

TEST_F(DevcfgServer, ListensOnLoopbackOnly) {
    ServerProcess server({"--port", "0"});
    ASSERT_NE(0, server.port());
    char port[8];
    std::snprintf(port, sizeof port, ":%04X ", server.port());
    const std::string table = ReadFile("/proc/net/tcp");
    EXPECT_NE(std::string::npos, table.find(std::string("0100007F") + port));
    EXPECT_EQ(std::string::npos, table.find(std::string("00000000") + port));
}

struct RefusedCase {
    const char* what;
    std::string body;
    const char* reason;
};

TEST_F(DevcfgServer, RefusesWhatIsNoServiceRequestWithHttp500AndAClientFault) {
    const std::string set = "<s:Set><s:xIn>a</s:xIn></s:Set>";
    const std::vector<RefusedCase> cases = {
        {"no XML", "this is < no XML", "the request is not a well-formed XML document"},
        {"cut short", Soap11(set).substr(0, 200), "the request is not a well-formed XML document"},
        {"garbage after the envelope", Soap11(set) + "<x/>",
         "the request is not a well-formed XML document"},
        {"SOAP 1.2", Soap12(set),
         "the document element is {http://www.w3.org/2003/05/soap-envelope}Envelope, not a SOAP "
         "1.1 Envelope"},
        {"document type",
         std::string("<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY e \"e\">]>") +
             Soap11(set).substr(Soap11(set).find("?>") + 2),
         "a SOAP message must not contain a document type declaration"},
        {"no Body",
         Soap11(set).substr(0, Soap11(set).find("<SOAP-ENV:Body>")) + "</SOAP-ENV:Envelope>",
         "the Envelope has no Body where one belongs"},
        {"two requests", Soap11(set + set), "the Body holds 2 elements, not one request"},
        {"unknown operation", Soap11("<s:Put><s:xIn>a</s:xIn></s:Put>"),
         "no operation {urn:pandel:device-config}Put in this service"},
        {"no xIn", Soap11("<s:Set/>"), "{urn:pandel:device-config}Set has no xIn"},
        {"xIn unqualified", Soap11("<s:Set><xIn>a</xIn></s:Set>"),
         "{urn:pandel:device-config}Set holds {}xIn, not xIn of urn:pandel:device-config"},
        {"two xIn", Soap11("<s:Set><s:xIn>a</s:xIn><s:xIn>b</s:xIn></s:Set>"),
         "{urn:pandel:device-config}Set holds more than xIn"},
        {"xIn with an element", Soap11("<s:Set><s:xIn><b/></s:xIn></s:Set>"),
         "xIn holds an element; it is text"},
    };
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(c.what);
        ServerProcess server({"--port", "0", "--count", "1"});
        ASSERT_NE(0, server.port());
        const std::string answer = Exchange(server.port(), Post(c.body));
        EXPECT_EQ(0u, answer.rfind("HTTP/1.1 500 Internal Server Error\r\n", 0)) << answer;
        EXPECT_NE(std::string::npos,
                  answer.find("<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/"
                              "soap/envelope/\""))
            << answer;
        EXPECT_NE(std::string::npos, answer.find("<SOAP-ENV:Fault><faultcode>SOAP-ENV:Client"
                                                 "</faultcode><faultstring>" +
                                                 std::string(c.reason) + "</faultstring>"))
            << answer;
        EXPECT_TRUE(server.ExitsCleanly());
        EXPECT_NE(std::string::npos,
                  server.Output().find("--- refused #1: " + std::string(c.reason) + "\n"));
    }
}

TEST_F(DevcfgServer, AnswersGetWithGetResponseAndRWithoutType) {
    ServerProcess server({"--port", "0", "--count", "3", "--r", "-7"});
    ASSERT_NE(0, server.port());
    const std::string get =
        Exchange(server.port(), Post(Soap11("<s:Get><s:xIn>q</s:xIn></s:Get>")));
    EXPECT_EQ(0u, get.rfind("HTTP/1.1 200 OK\r\n", 0)) << get;
    EXPECT_NE(std::string::npos, get.find("<SOAP-ENV:Body><soap:GetResponse><soap:xOut></soap:xOut>"
                                          "</soap:GetResponse></SOAP-ENV:Body>"))
        << get;
    const std::string set =
        Exchange(server.port(), Post(Soap11("<s:Set><s:xIn>q</s:xIn></s:Set>")));
    EXPECT_NE(std::string::npos,
              set.find("<SOAP-ENV:Body><soap:SetResponse><soap:r>-7</soap:r></soap:SetResponse>"))
        << set;
    // Chunked, after waiting for "100 Continue".
    const std::string body = Soap11("<s:Set><s:xIn>chunked</s:xIn></s:Set>");
    const std::string chunked =
        Exchange(server.port(),
                 "POST /App/Ep HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\n"
                 "Transfer-Encoding: chunked\r\n\r\n",
                 ToHex(10) + "\r\n" + body.substr(0, 10) + "\r\n" + ToHex(body.size() - 10) +
                     "\r\n" + body.substr(10) + "\r\n0\r\n\r\n");
    EXPECT_EQ(0u, chunked.rfind("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n", 0)) << chunked;
    EXPECT_TRUE(server.ExitsCleanly());
    const std::string output = server.Output();
    EXPECT_NE(std::string::npos, output.find("--- Get #1\n"));
    EXPECT_NE(std::string::npos, output.find("--- Set #3\n"));
    EXPECT_NE(std::string::npos, output.find("Report (7 units):\nchunked\n--- end\n"));
}

TEST_F(DevcfgServer, AnswersBrokenHttpWithoutASoapAnswer) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"POST / HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n", "HTTP/1.1 413 "},
        {"POST / HTTP/1.1\r\nContent-Length: x\r\n\r\n", "HTTP/1.1 400 "},
        {"POST / HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n", "HTTP/1.1 400 "},
        {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", "HTTP/1.1 400 "},
        {"POST / HTTP/1.1\r\n" + std::string(70000, 'a'), "HTTP/1.1 413 "},
    };
    for (const auto& [request, status] : cases) {
        SCOPED_TRACE(request.substr(0, 60));
        ServerProcess server({"--port", "0", "--count", "1"});
        ASSERT_NE(0, server.port());
        EXPECT_EQ(0u, Exchange(server.port(), request).rfind(status, 0));
        EXPECT_TRUE(server.ExitsCleanly());
    }
}

TEST_F(DevcfgServer, JsonPrintsOneObjectPerRequest) {
    ServerProcess server({"--port", "0", "--count", "2", "--json"});
    ASSERT_NE(0, server.port());
    const std::string url = LoopbackUrl(server.port());
    std::int32_t slot = 0;
    platform_.fake.tickCount = 0x80000000u;
    EXPECT_EQ(0, SendReport(url.c_str(), u"a\"\\\r\n\t\x00e9\xD83D\xDE00\xD800", &slot));
    Exchange(server.port(), Post("<x"));
    ASSERT_TRUE(server.ExitsCleanly());
    const std::string output = server.Output();
    const std::string time =
        "\"time\":\"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z\"";
    EXPECT_THAT(output,
                ::testing::MatchesRegex(
                    "listening on 127\\.0\\.0\\.1:[0-9]+\n"
                    "\\{\"request\":1," +
                    time +
                    ",\"operation\":\"Set\",\"messageId\":\"-2147483648\","
                    "\"from\":\"0,192\\.168\\.1\\.20\",\"to\":\"" +
                    url + "\",\"action\":\"" + url +
                    "\","
                    "\"report\":"
                    "\"a\\\\\"\\\\\\\\\\\\r\\\\n\\\\t\\\\u00e9\\\\ud83d\\\\ude00\\\\ud800\"\\}\n"
                    "\\{\"request\":2," +
                    time +
                    ",\"fault\":\"Client\","
                    "\"reason\":\"the request is not a well-formed XML document\"\\}\n"));
}

} // namespace
} // namespace pandel::test
