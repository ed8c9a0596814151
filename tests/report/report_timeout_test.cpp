// The 15 s receive time-out and the 60 s bound of a whole exchange, in real time: this program
// takes about 75 seconds.
#include "harness/fake_platform.h"
#include "harness/loopback_server.h"
#include "report/report_sender.h"
#include "tests/report/report_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace pandel::test {
namespace {

TEST(ReportTimeout, SilentServerEndsTheCallAfterFifteenSeconds) {
    ScopedFakePlatform platform;
    LoopbackServer server("", LoopbackServer::Mode::Hang);
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

// Servers that send something before each 15 s wait runs out, a byte of the answer, a header line
// or an interim response at a time: the exchange still ends once it has taken 60 s. The three run
// at once, so this costs one minute, not three.
TEST(ReportTimeout, ServerThatKeepsTheCallAliveLosesItAfterSixtySeconds) {
    const LoopbackServer::Mode modes[] = {LoopbackServer::Mode::Trickle,
                                          LoopbackServer::Mode::EndlessHeaders,
                                          LoopbackServer::Mode::EndlessContinue};
    const char* names[] = {"a byte every 10 s", "a header line every 10 s",
                           "100 Continue every 10 s"};
    std::vector<std::unique_ptr<LoopbackServer>> servers;
    for (LoopbackServer::Mode mode : modes) {
        LoopbackServer::Script script;
        script.mode = mode;
        script.intervalMs = 10000;
        servers.push_back(std::make_unique<LoopbackServer>(script));
    }
    int results[3] = {0, 0, 0};
    std::chrono::steady_clock::duration waited[3] = {};
    CapturedOutput output;
    std::vector<std::thread> reports;
    for (int i = 0; i < 3; ++i) {
        reports.emplace_back([&, i] {
            const std::string url = LoopbackUrl(servers[i]->port());
            std::int32_t slot = 77;
            const auto start = std::chrono::steady_clock::now();
            results[i] = SendReport(url.c_str(), u"report", &slot);
            waited[i] = std::chrono::steady_clock::now() - start;
        });
    }
    for (std::thread& report : reports)
        report.join();
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_NE(0, results[i]);
        // Not a 15 s wait that ran out: the whole exchange's bound, kept to the second.
        EXPECT_GE(waited[i], std::chrono::seconds(55));
        EXPECT_LT(waited[i], std::chrono::milliseconds(61000));
    }
}

} // namespace
} // namespace pandel::test
