// What one response can cost the host's thread in CPU: SetResponses whose element carries many
// distinct attributes (the runtime's parser is quadratic in them), read from memory. Each must
// stay below one second of CPU on this machine; a benchmark that does not reports an error.
#include "harness/http_framing.h"
#include "report/soap_exchange.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr double kCpuBudgetSeconds = 1.0;

// The whole HTTP response, at most size bytes: a SetResponse whose element carries attributes
// a0="" a1="" ... as long as they fit.
std::string ManyAttributesResponse(std::size_t size) {
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
                             "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                             "<SOAP-ENV:Body><SetResponse xmlns=\"urn:pandel:device-config\"";
    const std::string tail = "><r>3</r></SetResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>";
    const std::size_t httpHead = 120; // status, Content-Type, Content-Length, Connection
    std::string attributes;
    for (std::size_t i = 0;; ++i) {
        const std::string next = " a" + std::to_string(i) + "=\"\"";
        if (httpHead + head.size() + attributes.size() + next.size() + tail.size() > size)
            break;
        attributes += next;
    }
    return pandel::test::XmlResponse("200 OK", head + attributes + tail);
}

const std::string* response = nullptr;
std::size_t offset = 0;

std::size_t FromMemory(struct soap*, char* buffer, std::size_t length) {
    const std::size_t n = std::min(length, response->size() - offset);
    std::memcpy(buffer, response->data() + offset, n);
    offset += n;
    return n;
}

// state.range(0): the response's size in bytes. 64 KiB is the largest SetResponse read whole;
// 977 KB with 140,000 attributes is what a hostile server sent, cut off at the response limit.
void BM_ManyAttributesSetResponse(benchmark::State& state) {
    const std::string text = ManyAttributesResponse(static_cast<std::size_t>(state.range(0)));
    response = &text;
    int result = 0;
    for (auto _ : state) {
        offset = 0;
        std::int32_t r = 0;
        result = pandel::soap::ReceiveSetResponseFrom(FromMemory, &r);
        benchmark::DoNotOptimize(r);
    }
    state.counters["result"] = result;
    response = nullptr;
}
BENCHMARK(BM_ManyAttributesSetResponse)
    ->Arg(64 * 1024)
    ->Arg(977 * 1000)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

// Fails the run when any benchmark's CPU time per iteration is over the budget.
class BudgetReporter : public benchmark::ConsoleReporter {
public:
    bool overBudget = false;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration &&
                run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) >
                    kCpuBudgetSeconds)
                overBudget = true;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    BudgetReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (reporter.overBudget) {
        std::fprintf(stderr, "a response cost more than %.1f s of CPU\n", kCpuBudgetSeconds);
        return 1;
    }
    return 0;
}
