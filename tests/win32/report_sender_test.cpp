// The report sender built for Windows: the Set request read from a real loopback socket, byte for
// byte, above all for the units whose encoding hangs on the width of wchar_t (16 bits here).
#include "report/report_sender.h"

#include "tests/report/report_test_support.h"
#include "tests/support/fake_platform.h"

#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <thread>

namespace pandel::test {
namespace {

constexpr DWORD kSocketTimeoutMs = 20000;

// Takes one connection on a loopback port, reads one whole HTTP request, answers and closes.
class OneRequestServer {
public:
    explicit OneRequestServer(std::string answer) : answer_(std::move(answer)) {
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        if (listener_ == INVALID_SOCKET ||
            bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 1) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~OneRequestServer() {
        closesocket(listener_); // ends an accept still waiting
        if (thread_.joinable())
            thread_.join();
    }
    std::uint16_t port() const { return port_; }
    std::string Request() {
        if (thread_.joinable())
            thread_.join();
        return request_;
    }

private:
    void Serve() {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(listener_, &ready);
        timeval wait{static_cast<long>(kSocketTimeoutMs / 1000), 0};
        if (select(0, &ready, nullptr, nullptr, &wait) != 1)
            return;
        SOCKET peer = accept(listener_, nullptr, nullptr);
        if (peer == INVALID_SOCKET)
            return;
        setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&kSocketTimeoutMs),
                   sizeof kSocketTimeoutMs);
        std::size_t wanted = std::string::npos;
        char chunk[4096];
        while (request_.size() < wanted) {
            const int n = recv(peer, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            request_.append(chunk, static_cast<std::size_t>(n));
            const std::size_t headerEnd = request_.find("\r\n\r\n");
            const std::size_t field = request_.find("Content-Length: ");
            if (wanted == std::string::npos && headerEnd != std::string::npos &&
                field != std::string::npos)
                wanted = headerEnd + 4 + std::stoul(request_.substr(field + 16));
        }
        send(peer, answer_.data(), static_cast<int>(answer_.size()), 0);
        shutdown(peer, SD_BOTH);
        closesocket(peer);
    }

    std::string answer_;
    SOCKET listener_ = INVALID_SOCKET;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::string request_;
};

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
        OneRequestServer server(
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
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
    closesocket(probe); // nobody listens there now
    const std::string url = LoopbackUrl(ntohs(address.sin_port));
    std::int32_t result = 77;
    EXPECT_EQ(SendReport(url.c_str(), u"r", &result), 28);
    EXPECT_EQ(result, 77); // untouched: nothing went out
}

} // namespace
} // namespace pandel::test
