// A server that never answers the SYN, in a network namespace of the test's own: the connect is
// given up after 21 s. Needs root (CI runs as root); skipped with the reason where the namespace
// cannot be made. Takes about 21 seconds.
#include "harness/child_process.h"
#include "harness/fake_platform.h"
#include "report/report_sender.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <unistd.h>

#include <chrono>

namespace pandel::test {
namespace {

constexpr int kNoNamespace = 10;
constexpr int kNoVethPair = 11;
constexpr int kWrongResult = 12;
constexpr int kCommandWaitMs = 10000;

// In the child's own namespace: a veth pair whose far end has no address, and a permanent
// neighbour entry for an address behind it, so SYNs leave and nothing ever answers.
int SendIntoBlackHole() {
    if (unshare(CLONE_NEWNET) != 0)
        return kNoNamespace;
    const char* setup[] = {
        "ip link set lo up",
        "ip link add pandel-bh0 type veth peer name pandel-bh1",
        "ip addr add 10.213.0.1/24 dev pandel-bh0",
        "ip link set pandel-bh0 up",
        "ip link set pandel-bh1 up",
        "ip neigh replace 10.213.0.2 lladdr 02:00:00:00:d5:02 dev pandel-bh0 nud permanent",
    };
    for (const char* command : setup) {
        if (RunProcess({"/bin/sh", "-c", command}, {}, kCommandWaitMs).exitCode != 0)
            return kNoVethPair;
    }
    ScopedFakePlatform platform;
    std::int32_t slot = 77;
    const int result = SendReport("http://10.213.0.2:8080/App/Ep", u"report", &slot);
    return result == 28 && slot == 77 ? 0 : kWrongResult;
}

TEST(BlackHole, UnansweredConnectIsGivenUpAfterTwentyOneSeconds) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to make a network namespace with a veth pair";
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult child = RunForked(SendIntoBlackHole, 60000);
    const auto waited = std::chrono::steady_clock::now() - start;
    if (child.exitCode == kNoNamespace)
        GTEST_SKIP() << "no network namespace can be made here (unshare refused)";
    if (child.exitCode == kNoVethPair)
        GTEST_SKIP() << "no veth pair can be made in the namespace (ip link refused)";
    ASSERT_FALSE(child.timedOut) << "the connect was not given up within 60 s";
    EXPECT_EQ(child.exitCode, 0) << "the report did not fail with 28, slot untouched";
    // The terminals' own give-up is at 21 s; the system here would keep trying for 127 s.
    EXPECT_GE(waited, std::chrono::seconds(20));
    EXPECT_LT(waited, std::chrono::seconds(25));
}

} // namespace
} // namespace pandel::test
