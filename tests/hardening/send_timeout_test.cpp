// A server that accepts and never reads: the request stops going out and the call ends with the
// send time-out instead of blocking the host.
#include "harness/fake_platform.h"
#include "harness/loopback_server.h"
#include "report/report_sender.h"
#include "tests/report/report_test_support.h"

#include <gtest/gtest.h>

namespace pandel::test {
namespace {

TEST(SendTimeout, ServerThatNeverReadsEndsTheCallWithAnError) {
    ScopedFakePlatform platform;
    // Far more than the socket buffers on both sides can take.
    const std::u16string report(16u << 20, u'a');
    // The server holds the connection far longer than the whole transfer may take.
    LoopbackServer server({LoopbackServer::Mode::NeverRead, "", 0});
    const std::string url = LoopbackUrl(server.port());
    std::int32_t slot = 77;
    CapturedOutput output;
    EXPECT_EQ(-1, SendReport(url.c_str(), report.c_str(), &slot));
    EXPECT_EQ(77, slot);
    EXPECT_NE(output.Stderr(), "");
    EXPECT_FALSE(server.Release()) << "the call lasted until the server let go";
    EXPECT_EQ(server.Request().size(), 0u);
}

} // namespace
} // namespace pandel::test
