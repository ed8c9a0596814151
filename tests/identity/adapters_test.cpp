// The real adapter list against the kernel's own view in /sys/class/net.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

long ReadNumber(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string text;
    in >> text;
    return std::stol(text, nullptr, 0);
}

TEST(RealAdapters, NonLoopbackInterfacesInIndexOrder) {
    constexpr long kLoopbackFlag = 0x8;
    std::map<long, std::string> byIndex;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/net")) {
        if ((ReadNumber(entry.path() / "flags") & kLoopbackFlag) != 0)
            continue;
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
        // A driver without a burned-in address answers zeros, which must count as no answer.
        if (adapter.permanentAddress) {
            EXPECT_FALSE(std::all_of(adapter.permanentAddress->begin(),
                                     adapter.permanentAddress->end(),
                                     [](std::uint8_t b) { return b == 0; }))
                << adapter.name;
        }
    }
    EXPECT_EQ(names, expected);
}

} // namespace
