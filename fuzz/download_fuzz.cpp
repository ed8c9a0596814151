// The Download handling on any command document, with fake imaging functions whose answers the
// fuzzer chooses and a fake sender that checks every report.
#include "fuzz/fuzz_support.h"
#include "plugin/download_command.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char* kServiceUrl = "http://127.0.0.1:9/App/Ep";

struct Answers {
    std::int32_t values[8] = {};
    int reports = 0;
    int taskCalls = 0;
};
Answers g;

[[noreturn]] void Fail(const char* why) {
    std::fprintf(stderr, "download fuzz: %s\n", why);
    std::abort();
}

std::size_t Length(const char16_t* text) {
    if (text == nullptr)
        Fail("null text handed to the imaging library");
    std::size_t n = 0;
    while (text[n] != u'\0')
        ++n;
    return n;
}

// A server field goes to the library whole or not at all.
void CheckServerField(const char16_t* text) {
    if (Length(text) >= pandel::kServerFieldArraySize)
        Fail("server field longer than its array handed on");
}

void CheckAdapter(std::int32_t adapter) {
    ++g.taskCalls;
    if (g.taskCalls > 1)
        Fail("more than one task started");
    (void)adapter;
}

std::int32_t FilesExist() {
    return g.values[0];
}
std::int32_t SupportNc() {
    return g.values[1];
}
std::int32_t UserExists() {
    return g.values[2];
}
std::int32_t UploadNc(const char16_t* addr, const char16_t* port, const char16_t* scope,
                      std::int32_t adapter) {
    CheckServerField(addr);
    CheckServerField(port);
    if (scope != nullptr)
        Length(scope);
    CheckAdapter(adapter);
    return g.values[3];
}
std::int32_t UploadAdapter(std::int32_t adapter, const char16_t* scope) {
    if (scope != nullptr)
        Length(scope);
    CheckAdapter(adapter);
    return g.values[3];
}
std::int32_t RestoreNc(const char16_t* addr, const char16_t* port, std::int32_t adapter) {
    CheckServerField(addr);
    CheckServerField(port);
    CheckAdapter(adapter);
    return g.values[3];
}
std::int32_t RestoreAdapter(std::int32_t adapter) {
    CheckAdapter(adapter);
    return g.values[3];
}
std::int32_t AdapterCount(std::int32_t* count) {
    *count = g.values[4];
    return 0;
}
std::int32_t Enable(std::int32_t, std::int32_t) {
    return 0;
}

const pandel::ImagingClient kImaging = {FilesExist,     SupportNc,     UserExists,
                                        UploadNc,       UploadAdapter, RestoreNc,
                                        RestoreAdapter, AdapterCount,  Enable};

int Send(const char* url, const char16_t* report, std::int32_t* result) {
    if (std::strcmp(url, kServiceUrl) != 0)
        Fail("report sent elsewhere");
    if (result == nullptr)
        Fail("no result slot");
    // Every report is the fixed status document, far below the sender's buffer.
    if (Length(report) >= pandel::kReportBufferSize)
        Fail("report longer than the report buffer");
    if (++g.reports > 2)
        Fail("more than two reports");
    *result = g.values[5];
    return g.values[6];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    g = Answers{};
    for (std::int32_t& value : g.values)
        value = data.ConsumeIntegralInRange<std::int32_t>(-2, 3);
    const bool libraryMissing = data.ConsumeBool();
    const std::u16string document =
        pandel::fuzz::TextFromBytes(data.ConsumeRemainingBytesAsString());

    pandel::DownloadServices services;
    services.imaging = libraryMissing ? nullptr : &kImaging;
    services.selectAdapter = [] { return g.values[7]; };
    services.sendReport = Send;
    pandel::HandleDownload(document, kServiceUrl, services);
    if (g.taskCalls == 1 && g.reports == 0)
        Fail("task started without the started report");
    return 0;
}
