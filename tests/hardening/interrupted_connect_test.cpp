// A host that takes signals (timers, ended children) while a report connects: the kernel never
// restarts a connect that has a send time-out, so the report must go on waiting for the
// handshake itself instead of giving up on the first signal.
#include "harness/child_process.h"
#include "harness/fake_platform.h"
#include "harness/http_framing.h"
#include "harness/loopback_server.h"
#include "report/report_sender.h"
#include "tests/report/report_test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <thread>

namespace pandel::test {
namespace {

void Ignore(int) {}

// A connection accepted within timeoutMs; -1 when none came.
int AcceptWithin(int listener, int timeoutMs) {
    pollfd ready{listener, POLLIN, 0};
    if (poll(&ready, 1, timeoutMs) != 1)
        return -1;
    return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

// Reads until the request is whole (or timeoutMs passed without a byte).
std::string ReadRequest(int fd, int timeoutMs) {
    std::string request;
    char piece[4096];
    while (request.size() < MessageSize(request)) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, timeoutMs) != 1)
            break;
        const ssize_t n = read(fd, piece, sizeof piece);
        if (n <= 0)
            break;
        request.append(piece, static_cast<std::size_t>(n));
    }
    return request;
}

TEST(InterruptedConnect, SignalsDuringTheHandshakeDoNotLoseTheReport) {
    // A listener whose queue of one is taken by a connection nobody accepts: the kernel drops
    // the report's SYN, and the handshake waits for its retransmission, about a second later.
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string url = LoopbackUrl(ntohs(address.sin_port));

    ProcessResult reporter;
    std::thread child([&] {
        reporter = RunForked(
            [&] {
                // Signals every 20 ms, with SA_RESTART as a careful host sets them.
                struct sigaction timer {};
                timer.sa_handler = Ignore;
                timer.sa_flags = SA_RESTART;
                sigemptyset(&timer.sa_mask);
                sigaction(SIGALRM, &timer, nullptr);
                itimerval every{{0, 20000}, {0, 20000}};
                setitimer(ITIMER_REAL, &every, nullptr);
                ScopedFakePlatform platform;
                std::int32_t slot = 0;
                const int result = SendReport(url.c_str(), u"report", &slot);
                std::fprintf(stderr, "SendReport %d, r %d\n", result, slot);
                return result == 0 && slot == 7 ? 0 : 1;
            },
            30000);
    });
    // The report is in its handshake (its SYN dropped) well before this; then room is made.
    usleep(300 * 1000);
    const int queued = AcceptWithin(listener, 1000);
    EXPECT_GE(queued, 0);
    close(queued);
    close(filler);
    const int report = AcceptWithin(listener, 10000);
    std::string request;
    if (report >= 0) {
        request = ReadRequest(report, 10000);
        const std::string answer = LoopbackServer::SetResponse(7);
        EXPECT_EQ(write(report, answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
        close(report);
    }
    child.join();
    close(listener);
    EXPECT_GE(report, 0) << "the report never connected";
    EXPECT_NE(request.find("<soap:xIn"), std::string::npos) << request;
    EXPECT_FALSE(reporter.timedOut);
    EXPECT_EQ(reporter.exitCode, 0);
}

} // namespace
} // namespace pandel::test
