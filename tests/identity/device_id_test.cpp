// The identity rule, the alias table and the cache, against the fake platform's adapters and
// registry.
#include "identity/device_id.h"

#include "harness/fake_platform.h"
#include "platform/wide_text.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace pandel {
namespace {

using platform::AdapterAnswer;
using Bytes = std::vector<std::uint8_t>;
using Table = std::map<std::string, std::string>; // value name -> data as hex digits

Bytes FromHex(const std::string& hex) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// "-" is an adapter that does not answer; "name=hex" an adapter with that name.
std::vector<AdapterAnswer> Adapters(const std::vector<std::string>& specs) {
    std::vector<AdapterAnswer> adapters;
    for (const std::string& spec : specs) {
        const std::size_t eq = spec.find('=');
        const std::string hex = eq == std::string::npos ? spec : spec.substr(eq + 1);
        AdapterAnswer adapter{eq == std::string::npos ? "eth" : spec.substr(0, eq), std::nullopt};
        if (hex != "-") {
            platform::HardwareAddress address;
            Bytes bytes = FromHex(hex);
            std::copy(bytes.begin(), bytes.end(), address.begin());
            adapter.permanentAddress = address;
        }
        adapters.push_back(adapter);
    }
    return adapters;
}

std::u16string Path(const std::string& name) {
    return test::FakePlatform::RegistryPath(kAliasTableKey, platform::Utf8ToUtf16(name));
}

void Store(test::FakePlatform& fake, const Table& table) {
    for (const auto& [name, hex] : table)
        fake.registry[Path(name)] = FromHex(hex);
}

std::string Compute() {
    char16_t buffer[kDeviceIdComputeBufferSize] = {};
    EXPECT_EQ(ComputeDeviceId(buffer), 0);
    return platform::Utf16ToUtf8(buffer);
}

TEST(DeviceIdentity, LowestAnsweringAddressWithAliasTable) {
    const std::string longName(125, 'n'); // "//./", 125 characters and the terminator fill 130
    struct Case {
        std::vector<std::string> adapters;
        Table before;
        std::string identity;
        Table after;
    } cases[] = {
        {{"02000000000A"}, {}, "02000000000A", {}},
        {{"02000000000B", "02000000000A"}, {}, "02000000000A", {{"02000000000B", "02000000000A"}}},
        {{"800000000000", "7FFFFFFFFFFF"}, {}, "7FFFFFFFFFFF", {{"800000000000", "7FFFFFFFFFFF"}}},
        {{"02000000000A", "02000000000A"}, {}, "02000000000A", {{"02000000000A", "02000000000A"}}},
        {{"02000000000B", "02000000000A", "0200000000AB"},
         {{"02000000000A", "0C1122334455"}, {"0200000000AB", "02000000000A"}},
         "0C1122334455",
         {{"02000000000A", "0C1122334455"},
          {"02000000000B", "0C1122334455"},
          {"0200000000AB", "0C1122334455"}}},
        {{"02000000000A"},
         {{"02000000000A", "DEADBE"}},
         "DEADBE00000A",
         {{"02000000000A", "DEADBE"}}},
        {{"-", "-"}, {}, "000000000000", {}},
        {{"-"},
         {{"000000000000", "02000000000B"}},
         "02000000000B",
         {{"000000000000", "02000000000B"}}},
        {{"02000000000C", longName + "=02000000000B", longName + "x=02000000000A"},
         {},
         "02000000000B",
         {{"02000000000C", "02000000000B"}}},
    };
    for (const Case& c : cases) {
        test::ScopedFakePlatform platform;
        platform.fake.adapters = Adapters(c.adapters);
        platform.fake.registry[u"Software\\Orvane\\LogModule\\PluginPandel"] = {1};
        Store(platform.fake, c.before);

        EXPECT_EQ(Compute(), c.identity) << c.adapters[0];

        test::FakePlatform expected;
        expected.registry[u"Software\\Orvane\\LogModule\\PluginPandel"] = {1}; // not touched
        Store(expected, c.after);
        EXPECT_EQ(platform.fake.registry, expected.registry) << c.identity;
    }
}

// The life of one terminal: X lower than Y; X removed; Z lower than Y fitted beside Y.
TEST(DeviceIdentity, SurvivesRemovalAndFollowsReplacement) {
    test::ScopedFakePlatform platform;
    test::FakePlatform& fake = platform.fake;
    fake.adapters = Adapters({"002000000002", "001000000001"});
    EXPECT_EQ(Compute(), "001000000001");
    EXPECT_EQ(fake.registry[Path("002000000002")], FromHex("001000000001"));

    fake.adapters = Adapters({"002000000002"});
    fake.trace.clear();
    EXPECT_EQ(Compute(), "001000000001");
    EXPECT_EQ(fake.trace, (std::vector<std::string>{
                              "QueryAdapterPermanentAddresses",
                              "RegistryReadValue Software\\Orvane\\Tessaly2009 002000000002"}));

    fake.adapters = Adapters({"002000000002", "001500000003"});
    EXPECT_EQ(Compute(), "001500000003");
    EXPECT_EQ(fake.registry[Path("002000000002")], FromHex("001500000003"));
    EXPECT_EQ(fake.registry.count(Path("001500000003")), 0u);
}

TEST(DeviceIdentity, FailuresOfListAndRegistry) {
    for (bool listMissing : {true, false}) {
        test::ScopedFakePlatform platform;
        if (!listMissing)
            platform.fake.adapters = std::vector<AdapterAnswer>{};
        char16_t buffer[kDeviceIdComputeBufferSize];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        EXPECT_EQ(ComputeDeviceId(buffer), -1);
        EXPECT_EQ(std::u16string(buffer, 260), std::u16string(260, u'#')); // untouched
    }
    // A failed lookup keeps the address; a refused write does not stop the next one.
    for (bool lookupFails : {true, false}) {
        test::ScopedFakePlatform platform;
        platform.fake.adapters = Adapters({"02000000000B", "02000000000A", "0200000000AB"});
        Store(platform.fake, {{"02000000000A", "0C1122334455"}});
        if (lookupFails)
            platform.faults.RegistryReadValue.FailCall(1);
        else
            platform.faults.RegistryWriteValue.FailCall(1);
        const std::string best = lookupFails ? "02000000000A" : "0C1122334455";
        EXPECT_EQ(Compute(), best);
        EXPECT_EQ(platform.fake.registry.count(Path("02000000000B")), lookupFails ? 1u : 0u);
        EXPECT_EQ(platform.fake.registry[Path("0200000000AB")], FromHex(best));
    }
}

TEST(DeviceIdentity, CacheFilledByFirstSuccessOnly) {
    test::ScopedFakePlatform platform;
    DeviceIdentity identity;
    char16_t buffer[40];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(identity.Get(buffer), 1);
    EXPECT_EQ(std::u16string(buffer, 2), std::u16string(u"\0#", 2));

    platform.fake.adapters = Adapters({"02000000000B", "02000000000A"});
    EXPECT_EQ(identity.Get(buffer), 1);
    EXPECT_EQ(std::u16string(buffer, 14), std::u16string(u"02000000000A\0#", 14));

    platform.fake.adapters = Adapters({"0200000000AB"});
    platform.fake.trace.clear();
    EXPECT_EQ(identity.Get(buffer), 1);
    EXPECT_EQ(std::u16string(buffer), u"02000000000A");
    EXPECT_TRUE(platform.fake.trace.empty());

    // The module-wide instance behaves the same and is its own.
    char16_t moduleWide[kDeviceIdMinimumBufferSize];
    EXPECT_EQ(GetDeviceId(moduleWide), 1);
    EXPECT_EQ(std::u16string(moduleWide), u"0200000000AB");
    platform.fake.adapters = std::nullopt;
    EXPECT_EQ(GetDeviceId(moduleWide), 1);
    EXPECT_EQ(std::u16string(moduleWide), u"0200000000AB");
}

} // namespace
} // namespace pandel
