// The report sender built for Windows: the Set request read from a real loopback socket, byte for
// byte, above all for the units whose encoding hangs on the width of wchar_t (16 bits here).
#include "report/report_sender.h"

#include "harness/fake_platform.h"
#include "harness/loopback_server.h"
#include "tests/report/report_test_support.h"

#include <gtest/gtest.h>

#include <winsock2.h>

namespace pandel::test {
namespace {

class WindowsReportSender : public ::testing::Test {
protected:
    WindowsReportSender() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        platform_.fake.resolver["terminal"] = {"192.168.1.20", "10.0.0.7"};
        platform_.fake.tickCount = 123456;
    }
    ~WindowsReportSender() override { WSACleanup(); }

    ScopedFakePlatform platform_;
};

TEST_F(WindowsReportSender, RequestBytesAreTheServicesForEveryWidthOfUnit) {
    const struct {
        const char* what;
        std::u16string report;
        std::string wire;
    } cases[] = {
        {"markup and line ends", u"<R>a\r\nb</R>", "&lt;R&gt;a&#xD;&#xA;b&lt;/R&gt;"},
        {"two- and three-byte units", u"\u00E9\u0800\u4E2D\uFFFF",
         "\xC3\xA9\xE0\xA0\x80\xE4\xB8\xAD\xEF\xBF\xBF"},
        {"pair as two sequences", u"\xD83D\xDE00", "\xED\xA0\xBD\xED\xB8\x80"},
        {"lone surrogates", u"a\xD800z\xDFFF", "a\xED\xA0\x80z\xED\xBF\xBF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LoopbackServer server(
            HttpResponse(200, Soap11("<s:SetResponse><s:r>5</s:r></s:SetResponse>")));
        ASSERT_NE(server.port(), 0);
        const std::string url = LoopbackUrl(server.port());
        std::int32_t result = -1;
        EXPECT_EQ(SendReport(url.c_str(), c.report.c_str(), &result), 0);
        EXPECT_EQ(result, 5);
        const std::string host = url.substr(7, url.find('/', 7) - 7);
        EXPECT_EQ(server.Request(), ExpectedSetRequest(host, "App/Ep", "123456",
                                                       "0,192.168.1.20,10.0.0.7", url, c.wire));
    }
}

TEST_F(WindowsReportSender, RefusedConnectionIsTheRuntimesConnectError) {
    const std::uint16_t port = ClosedPort();
    ASSERT_NE(port, 0);
    const std::string url = LoopbackUrl(port);
    std::int32_t result = 77;
    EXPECT_EQ(SendReport(url.c_str(), u"r", &result), 28);
    EXPECT_EQ(result, 77); // untouched: nothing went out
}

} // namespace
} // namespace pandel::test
