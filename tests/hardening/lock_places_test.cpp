// What a local account can plant at the lock places, which any account may write: a FIFO or a
// directory is no lock, and the report goes on without it at once.
#include "report/report_sender.h"
#include "tests/report/report_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/loopback_server.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace pandel::test {
namespace {

TEST(LockPlaces, AnythingButAPlainFileAtALockPlaceNeverHoldsAReport) {
    struct Plant {
        const char* name;
        int (*make)(const char* path);
    };
    const Plant plants[] = {
        {"FIFO", [](const char* path) { return mkfifo(path, 0666); }},
        {"directory", [](const char* path) { return mkdir(path, 0777); }},
    };
    for (const Plant& plant : plants) {
        SCOPED_TRACE(plant.name);
        TempRoot root;
        MakeDirectories(root.Sub("locks"));
        for (const char* lock : {"locks/h_Proxylock", "locks/h_TryGetIpLock_uuid"})
            ASSERT_EQ(plant.make(root.Sub(lock).c_str()), 0);
        LoopbackServer server(LoopbackServer::SetResponse(4));
        const std::string url = LoopbackUrl(server.port());
        // In a child: a report that blocked for ever would take the test program with it. It
        // takes a fraction of a second; the bound only tells a block from a slow machine.
        const ProcessResult child = RunForked(
            [&url] {
                std::int32_t slot = 0;
                return SendReport(url.c_str(), u"report", &slot) == 0 && slot == 4 ? 0 : 1;
            },
            10000);
        ASSERT_FALSE(child.timedOut) << "the report blocked at the lock place";
        EXPECT_EQ(child.exitCode, 0);
        EXPECT_EQ(server.WaitForRequests(1), 1u);
    }
}

} // namespace
} // namespace pandel::test
