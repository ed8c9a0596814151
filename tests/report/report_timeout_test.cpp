// The 15 s receive time-out, in real time: this program takes about 15 seconds.
#include "report/report_sender.h"
#include "tests/report/report_test_support.h"
#include "tests/report/scripted_server.h"
#include "tests/support/fake_platform.h"

#include <gtest/gtest.h>

#include <chrono>

namespace pandel::test {
namespace {

TEST(ReportTimeout, SilentServerEndsTheCallAfterFifteenSeconds) {
    ScopedFakePlatform platform;
    ScriptedServer server(ScriptedServer::Mode::Silent);
    const std::string url = LoopbackUrl(server.port());
    std::int32_t slot = 77;
    CapturedOutput output;
    const auto start = std::chrono::steady_clock::now();
    const int result = SendReport(url.c_str(), u"report", &slot);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(-1, result);
    EXPECT_EQ(0, slot);
    EXPECT_FALSE(output.Stderr().empty());
    // The wait is the receive time-out, not some other bound.
    EXPECT_GE(waited, std::chrono::milliseconds(14500));
    EXPECT_LT(waited, std::chrono::seconds(40));
}

} // namespace
} // namespace pandel::test
