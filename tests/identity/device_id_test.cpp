// The identity rule, the alias table and the cache, against the fake platform's adapters and
// registry.
#include "config/device_id.h"

#include "platform/wide_text.h"
#include "tests/support/fake_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pandel {
namespace {

using platform::AdapterAnswer;
using platform::HardwareAddress;
using Bytes = std::vector<std::uint8_t>;
using test::FakePlatform;
using test::ScopedFakePlatform;

constexpr HardwareAddress kA{0x02, 0, 0, 0, 0, 0x0A};
constexpr HardwareAddress kB{0x02, 0, 0, 0, 0, 0x0B};
constexpr HardwareAddress kAB{0x02, 0, 0, 0, 0, 0xAB};
constexpr HardwareAddress kLowFirstByte{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr HardwareAddress k7F{0x7F, 0xFF, 0, 0, 0, 0};
constexpr HardwareAddress k80{0x80, 0x00, 0, 0, 0, 0};
constexpr HardwareAddress kOther{0x0C, 0x11, 0x22, 0x33, 0x44, 0x55};

AdapterAnswer Answering(const HardwareAddress& address, std::string name = "eth") {
    return {std::move(name), address};
}
AdapterAnswer Silent(std::string name = "wlan") {
    return {std::move(name), std::nullopt};
}
Bytes BytesOf(const HardwareAddress& address) {
    return Bytes(address.begin(), address.end());
}

std::u16string Path(const std::u16string& name) {
    return FakePlatform::RegistryPath(kAliasTableKey, name);
}

std::string Compute(std::int32_t* result = nullptr) {
    char16_t buffer[kDeviceIdComputeBufferSize] = {};
    std::int32_t rc = ComputeDeviceId(buffer);
    if (result != nullptr)
        *result = rc;
    return platform::Utf16ToUtf8(buffer);
}

struct SelectionCase {
    const char* label;
    std::vector<AdapterAnswer> adapters;
    std::map<std::u16string, Bytes> tableBefore; // value name -> data
    std::string identity;
    std::map<std::u16string, Bytes> tableAfter;
};

class IdentitySelection : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(IdentitySelection, ChoosesLowestAddressAndRecordsOthers) {
    const SelectionCase& c = GetParam();
    ScopedFakePlatform platform;
    platform.fake.adapters = c.adapters;
    platform.fake.registry[u"Software\\Orvane\\LogModule\\PluginPandel"] = {1};
    for (const auto& [name, data] : c.tableBefore)
        platform.fake.registry[Path(name)] = data;

    std::int32_t result = -7;
    EXPECT_EQ(Compute(&result), c.identity);
    EXPECT_EQ(result, 0);

    std::map<std::u16string, std::vector<std::uint8_t>> expected;
    expected[u"Software\\Orvane\\LogModule\\PluginPandel"] = {1}; // other keys untouched
    for (const auto& [name, data] : c.tableAfter)
        expected[Path(name)] = data;
    EXPECT_EQ(platform.fake.registry, expected);
}

const std::string kLongName(125, 'n'); // "//./" + 125 + terminator = 130: the longest that fits

INSTANTIATE_TEST_SUITE_P(
    Cases, IdentitySelection,
    ::testing::Values(
        SelectionCase{"OneAdapterNoAliases", {Answering(kA)}, {}, "02000000000A", {}},
        SelectionCase{"LowerLaterInList",
                      {Answering(kB), Answering(kA)},
                      {},
                      "02000000000A",
                      {{u"02000000000B", BytesOf(kA)}}},
        SelectionCase{"UppercaseDigits", {Answering(kAB)}, {}, "0200000000AB", {}},
        SelectionCase{"FirstDifferingByteDecides",
                      {Answering(kA), Answering(kLowFirstByte)},
                      {},
                      "01FFFFFFFFFF",
                      {{u"02000000000A", BytesOf(kLowFirstByte)}}},
        SelectionCase{"BytesCompareUnsigned",
                      {Answering(k80), Answering(k7F)},
                      {},
                      "7FFF00000000",
                      {{u"800000000000", BytesOf(k7F)}}},
        SelectionCase{"SameAddressTwicePointsToItself",
                      {Answering(kA), Answering(kA)},
                      {},
                      "02000000000A",
                      {{u"02000000000A", BytesOf(kA)}}},
        SelectionCase{"AliasReplacesBestAndOthersFollowIt",
                      {Answering(kB), Answering(kA), Answering(kAB)},
                      {{u"02000000000A", BytesOf(kOther)}, {u"0200000000AB", BytesOf(kA)}},
                      "0C1122334455",
                      {{u"02000000000A", BytesOf(kOther)},
                       {u"02000000000B", BytesOf(kOther)},
                       {u"0200000000AB", BytesOf(kOther)}}},
        SelectionCase{"ShortAliasReplacesItsLeadingBytesOnly",
                      {Answering(kA)},
                      {{u"02000000000A", {0xDE, 0xAD, 0xBE}}},
                      "DEADBE00000A",
                      {{u"02000000000A", {0xDE, 0xAD, 0xBE}}}},
        SelectionCase{"EmptyAliasChangesNothing",
                      {Answering(kA)},
                      {{u"02000000000A", {}}},
                      "02000000000A",
                      {{u"02000000000A", {}}}},
        SelectionCase{"AliasLongerThanAnAddressIgnored",
                      {Answering(kA)},
                      {{u"02000000000A", {1, 2, 3, 4, 5, 6, 7}}},
                      "02000000000A",
                      {{u"02000000000A", {1, 2, 3, 4, 5, 6, 7}}}},
        SelectionCase{"SilentAdaptersSkipped",
                      {Silent(), Answering(kB), Silent(), Answering(kA)},
                      {},
                      "02000000000A",
                      {{u"02000000000B", BytesOf(kA)}}},
        SelectionCase{"NoAnswerGivesZeros", {Silent(), Silent()}, {}, "000000000000", {}},
        SelectionCase{"NoAnswerStillLooksUpAlias",
                      {Silent()},
                      {{u"000000000000", BytesOf(kB)}},
                      "02000000000B",
                      {{u"000000000000", BytesOf(kB)}}},
        SelectionCase{"LongestNameThatFits",
                      {Answering(kB), Answering(kA, kLongName)},
                      {},
                      "02000000000A",
                      {{u"02000000000B", BytesOf(kA)}}},
        SelectionCase{"NameTooLongForDevicePathSkipped",
                      {Answering(kB), Answering(kA, kLongName + "x")},
                      {},
                      "02000000000B",
                      {}}),
    [](const ::testing::TestParamInfo<SelectionCase>& info) { return info.param.label; });

// The life of one terminal: X lower than Y; X removed; Z lower than Y fitted beside Y.
TEST(IdentityHistory, SurvivesRemovalAndFollowsReplacement) {
    const HardwareAddress x{0x00, 0x10, 0, 0, 0, 0x01};
    const HardwareAddress y{0x00, 0x20, 0, 0, 0, 0x02};
    const HardwareAddress z{0x00, 0x15, 0, 0, 0, 0x03};
    ScopedFakePlatform platform;
    FakePlatform& fake = platform.fake;

    fake.adapters = std::vector<AdapterAnswer>{Answering(y, "eth1"), Answering(x, "eth0")};
    EXPECT_EQ(Compute(), "001000000001");
    EXPECT_EQ(fake.registry[Path(u"002000000002")], BytesOf(x));

    fake.adapters = std::vector<AdapterAnswer>{Answering(y, "eth1")};
    fake.trace.clear();
    EXPECT_EQ(Compute(), "001000000001");
    EXPECT_EQ(std::count_if(fake.trace.begin(), fake.trace.end(),
                            [](const std::string& e) { return e.rfind("RegistryWrite", 0) == 0; }),
              0);

    fake.adapters = std::vector<AdapterAnswer>{Answering(y, "eth1"), Answering(z, "eth2")};
    EXPECT_EQ(Compute(), "001500000003");
    EXPECT_EQ(fake.registry[Path(u"002000000002")], BytesOf(z));
    EXPECT_EQ(fake.registry.count(Path(u"001500000003")), 0u);
}

TEST(IdentityFailures, AdapterListUnavailableLeavesBufferUntouched) {
    for (const bool listMissing : {true, false}) {
        ScopedFakePlatform platform;
        if (!listMissing)
            platform.fake.adapters = std::vector<AdapterAnswer>{};
        char16_t buffer[kDeviceIdComputeBufferSize];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        EXPECT_EQ(ComputeDeviceId(buffer), -1) << listMissing;
        EXPECT_TRUE(std::all_of(std::begin(buffer), std::end(buffer),
                                [](char16_t c) { return c == u'#'; }));
        EXPECT_EQ(platform.fake.trace, std::vector<std::string>{"QueryAdapterPermanentAddresses"});
    }
}

TEST(IdentityFailures, RegistryFailuresAreSilent) {
    ScopedFakePlatform platform;
    FakePlatform& fake = platform.fake;
    fake.adapters = std::vector<AdapterAnswer>{Answering(kB), Answering(kA), Answering(kAB)};
    fake.registry[Path(u"02000000000A")] = BytesOf(kOther);
    fake.failRegistryCall = 1; // the lookup
    EXPECT_EQ(Compute(), "02000000000A");
    EXPECT_EQ(fake.registry[Path(u"02000000000B")], BytesOf(kA));

    ScopedFakePlatform second;
    second.fake.adapters = fake.adapters;
    second.fake.failRegistryCall = 2; // the first of two writes
    std::int32_t result = -7;
    EXPECT_EQ(Compute(&result), "02000000000A");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(second.fake.registry.count(Path(u"02000000000B")), 0u);
    EXPECT_EQ(second.fake.registry[Path(u"0200000000AB")], BytesOf(kA));

    ScopedFakePlatform dead;
    dead.fake.adapters = fake.adapters;
    dead.fake.failRegistryCall = 1;
    dead.fake.failRegistryForGood = true;
    EXPECT_EQ(Compute(&result), "02000000000A");
    EXPECT_EQ(result, 0);
}

TEST(IdentityCache, FailureRetriesThenSuccessIsKeptForGood) {
    ScopedFakePlatform platform;
    FakePlatform& fake = platform.fake;
    DeviceIdentity identity;
    char16_t buffer[40];

    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(identity.Get(buffer), 1);
    EXPECT_EQ(buffer[0], u'\0');
    EXPECT_EQ(buffer[1], u'#');

    fake.adapters = std::vector<AdapterAnswer>{Answering(kB), Answering(kA)};
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(identity.Get(buffer), 1);
    EXPECT_EQ(std::u16string(buffer), u"02000000000A");
    EXPECT_EQ(buffer[13], u'#'); // nothing written past the terminator

    fake.adapters = std::vector<AdapterAnswer>{Answering(kAB)};
    fake.trace.clear();
    EXPECT_EQ(identity.Get(buffer), 1);
    EXPECT_EQ(std::u16string(buffer), u"02000000000A");
    EXPECT_TRUE(fake.trace.empty()); // neither adapters nor registry touched again
}

TEST(IdentityCache, ModuleWideIdentityIsComputedOnce) {
    ScopedFakePlatform platform;
    platform.fake.adapters = std::vector<AdapterAnswer>{Answering(kAB)};
    char16_t buffer[kDeviceIdMinimumBufferSize];
    EXPECT_EQ(GetDeviceId(buffer), 1);
    EXPECT_EQ(std::u16string(buffer), u"0200000000AB");

    platform.fake.adapters = std::nullopt;
    EXPECT_EQ(GetDeviceId(buffer), 1);
    EXPECT_EQ(std::u16string(buffer), u"0200000000AB");
}

} // namespace
} // namespace pandel
