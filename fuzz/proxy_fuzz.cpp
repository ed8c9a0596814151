// The proxy settings file, the endpoint rewrite and the local address list on any endpoint text,
// host name and addresses. The settings file is a real file; the rest comes from FakePlatform.
#include "fuzz/fuzz_support.h"
#include "harness/fake_platform.h"
#include "proxy/proxy_settings.h"
#include "report/report_sender.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace {

[[noreturn]] void Fail(const char* why) {
    std::fprintf(stderr, "proxy fuzz: %s\n", why);
    std::abort();
}

// Exactly the buffer's size on the heap: one byte past it is an ASan report.
std::unique_ptr<char[]> Buffer(std::size_t size, const std::string& content) {
    auto buffer = std::make_unique<char[]>(size);
    std::memset(buffer.get(), 'x', size);
    std::memcpy(buffer.get(), content.data(), std::min(size, content.size()));
    return buffer;
}

bool Terminated(const char* text, std::size_t size) {
    return strnlen(text, size) < size;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    pandel::fuzz::SilenceStandardOutput();
    mkdir((pandel::fuzz::ScratchDirectory() + "/Conf").c_str(), 0755);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    pandel::test::ScopedFakePlatform platform;
    pandel::test::FakePlatform& fake = platform.fake;
    fake.hostExecutablePath = pandel::fuzz::ScratchDirectory() + "/agent";
    const std::string settings = data.ConsumeRandomLengthString(1024);
    if (!pandel::fuzz::WriteFile(pandel::fuzz::ScratchDirectory() + "/Conf/ProxyInfo.xml",
                                 settings))
        Fail("settings file not written");
    if (data.ConsumeBool())
        fake.hostName = data.ConsumeRandomLengthString(64);
    else
        fake.hostName.reset();
    std::vector<std::string>& addresses = fake.resolver[fake.hostName.value_or("")];
    const int count = data.ConsumeIntegralInRange(0, 40);
    for (int i = 0; i < count; ++i)
        addresses.push_back(data.ConsumeRandomLengthString(20));
    if (data.ConsumeBool())
        platform.faults.OpenNamedLock.FailCall(1, /*forGood=*/true);
    const bool terminate = data.ConsumeBool();
    std::string endpointText = data.ConsumeRemainingBytesAsString();
    if (terminate)
        endpointText.push_back('\0');

    auto endpoint = Buffer(pandel::kEndpointBufferSize, endpointText);
    const bool wasTerminated = Terminated(endpoint.get(), pandel::kEndpointBufferSize);
    if (pandel::ApplyProxyToEndpoint(endpoint.get()) != 0)
        Fail("rewrite gave other than 0");
    if (wasTerminated && !Terminated(endpoint.get(), pandel::kEndpointBufferSize))
        Fail("rewritten endpoint lost its terminator");

    auto list = Buffer(pandel::kLocalAddressBufferSize, "");
    if (pandel::GetLocalAddressList(list.get()) != 0)
        Fail("address list gave other than 0");
    if (!Terminated(list.get(), pandel::kLocalAddressBufferSize))
        Fail("address list not terminated inside its buffer");
    if (list[0] != '0' && list[0] != '1')
        Fail("address list without its proxy flag");

    char host[pandel::kProxyWordBufferSize];
    char port[pandel::kProxyWordBufferSize];
    if (pandel::ReadProxySettings(host, port) &&
        (!Terminated(host, sizeof host) || !Terminated(port, sizeof port)))
        Fail("proxy word not terminated inside its buffer");
    return 0;
}
