// Test helpers of the Windows side: this test program run again for one test in a child process,
// and whether we run under Wine.
#pragma once

#include <cstdint>
#include <string>

namespace pandel::test {

// The exit code reported for a child that did not start or did not end in time.
inline constexpr std::uint32_t kChildDidNotEnd = 0xFFFFFFFFu;

// Runs the test testName (usually a DISABLED_ one) of this program in a child process, with the
// environment variable PANDEL_CHILD_SYNC set to syncName; returns its exit code. A child still
// running after timeoutMs is ended.
std::uint32_t RunChildTest(const std::string& testName, const std::string& syncName = "",
                           std::uint32_t timeoutMs = 30000);

// PANDEL_CHILD_SYNC as the parent set it for this process; empty in a parent.
std::string ChildSyncName();

bool RunsUnderWine();

} // namespace pandel::test
