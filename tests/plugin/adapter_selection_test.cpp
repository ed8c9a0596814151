// The adapter selection's schedule in virtual time, and the probe's document, URL and verdict.
#include "plugin/adapter_selection.h"

#include "harness/fake_platform.h"
#include "platform/wide_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace pandel {
namespace {

using test::FakePlatform;
using ::testing::ElementsAre;

// Imaging functions that record into the fake platform's trace, so that every wait and every
// call appear in one order. `written` is what GetAdapterCount puts through its pointer.
AdapterControl RecordingControl(FakePlatform& fake, std::int32_t count, std::int32_t written = 7) {
    return {[&fake, count, written](std::int32_t* out) {
                fake.Record("GetAdapterCount " + std::to_string(*out));
                *out = written;
                return count;
            },
            [&fake](std::int32_t adapter, std::int32_t enable) {
                fake.Record("EnableAdapter " + std::to_string(adapter) + " " +
                            std::to_string(enable));
                return 0;
            }};
}

// A probe that fails `failures` times, then succeeds.
std::function<std::int32_t()> Probe(FakePlatform& fake, int failures) {
    auto calls = std::make_shared<int>(0);
    return [&fake, failures, calls] {
        fake.Record("Probe");
        return ++*calls > failures ? 1 : 0;
    };
}

TEST(Selection, EveryProbeFailureCount) {
    struct Case {
        int failures, probes, pauses;
        std::int32_t adapter;
        std::uint64_t sleptMs;
    } cases[] = {{0, 1, 0, 1, 4500},   {1, 2, 1, 1, 5500},    {2, 3, 2, 1, 6500},
                 {3, 4, 3, 1, 7500},   {4, 5, 4, 1, 8500},    {5, 6, 5, 1, 9500},
                 {6, 7, 6, 1, 10500},  {7, 8, 7, 1, 11500},   {8, 9, 8, 1, 12500},
                 {9, 10, 9, 1, 13500}, {10, 10, 9, 2, 13500}, {99, 10, 9, 2, 13500}};
    for (const Case& c : cases) {
        test::ScopedFakePlatform platform;
        FakePlatform& fake = platform.fake;
        EXPECT_EQ(SelectAdapterWith(RecordingControl(fake, 2), Probe(fake, c.failures)), c.adapter);

        std::vector<std::string> expected = {"GetAdapterCount 0", "EnableAdapter 2 0",
                                             "SleepMs 1500"};
        for (int probe = 1; probe <= c.probes; ++probe) {
            expected.push_back("Probe");
            if (probe <= c.pauses)
                expected.push_back("SleepMs 1000");
        }
        expected.insert(expected.end(), {"EnableAdapter 2 1", "SleepMs 3000"});
        EXPECT_EQ(fake.trace, expected) << c.failures;
        EXPECT_EQ(fake.sleptMs, c.sleptMs) << c.failures;
    }
}

TEST(Selection, OnlyTheReturnedCountOfTwoStartsTheTest) {
    for (std::int32_t count : {0, 1, 3, -1}) {
        test::ScopedFakePlatform platform;
        EXPECT_EQ(
            SelectAdapterWith(RecordingControl(platform.fake, count, 2), Probe(platform.fake, 0)),
            1);
        EXPECT_THAT(platform.fake.trace, ElementsAre("GetAdapterCount 0")) << count;
    }
    test::ScopedFakePlatform platform;
    EXPECT_EQ(SelectAdapterWith(RecordingControl(platform.fake, 2, 1), Probe(platform.fake, 0)), 1);
    EXPECT_EQ(platform.fake.sleptMs, 4500u);
}

TEST(Selection, ProbeThatThrowsStillSwitchesSecondAdapterOn) {
    test::ScopedFakePlatform platform;
    FakePlatform& fake = platform.fake;
    auto probe = [&fake]() -> std::int32_t {
        fake.Record("Probe");
        throw std::runtime_error("fault");
    };
    EXPECT_THROW(SelectAdapterWith(RecordingControl(fake, 2), probe), std::runtime_error);
    EXPECT_THAT(fake.trace, ElementsAre("GetAdapterCount 0", "EnableAdapter 2 0", "SleepMs 1500",
                                        "Probe", "EnableAdapter 2 1"));
}

// Runs one probe with the given URL, identity and sender result; records what was sent.
struct ProbeRun {
    std::vector<std::string> calls;
    std::vector<std::string> sent; // URL, then the document, per send
    std::int32_t reached;

    ProbeRun(const std::u16string& url, const std::u16string& id = u"02000000000A",
             int sendResult = 0) {
        ProbeServices services;
        services.getServerUrl = [&](std::u16string& out) {
            calls.push_back(out.empty() ? "GetServerUrl" : "GetServerUrl into a non-empty string");
            out += url;
            return 0;
        };
        services.getDeviceId = [&](char16_t* buffer) {
            bool zeroFilled = std::u16string(buffer, kProbeDeviceIdSize) ==
                              std::u16string(kProbeDeviceIdSize, u'\0');
            calls.push_back(zeroFilled ? "GetDeviceId" : "GetDeviceId into a dirty buffer");
            std::copy(id.begin(), id.end(), buffer);
            return 1;
        };
        services.sendReport = [&](const char* to, const char16_t* report, std::int32_t* result) {
            calls.push_back("SendReport " + std::to_string(*result));
            sent.insert(sent.end(), {to, platform::Utf16ToUtf8(report)});
            *result = 5;
            return sendResult;
        };
        reached = ProbeServerWith(services);
    }
};

TEST(Probe, SendsRootWithIdentityAndTakesTheSendersVerdict) {
    const std::u16string url = u"http://127.0.0.1:8080/DeviceManager/DeviceConfig";
    ProbeRun run(url);
    EXPECT_EQ(run.reached, 1);
    EXPECT_THAT(run.calls, ElementsAre("GetServerUrl", "GetDeviceId", "SendReport 0"));
    EXPECT_THAT(run.sent, ElementsAre("http://127.0.0.1:8080/DeviceManager/DeviceConfig",
                                      "<Root ID=\"02000000000A\"/>"));

    EXPECT_THAT(ProbeRun(url, u"").sent, ElementsAre(::testing::_, "<Root ID=\"\"/>"));
    for (int sendResult : {2, 28, -1, 404})
        EXPECT_EQ(ProbeRun(url, u"02000000000A", sendResult).reached, 0) << sendResult;
}

TEST(Probe, UrlThatCannotBeSentWholeIsAFailedProbeWithoutSending) {
    const std::u16string prefix = u"http://127.0.0.1:1/";
    const std::u16string longest = prefix + std::u16string(259 - prefix.size(), u'a');
    for (const std::u16string& url :
         {std::u16string(), std::u16string(u"http://h/caf\u00e9"), longest + u"a"}) {
        ProbeRun run(url);
        EXPECT_EQ(run.reached, 0);
        EXPECT_THAT(run.calls, ElementsAre("GetServerUrl", "GetDeviceId")) << url.size();
    }
    ProbeRun run(longest);
    EXPECT_EQ(run.reached, 1);
    EXPECT_THAT(run.sent, ElementsAre(platform::Utf16ToUtf8(longest), ::testing::_));
}

} // namespace
} // namespace pandel
