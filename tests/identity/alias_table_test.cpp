// The alias table in the real registry stand-in: what lands in its value files, and silence when
// the registry cannot be used.
#include "config/device_id.h"

#include "tests/support/fake_platform.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace pandel {
namespace {

using platform::AdapterAnswer;
using test::ReadFile;
using test::WriteFile;

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

class AliasTableFiles : public ::testing::Test {
protected:
    void SetUp() override {
        fake_.adapters =
            std::vector<AdapterAnswer>{{"eth1", platform::HardwareAddress{0x02, 0, 0, 0, 0, 0x0B}},
                                       {"eth0", platform::HardwareAddress{0x02, 0, 0, 0, 0, 0x0A}}};
    }
    std::string Value(const std::string& name) const {
        return root_.Sub("registry/HKEY_LOCAL_MACHINE/Software/Orvane/Tessaly2009/" + name);
    }
    std::u16string Compute() {
        char16_t buffer[kDeviceIdComputeBufferSize] = {};
        EXPECT_EQ(ComputeDeviceId(buffer), 0);
        return buffer;
    }

    test::TempRoot root_;
    RealRegistryPlatform fake_;
    platform::ScopedPlatform guard_{fake_};
};

TEST_F(AliasTableFiles, OtherAddressRecordedAsSixRawBytes) {
    EXPECT_EQ(Compute(), u"02000000000A");
    EXPECT_EQ(ReadFile(Value("02000000000B")), std::string("\x02\0\0\0\0\x0A", 6));
    EXPECT_FALSE(std::filesystem::exists(Value("02000000000A")));
}

TEST_F(AliasTableFiles, StoredAliasOfEachLength) {
    struct Case {
        std::string stored;
        std::u16string identity;
    } cases[] = {
        {std::string("\x0C\x11\x22\x33\x44\x55", 6), u"0C1122334455"},
        {"\xDE\xAD", u"DEAD0000000A"},
        {std::string("\x0C\x11\x22\x33\x44\x55\x66", 7), u"02000000000A"}, // too long: ignored
    };
    test::MakeDirectories(root_.Sub("registry/HKEY_LOCAL_MACHINE/Software/Orvane/Tessaly2009"));
    for (const Case& c : cases) {
        WriteFile(Value("02000000000A"), c.stored);
        EXPECT_EQ(Compute(), c.identity);
        EXPECT_EQ(ReadFile(Value("02000000000A")), c.stored); // the lookup never rewrites
    }
}

TEST_F(AliasTableFiles, UnusableRegistryIsSilent) {
    const std::string notADirectory = root_.Sub("plain-file");
    WriteFile(notADirectory, "x");
    setenv("PANDEL_ROOT", notADirectory.c_str(), 1);
    EXPECT_EQ(Compute(), u"02000000000A");
    EXPECT_EQ(ReadFile(notADirectory), "x");
}

} // namespace
} // namespace pandel
