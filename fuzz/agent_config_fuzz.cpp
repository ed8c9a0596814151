// Any Conf/agent.xml through GetServerUrl: a real file beside the host executable.
#include "config/agent_config.h"
#include "fuzz/fuzz_support.h"
#include "harness/fake_platform.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    mkdir((pandel::fuzz::ScratchDirectory() + "/Conf").c_str(), 0755);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    pandel::test::ScopedFakePlatform platform;
    platform.fake.hostExecutablePath = pandel::fuzz::ScratchDirectory() + "/agent";
    const std::string file(reinterpret_cast<const char*>(bytes), size);
    if (!pandel::fuzz::WriteFile(pandel::fuzz::ScratchDirectory() + "/Conf/agent.xml", file))
        std::abort();
    const std::u16string before = u"kept";
    std::u16string url = before;
    const std::int32_t result = pandel::GetServerUrl(url);
    // Failure leaves the URL untouched; success appends one that starts as it must.
    if ((result != 0 && url != before) ||
        (result == 0 && url.compare(0, before.size() + 7, before + u"http://") != 0) ||
        (result != 0 && result != -1)) {
        std::fprintf(stderr, "agent config fuzz: result %d\n", result);
        std::abort();
    }
    return 0;
}
