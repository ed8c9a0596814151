// Eight threads each send 200 reports at once to one loopback server: every report arrives once,
// whole, and every caller gets its own result. Run under ThreadSanitizer in CI.
#include "harness/fake_platform.h"
#include "harness/loopback_server.h"
#include "report/report_sender.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

namespace pandel::test {
namespace {

constexpr int kThreads = 8;
constexpr int kReportsPerThread = 200;

std::string ReportText(int thread, int index) {
    return "<r t=\"" + std::to_string(thread) + "\" i=\"" + std::to_string(index) + "\"/>";
}

TEST(ConcurrentReports, EightThreadsOfTwoHundredReportsEachArriveWhole) {
    ScopedFakePlatform platform;
    LoopbackServer server(LoopbackServer::SetResponse(9));
    const std::string url = server.Url();
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kReportsPerThread; ++i) {
                const std::string text = ReportText(t, i);
                const std::u16string report(text.begin(), text.end());
                std::int32_t slot = 0;
                if (SendReport(url.c_str(), report.c_str(), &slot) != 0 || slot != 9)
                    ++failures[t];
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(failures[t], 0) << "thread " << t;

    const std::size_t total = kThreads * kReportsPerThread;
    ASSERT_EQ(server.WaitForRequests(total, 10000), total);
    std::map<std::string, int> seen;
    for (const std::string& raw : server.Requests())
        ++seen[ElementText(raw, "xIn")];
    ASSERT_EQ(seen.size(), total);
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kReportsPerThread; ++i)
            EXPECT_EQ(seen[ReportText(t, i)], 1) << ReportText(t, i);
    }
}

} // namespace
} // namespace pandel::test
