// Calls that SendReport refuses: nothing sent, nothing printed, nothing asked of the proxy part.
#include "harness/fake_platform.h"
#include "harness/loopback_server.h"
#include "report/report_sender.h"
#include "tests/report/report_test_support.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace pandel::test {
namespace {

constexpr std::int32_t kUntouched = 77;

struct RefusalCase {
    const char* name;
    std::optional<std::string> url; // nullopt: no URL at all
    const char16_t* report;
};

TEST(ReportRefusal, RefusedCallsHaveNoSideEffectAtAll) {
    LoopbackServer server("", LoopbackServer::Mode::Idle);
    const std::string good = LoopbackUrl(server.port());
    std::string tooLong = good + "/";
    tooLong += std::string(kEndpointBufferSize - tooLong.size(), 'p'); // 260 characters
    const std::vector<RefusalCase> cases = {
        {"no url", std::nullopt, u"report"},
        {"empty url", std::string(), u"report"},
        {"unroutable host", "http://0.0.0.0:8080/a/b", u"report"},
        {"unroutable text in the path", good + "/http://0.0.0.0", u"report"},
        {"no report", good, nullptr},
        {"empty report", good, u""},
        {"url longer than the endpoint buffer", tooLong, u"report"},
        {"line break in url", good + "\r\nX-Injected: 1", u"report"},
        {"blank in url", good + " HTTP/1.0", u"report"},
        {"tab in url", good + "\tx", u"report"},
        {"delete in url", good + "\x7F", u"report"},
        // a port the runtime would wrap into another one, or none that TCP has
        {"port beyond 65535", "http://127.0.0.1:" + std::to_string(server.port() + 65536) + "/a",
         u"report"},
        {"port 0", "http://127.0.0.1:0/a/b", u"report"},
        {"port with a sign", "http://127.0.0.1:+" + std::to_string(server.port()) + "/a",
         u"report"},
        {"port in hex", "http://127.0.0.1:0x1f90/a/b", u"report"},
        {"port of six digits", "http://127.0.0.1:008080/a/b", u"report"},
        {"empty port", "http://127.0.0.1:/a/b", u"report"},
        {"port with letters", "http://127.0.0.1:80x/a/b", u"report"},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedFakePlatform platform;
        std::int32_t slot = kUntouched;
        CapturedOutput output;
        const int result = SendReport(c.url ? c.url->c_str() : nullptr, c.report, &slot);
        const std::string out = output.Stdout();
        const std::string err = output.Stderr();
        EXPECT_EQ(kReportRefused, result);
        EXPECT_EQ(kUntouched, slot);
        EXPECT_EQ("", out);
        EXPECT_EQ("", err);
        EXPECT_TRUE(platform.fake.trace.empty()) << platform.fake.trace.front();
        EXPECT_FALSE(server.HasPendingConnection());
    }
}

struct ReasonCase {
    const char* url;
    UrlRefusal reason;
};

TEST(ReportRefusal, EachRefusedUrlHasItsReason) {
    const std::string longUrl = "http://127.0.0.1:8080/" + std::string(240, 'p');
    const std::vector<ReasonCase> cases = {
        {nullptr, UrlRefusal::Empty},
        {"", UrlRefusal::Empty},
        {"http://0.0.0.0:8080/a/b", UrlRefusal::Unroutable},
        {longUrl.c_str(), UrlRefusal::TooLong},
        {"http://server one:8080/a/b", UrlRefusal::UnsafeByte},
        {"http://127.0.0.1:8080/a\x01", UrlRefusal::UnsafeByte},
        {"http://127.0.0.1:0/a/b", UrlRefusal::PortOutOfRange},
        {"http://127.0.0.1:65536/a/b", UrlRefusal::PortOutOfRange},
        {"http://127.0.0.1:123456/a/b", UrlRefusal::PortOutOfRange},
        {"http://127.0.0.1:/a/b", UrlRefusal::PortOutOfRange},
        {"http://127.0.0.1:-1/a/b", UrlRefusal::PortOutOfRange},
        {"http://[::1]:0/a/b", UrlRefusal::PortOutOfRange},
        // Sent: ports at both ends of the range, no port at all, a colon only in the path.
        {"http://127.0.0.1:1/a/b", UrlRefusal::None},
        {"http://127.0.0.1:65535/a/b", UrlRefusal::None},
        {"http://127.0.0.1/a/b", UrlRefusal::None},
        {"http://127.0.0.1/a:b/c", UrlRefusal::None},
        {"http://[::1]:8080/a/b", UrlRefusal::None},
    };
    for (const ReasonCase& c : cases) {
        SCOPED_TRACE(c.url != nullptr ? c.url : "(null)");
        EXPECT_EQ(c.reason, WhyUrlRefused(c.url));
    }
}

} // namespace
} // namespace pandel::test
