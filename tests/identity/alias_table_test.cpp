// The alias table in the real registry stand-in's value files; silence when it cannot be used.
#include "identity/device_id.h"

#include "harness/fake_platform.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace pandel {
namespace {

// Scripted adapters, real registry.
class RealRegistryPlatform : public test::FakePlatform {
public:
    std::optional<std::vector<std::uint8_t>> RegistryReadValue(const std::u16string& key,
                                                               const std::u16string& name,
                                                               std::size_t maxBytes) override {
        return platform::Real().RegistryReadValue(key, name, maxBytes);
    }
    bool RegistryWriteValue(const std::u16string& key, const std::u16string& name,
                            const std::vector<std::uint8_t>& data) override {
        return platform::Real().RegistryWriteValue(key, name, data);
    }
};

TEST(AliasTableFiles, RawBytesStoredAliasesAndUnusableRegistry) {
    test::TempRoot root;
    RealRegistryPlatform fake;
    platform::ScopedPlatform guard(fake);
    fake.adapters = std::vector<platform::AdapterAnswer>{
        {"eth1", platform::HardwareAddress{2, 0, 0, 0, 0, 0x0B}},
        {"eth0", platform::HardwareAddress{2, 0, 0, 0, 0, 0x0A}}};
    const std::string table = root.Sub("registry/HKEY_LOCAL_MACHINE/Software/Orvane/Tessaly2009/");
    auto compute = [] {
        char16_t buffer[kDeviceIdComputeBufferSize] = {};
        EXPECT_EQ(ComputeDeviceId(buffer), 0);
        return std::u16string(buffer);
    };

    EXPECT_EQ(compute(), u"02000000000A");
    EXPECT_EQ(test::ReadFile(table + "02000000000B"), std::string("\x02\0\0\0\0\x0A", 6));
    EXPECT_FALSE(std::filesystem::exists(table + "02000000000A"));

    test::WriteFile(table + "02000000000A", "\xDE\xAD");
    EXPECT_EQ(compute(), u"DEAD0000000A");
    test::WriteFile(table + "02000000000A", "\x0C\x11\x22\x33\x44\x55\x66"); // longer than 6
    EXPECT_EQ(compute(), u"02000000000A");
    EXPECT_EQ(test::ReadFile(table + "02000000000A"), "\x0C\x11\x22\x33\x44\x55\x66");

    const std::string notADirectory = root.Sub("plain-file");
    test::WriteFile(notADirectory, "x");
    setenv("PANDEL_ROOT", notADirectory.c_str(), 1);
    EXPECT_EQ(compute(), u"02000000000A");
}

} // namespace
} // namespace pandel
