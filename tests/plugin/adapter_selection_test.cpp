// The adapter selection's schedule in virtual time, and the probe's document, URL and verdict.
#include "plugin/adapter_selection.h"

#include "platform/wide_text.h"
#include "tests/support/fake_platform.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace pandel {
namespace {

using test::FakePlatform;
using test::ScopedFakePlatform;
using ::testing::ElementsAre;

// Imaging functions that record into the fake platform's trace, so that every wait and every
// call appear in one order.
AdapterControl RecordingControl(FakePlatform& fake, std::int32_t count, std::int32_t written = -1) {
    AdapterControl control;
    control.getAdapterCount = [&fake, count, written](std::int32_t* out) {
        fake.Record(std::string("GetAdapterCount ") + (out != nullptr && *out == 0 ? "0" : "?"));
        if (written >= 0)
            *out = written;
        return count;
    };
    control.enableAdapter = [&fake](std::int32_t adapter, std::int32_t enable) {
        fake.Record("EnableAdapter " + std::to_string(adapter) + " " + std::to_string(enable));
        return 0;
    };
    return control;
}

// A probe that fails `failures` times, then succeeds.
std::function<std::int32_t()> Probe(FakePlatform& fake, int failures) {
    auto calls = std::make_shared<int>(0);
    return [&fake, failures, calls] {
        fake.Record("Probe");
        return ++*calls > failures ? 1 : 0;
    };
}

struct ScheduleCase {
    int failures;
    int probes;
    int pauses;
    std::int32_t adapter;
    std::uint64_t totalSleepMs;
};

class Schedule : public ::testing::TestWithParam<ScheduleCase> {};

TEST_P(Schedule, TwoAdaptersSwitchProbeAndWaitInOrder) {
    const ScheduleCase& c = GetParam();
    ScopedFakePlatform platform;
    FakePlatform& fake = platform.fake;

    EXPECT_EQ(SelectAdapterWith(RecordingControl(fake, 2), Probe(fake, c.failures)), c.adapter);

    std::vector<std::string> expected = {"GetAdapterCount 0", "EnableAdapter 2 0", "SleepMs 1500"};
    for (int probe = 1; probe <= c.probes; ++probe) {
        expected.push_back("Probe");
        if (probe <= c.pauses)
            expected.push_back("SleepMs 1000");
    }
    expected.push_back("EnableAdapter 2 1");
    expected.push_back("SleepMs 3000");
    EXPECT_EQ(fake.trace, expected);
    EXPECT_EQ(fake.sleptMs, c.totalSleepMs);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFailureCount, Schedule,
    ::testing::Values(ScheduleCase{0, 1, 0, 1, 4500}, ScheduleCase{1, 2, 1, 1, 5500},
                      ScheduleCase{2, 3, 2, 1, 6500}, ScheduleCase{3, 4, 3, 1, 7500},
                      ScheduleCase{4, 5, 4, 1, 8500}, ScheduleCase{5, 6, 5, 1, 9500},
                      ScheduleCase{6, 7, 6, 1, 10500}, ScheduleCase{7, 8, 7, 1, 11500},
                      ScheduleCase{8, 9, 8, 1, 12500}, ScheduleCase{9, 10, 9, 1, 13500},
                      ScheduleCase{10, 10, 9, 2, 13500}, ScheduleCase{1000, 10, 9, 2, 13500}),
    [](const ::testing::TestParamInfo<ScheduleCase>& info) {
        return "Failures" + std::to_string(info.param.failures);
    });

TEST(Selection, OtherAdapterCountsGiveFirstAdapterAtOnce) {
    for (std::int32_t count : {0, 1, 3, -1}) {
        ScopedFakePlatform platform;
        EXPECT_EQ(
            SelectAdapterWith(RecordingControl(platform.fake, count), Probe(platform.fake, 0)), 1);
        EXPECT_THAT(platform.fake.trace, ElementsAre("GetAdapterCount 0")) << count;
    }
}

TEST(Selection, CountWrittenThroughThePointerIsNotRead) {
    ScopedFakePlatform one;
    EXPECT_EQ(SelectAdapterWith(RecordingControl(one.fake, 1, 2), Probe(one.fake, 0)), 1);
    EXPECT_EQ(one.fake.trace.size(), 1u);

    ScopedFakePlatform two;
    EXPECT_EQ(SelectAdapterWith(RecordingControl(two.fake, 2, 1), Probe(two.fake, 0)), 1);
    EXPECT_EQ(two.fake.sleptMs, 4500u);
}

TEST(Selection, ProbeThatThrowsStillSwitchesSecondAdapterOn) {
    ScopedFakePlatform platform;
    FakePlatform& fake = platform.fake;
    auto probe = [&fake]() -> std::int32_t {
        fake.Record("Probe");
        throw std::runtime_error("fault");
    };
    EXPECT_THROW(SelectAdapterWith(RecordingControl(fake, 2), probe), std::runtime_error);
    EXPECT_THAT(fake.trace, ElementsAre("GetAdapterCount 0", "EnableAdapter 2 0", "SleepMs 1500",
                                        "Probe", "EnableAdapter 2 1"));
}

// --- The probe ---------------------------------------------------------------------------

struct SentReport {
    std::string url;
    std::string document;
    std::int32_t resultBefore;
};

struct ProbeFixture {
    std::u16string url = u"http://127.0.0.1:8080/DeviceManager/DeviceConfig";
    std::u16string deviceId = u"02000000000A";
    int sendResult = 0;
    std::vector<std::string> calls;
    std::vector<SentReport> sent;

    ProbeServices Services() {
        ProbeServices services;
        services.getServerUrl = [this](std::u16string& out) {
            calls.push_back("GetServerUrl");
            EXPECT_TRUE(out.empty());
            out += url;
            return url.empty() ? -1 : 0;
        };
        services.getDeviceId = [this](char16_t* buffer) {
            calls.push_back("GetDeviceId");
            for (std::size_t i = 0; i < kProbeDeviceIdSize; ++i)
                EXPECT_EQ(buffer[i], u'\0') << i; // zero-filled before the call
            std::copy(deviceId.begin(), deviceId.end(), buffer);
            return 1;
        };
        services.sendReport = [this](const char* to, const char16_t* report, std::int32_t* result) {
            calls.push_back("SendReport");
            sent.push_back({to, platform::Utf16ToUtf8(report), *result});
            *result = 5;
            return sendResult;
        };
        return services;
    }
};

TEST(Probe, SendsRootWithIdentityToTheServiceUrl) {
    ProbeFixture probe;
    EXPECT_EQ(ProbeServerWith(probe.Services()), 1);
    EXPECT_THAT(probe.calls, ElementsAre("GetServerUrl", "GetDeviceId", "SendReport"));
    ASSERT_EQ(probe.sent.size(), 1u);
    EXPECT_EQ(probe.sent[0].url, "http://127.0.0.1:8080/DeviceManager/DeviceConfig");
    EXPECT_EQ(probe.sent[0].document, "<Root ID=\"02000000000A\"/>");
    EXPECT_EQ(probe.sent[0].resultBefore, 0);
}

TEST(Probe, EmptyIdentityGivesEmptyAttribute) {
    ProbeFixture probe;
    probe.deviceId.clear();
    EXPECT_EQ(ProbeServerWith(probe.Services()), 1);
    ASSERT_EQ(probe.sent.size(), 1u);
    EXPECT_EQ(probe.sent[0].document, "<Root ID=\"\"/>");
}

TEST(Probe, VerdictIsTheSendersResult) {
    for (int sendResult : {0, 2, 28, -1, 404}) {
        ProbeFixture probe;
        probe.sendResult = sendResult;
        EXPECT_EQ(ProbeServerWith(probe.Services()), sendResult == 0 ? 1 : 0) << sendResult;
        EXPECT_EQ(probe.sent.size(), 1u);
    }
}

TEST(Probe, UrlThatCannotBeSentWholeIsAFailedProbeWithoutSending) {
    const std::u16string prefix = u"http://127.0.0.1:1/";
    const std::u16string longest = prefix + std::u16string(259 - prefix.size(), u'a');
    struct Case {
        const char* label;
        std::u16string url;
        bool sent;
    } cases[] = {
        {"empty", u"", false},
        {"non-ASCII", u"http://127.0.0.1:1/caf\u00e9", false},
        {"one byte too long", longest + u"a", false},
        {"longest that fits", longest, true},
    };
    for (const Case& c : cases) {
        ProbeFixture probe;
        probe.url = c.url;
        EXPECT_EQ(ProbeServerWith(probe.Services()), c.sent ? 1 : 0) << c.label;
        ASSERT_EQ(probe.sent.size(), c.sent ? 1u : 0u) << c.label;
        EXPECT_THAT(probe.calls, ::testing::Contains("GetDeviceId")) << c.label;
        if (c.sent) {
            EXPECT_EQ(probe.sent[0].url, platform::Utf16ToUtf8(c.url));
        }
    }
}

} // namespace
} // namespace pandel
