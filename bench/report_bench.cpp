// One SendReport exchange with a loopback server that answers at once, beside a minimal blocking
// client that sends the very bytes SendReport sent to the same server.
#include "bench/answering_server.h"
#include "platform/wide_text.h"
#include "report/proxy_settings.h"
#include "report/report_sender.h"
#include "report/soap_runtime.h"

#include <benchmark/benchmark.h>
#include <stdsoap2.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

using pandel::bench::AnsweringServer;

const std::u16string kReport =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?><Root><TaskStatusResponse><ScheduleId>42"
    u"</ScheduleId><Progress>101</Progress><ErrorInfo></ErrorInfo></TaskStatusResponse></Root>";

struct Stage {
    std::unique_ptr<AnsweringServer> server;
    std::string url;
    std::string request; // what SendReport sent, byte for byte
};
Stage* stage = nullptr;

// connect, one write of the request, read to close. Returns the bytes read, -1 on failure.
long RawExchange(std::uint16_t port, const std::string& request) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    long total = -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        total = 0;
        for (;;) {
            ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            total += n;
        }
    }
    close(fd);
    return total;
}

void BM_SendReport(benchmark::State& state) {
    std::int32_t r = -1;
    for (auto _ : state) {
        if (pandel::SendReport(stage->url.c_str(), kReport.c_str(), &r) != 0) {
            state.SkipWithError("SendReport failed");
            break;
        }
    }
}

void BM_RawClient(benchmark::State& state) {
    const long expected = static_cast<long>(AnsweringServer::Answer().size());
    for (auto _ : state) {
        if (RawExchange(stage->server->port(), stage->request) != expected) {
            state.SkipWithError("raw exchange failed");
            break;
        }
    }
}

// Two steps every SendReport takes that the raw client does not, measured alone to say where
// the difference goes: the local address list (proxy file under its lock, host name and its
// addresses under theirs) and a runtime context made and released.
void BM_LocalAddressList(benchmark::State& state) {
    for (auto _ : state) {
        char list[pandel::kLocalAddressBufferSize] = {};
        pandel::GetLocalAddressList(list);
        benchmark::DoNotOptimize(list);
    }
}

void BM_SoapContext(benchmark::State& state) {
    static const Namespace table[] = {
        {"SOAP-ENV", "http://schemas.xmlsoap.org/soap/envelope/", nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr}};
    for (auto _ : state)
        pandel::soap::ReleaseContext(pandel::soap::NewContext(table));
}

BENCHMARK(BM_SendReport)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RawClient)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_LocalAddressList)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SoapContext)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    char root[] = "/tmp/pandel-bench-XXXXXX";
    if (mkdtemp(root) == nullptr)
        return 1;
    setenv("PANDEL_ROOT", root, 1); // the host-name lock lives under it

    Stage s;
    s.server = std::make_unique<AnsweringServer>();
    s.url = s.server->Url();
    std::int32_t r = -1;
    int first = pandel::SendReport(s.url.c_str(), kReport.c_str(), &r);
    s.request = s.server->LastRequest();
    if (first != 0 || r != 0 || s.request.empty()) {
        std::fprintf(stderr, "report_bench: the first SendReport failed (%d)\n", first);
        return 1;
    }
    stage = &s;
    std::fprintf(stderr, "report_bench: request of %zu bytes\n", s.request.size());

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    stage = nullptr;
    std::string cleanup = std::string("rm -rf '") + root + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
