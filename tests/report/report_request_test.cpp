// The Set request as it leaves the module, byte for byte, read from a real loopback socket.
#include "harness/fake_platform.h"
#include "harness/loopback_server.h"
#include "report/report_sender.h"
#include "tests/report/report_test_support.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace pandel::test {
namespace {

const std::string kSetResponse5 =
    HttpResponse(200, Soap11("<s:SetResponse><s:r>5</s:r></s:SetResponse>"));

class ReportRequest : public ::testing::Test {
protected:
    ReportRequest() {
        fake().resolver["terminal"] = {"192.168.1.20", "10.0.0.7"};
        fake().tickCount = 123456;
    }
    FakePlatform& fake() { return platform_.fake; }

    // Sends report to a server that answers r = 5 and returns the raw request it read.
    std::string RequestFor(const std::u16string& report, std::int32_t* slot = nullptr) {
        LoopbackServer server(kSetResponse5);
        url_ = LoopbackUrl(server.port());
        std::int32_t result = 0;
        EXPECT_EQ(0, SendReport(url_.c_str(), report.c_str(), slot ? slot : &result));
        return server.Request();
    }

    std::string Expected(const std::string& xIn) {
        const std::string host = url_.substr(7, url_.find('/', 7) - 7);
        return ExpectedSetRequest(host, "App/Ep", "123456", "0,192.168.1.20,10.0.0.7", url_, xIn);
    }

    ScopedFakePlatform platform_;
    std::string url_;
};

TEST_F(ReportRequest, PlainReportIsTheWholeRequestAndRComesBack) {
    std::int32_t slot = -1;
    const std::string request = RequestFor(u"<Report><Progress>101</Progress></Report>", &slot);
    EXPECT_EQ(Expected("&lt;Report&gt;&lt;Progress&gt;101&lt;/Progress&gt;&lt;/Report&gt;"),
              request);
    EXPECT_EQ(5, slot);
}

struct EscapeCase {
    const char* name;
    std::u16string report;
    std::string wire;
};

TEST_F(ReportRequest, EveryUnitClassIsEscapedAsTheServiceExpects) {
    const std::vector<EscapeCase> cases = {
        {"markup", u"x < 5 & y > 3", "x &lt; 5 &amp; y &gt; 3"},
        {"line break", u"a\r\nb", "a&#xD;&#xA;b"},
        {"lone line feed", u"a\nb", "a&#xA;b"},
        {"tab and quotes stay", u"\t\"'", "\t\"'"},
        {"control units raw", u"\x01\x1F\x7F", "\x01\x1F\x7F"},
        {"C1 controls as two bytes", u"\x0080\x0085\x009F", "\xC2\x80\xC2\x85\xC2\x9F"},
        {"latin", u"\x00E9", "\xC3\xA9"},
        {"two-byte edge", u"\x07FF", "\xDF\xBF"},
        {"three-byte", u"\x0800\x4E2D\xFFFF", "\xE0\xA0\x80\xE4\xB8\xAD\xEF\xBF\xBF"},
        {"pair as two sequences", u"\xD83D\xDE00", "\xED\xA0\xBD\xED\xB8\x80"},
        {"lone high surrogate", u"a\xD800z", "a\xED\xA0\x80z"},
        {"lone low surrogate", u"a\xDFFFz", "a\xED\xBF\xBFz"},
        {"cdata end", u"]]>", "]]&gt;"},
    };
    for (const EscapeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string request = RequestFor(c.report);
        EXPECT_EQ(Expected(c.wire), request);
    }
}

TEST_F(ReportRequest, LongReportIsWrittenWholeAcrossChunks) {
    std::u16string report;
    std::string wire;
    for (int i = 0; i < 3000; ++i) {
        report += u"\x4E2D&\n";
        wire += "\xE4\xB8\xAD&amp;&#xA;";
    }
    EXPECT_EQ(Expected(wire), RequestFor(report));
}

TEST_F(ReportRequest, HostLineOmitsPortEighty) {
    LoopbackServer server({LoopbackServer::Mode::Answer, kSetResponse5}, 80);
    if (server.port() == 0)
        GTEST_SKIP() << "port 80 cannot be had here";
    const std::string url = "http://127.0.0.1:80/App/Ep";
    std::int32_t slot = 0;
    ASSERT_EQ(0, SendReport(url.c_str(), u"r", &slot));
    EXPECT_EQ(
        ExpectedSetRequest("127.0.0.1", "App/Ep", "123456", "0,192.168.1.20,10.0.0.7", url, "r"),
        server.Request());
}

TEST_F(ReportRequest, MessageIdIsTheTickCountAsSignedDecimal) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {0u, "0"},
        {2147483647u, "2147483647"},
        {2147483648u, "-2147483648"},
        {4294967295u, "-1"},
    };
    for (const auto& [tick, id] : cases) {
        SCOPED_TRACE(id);
        fake().tickCount = tick;
        const std::string request = RequestFor(u"r");
        EXPECT_NE(std::string::npos,
                  request.find(std::string("<wsa:MessageID>") + id + "</wsa:MessageID>"));
    }
}

TEST_F(ReportRequest, UrlOfTheLongestLengthThatFitsIsSentWhole) {
    LoopbackServer server(kSetResponse5);
    std::string url = LoopbackUrl(server.port()) + "/";
    url += std::string(kEndpointBufferSize - 1 - url.size(), 'p');
    ASSERT_EQ(kEndpointBufferSize - 1, url.size());
    std::int32_t slot = 0;
    EXPECT_EQ(0, SendReport(url.c_str(), u"r", &slot));
    const std::string request = server.Request();
    EXPECT_EQ(0u, request.find("POST " + url.substr(url.find("/App/")) + " HTTP/1.1\r\n"));
    EXPECT_NE(std::string::npos, request.find("<wsa:To>" + url + "</wsa:To>"));
}

TEST_F(ReportRequest, ServiceUrlIsEscapedInTheHeaderAndRawInTheRequestLine) {
    LoopbackServer server(kSetResponse5);
    const std::string url = LoopbackUrl(server.port()) + "?a=1&b=<2>";
    std::int32_t slot = 0;
    ASSERT_EQ(0, SendReport(url.c_str(), u"r", &slot));
    const std::string escaped = LoopbackUrl(server.port()) + "?a=1&amp;b=&lt;2&gt;";
    const std::string request = server.Request();
    EXPECT_EQ(0u, request.find("POST /App/Ep?a=1&b=<2> HTTP/1.1\r\n"));
    EXPECT_NE(std::string::npos, request.find("<wsa:To>" + escaped + "</wsa:To><wsa:Action>" +
                                              escaped + "</wsa:Action>"));
}

TEST_F(ReportRequest, CallerWithoutSlotStillSends) {
    LoopbackServer server(kSetResponse5);
    const std::string url = LoopbackUrl(server.port());
    EXPECT_EQ(0, SendReport(url.c_str(), u"r", nullptr));
    EXPECT_NE(std::string::npos, server.Request().find("<soap:xIn xsi:type=\"xsd:string\">r<"));
}

// Proxy settings beside a fake host executable: "127.0.0.1 <port> true".
class ReportThroughProxy : public ReportRequest {
protected:
    void EnableProxy(std::uint16_t port) {
        MakeDirectories(root_.Sub("agent/Conf"));
        WriteFile(root_.Sub("agent/Conf/ProxyInfo.xml"),
                  "127.0.0.1 " + std::to_string(port) + " true");
        fake().hostExecutablePath = root_.Sub("agent/host");
    }
    TempRoot root_;
};

TEST_F(ReportThroughProxy, RequestGoesToTheProxyWhileHeaderKeepsTheServiceUrl) {
    LoopbackServer proxy(kSetResponse5);
    EnableProxy(proxy.port());
    // Capital letters are not the loopback exemption; the closed port is never tried.
    const std::string url = "http://LOCALHOST:" + std::to_string(ClosedPort()) + "/App/Ep";
    std::int32_t slot = 0;
    ASSERT_EQ(0, SendReport(url.c_str(), u"r", &slot));
    EXPECT_EQ(5, slot);
    EXPECT_EQ(ExpectedSetRequest("127.0.0.1:" + std::to_string(proxy.port()), "App/Ep", "123456",
                                 "1,192.168.1.20,10.0.0.7", url, "r"),
              proxy.Request());
}

TEST_F(ReportThroughProxy, ProxyPortOutsideTheTcpRangeIsRefusedAndNothingIsSent) {
    LoopbackServer proxy("", LoopbackServer::Mode::Idle);
    for (const std::string& port :
         {std::to_string(proxy.port() + 65536), std::string("0"), std::string("80a")}) {
        SCOPED_TRACE(port);
        MakeDirectories(root_.Sub("agent/Conf"));
        WriteFile(root_.Sub("agent/Conf/ProxyInfo.xml"), "127.0.0.1 " + port + " true");
        fake().hostExecutablePath = root_.Sub("agent/host");
        std::int32_t slot = 77;
        CapturedOutput output;
        EXPECT_EQ(kReportRefused, SendReport("http://192.0.2.1:8080/App/Ep", u"r", &slot));
        EXPECT_EQ(77, slot);
        EXPECT_EQ("", output.Stderr());
        EXPECT_FALSE(proxy.HasPendingConnection());
    }
}

TEST_F(ReportThroughProxy, LoopbackEndpointsSkipTheProxyButTheFlagStays) {
    LoopbackServer proxy("", LoopbackServer::Mode::Idle);
    EnableProxy(proxy.port());
    for (const char* host : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        LoopbackServer server(kSetResponse5);
        const std::string url =
            std::string("http://") + host + ":" + std::to_string(server.port()) + "/App/Ep";
        std::int32_t slot = 0;
        ASSERT_EQ(0, SendReport(url.c_str(), u"r", &slot));
        EXPECT_NE(std::string::npos,
                  server.Request().find("<wsa:Address xsi:type=\"xsd:string\">1,192.168.1.20"));
    }
    EXPECT_FALSE(proxy.HasPendingConnection());
}

TEST_F(ReportRequest, CallsOnTwoThreadsKeepTheirOwnReports) {
    LoopbackServer first(kSetResponse5);
    LoopbackServer second(HttpResponse(200, Soap11("<s:SetResponse><s:r>6</s:r></s:SetResponse>")));
    std::int32_t firstSlot = 0;
    std::int32_t secondSlot = 0;
    int firstResult = -100;
    int secondResult = -100;
    const std::string firstUrl = LoopbackUrl(first.port());
    const std::string secondUrl = LoopbackUrl(second.port());
    std::thread a([&] { firstResult = SendReport(firstUrl.c_str(), u"first", &firstSlot); });
    std::thread b([&] { secondResult = SendReport(secondUrl.c_str(), u"second", &secondSlot); });
    a.join();
    b.join();
    EXPECT_EQ(0, firstResult);
    EXPECT_EQ(0, secondResult);
    EXPECT_EQ(5, firstSlot);
    EXPECT_EQ(6, secondSlot);
    EXPECT_NE(std::string::npos, first.Request().find(">first</soap:xIn>"));
    EXPECT_NE(std::string::npos, second.Request().find(">second</soap:xIn>"));
}

} // namespace
} // namespace pandel::test
