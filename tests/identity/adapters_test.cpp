// The real adapter list against the kernel's own view in /sys/class/net.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace platform = pandel::platform;

namespace {

long ReadNumber(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string text;
    in >> text;
    return std::stol(text, nullptr, 0);
}

TEST(RealAdapters, NonLoopbackInterfacesInIndexOrderWithoutZeroAddresses) {
    constexpr long kLoopbackFlag = 0x8;
    std::map<long, std::string> byIndex;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/net")) {
        if ((ReadNumber(entry.path() / "flags") & kLoopbackFlag) == 0)
            byIndex[ReadNumber(entry.path() / "ifindex")] = entry.path().filename().string();
    }
    std::vector<std::string> expected;
    for (const auto& [index, name] : byIndex)
        expected.push_back(name);

    auto adapters = platform::Real().QueryAdapterPermanentAddresses();
    ASSERT_TRUE(adapters.has_value());
    std::vector<std::string> names;
    for (const platform::AdapterAnswer& adapter : *adapters) {
        names.push_back(adapter.name);
        const platform::HardwareAddress zeros{};
        EXPECT_NE(adapter.permanentAddress.value_or(platform::HardwareAddress{1}), zeros);
    }
    EXPECT_EQ(names, expected);
}

} // namespace
