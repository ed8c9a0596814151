#include "platform/platform.h"

#include "harness/child_process.h"
#include "harness/fake_platform.h"
#include "tests/support/temp_root.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace platform = pandel::platform;

namespace {

using pandel::test::ScopedFakePlatform;
using pandel::test::TempRoot;

TEST(Paths, FixedPlacesLiveUnderTheRoot) {
    TempRoot root;
    EXPECT_EQ(platform::Real().FixedPlacePath("C:\\runtime.log"), root.path() + "/C/runtime.log");
    EXPECT_EQ(platform::Real().FixedPlacePath("C:\\a\\b.txt"), root.path() + "/C/a/b.txt");
}

TEST(Paths, RootDefaultsWhenUnsetOrEmpty) {
    TempRoot root;
    unsetenv("PANDEL_ROOT");
    EXPECT_EQ(platform::Real().FixedPlacePath("C:\\x"), "/var/lib/pandel/C/x");
    setenv("PANDEL_ROOT", "", 1);
    EXPECT_EQ(platform::Real().FixedPlacePath("C:\\x"), "/var/lib/pandel/C/x");
    setenv("PANDEL_ROOT", "/tmp/r//", 1);
    EXPECT_EQ(platform::Real().FixedPlacePath("C:\\x"), "/tmp/r/C/x");
}

TEST(Paths, HostExecutableIsThisProgram) {
    std::string path = platform::Real().HostExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), '/');
    EXPECT_EQ(access(path.c_str(), X_OK), 0);
    EXPECT_NE(path.find("platform_tests"), std::string::npos);
}

// Run inside a copy of this program: renames the copy, then prints the host executable's path
// before and after the move (a host's Conf/ProxyInfo.xml stays where the host was started from).
constexpr const char* kMoveToVariable = "PANDEL_TEST_MOVE_EXECUTABLE_TO";

TEST(PathsChild, DISABLED_HostExecutableMovedWhileRunning) {
    const char* moveTo = std::getenv(kMoveToVariable);
    ASSERT_NE(moveTo, nullptr);
    const std::string before = platform::Real().HostExecutablePath();
    ASSERT_EQ(std::rename(before.c_str(), moveTo), 0);
    const std::string after = platform::Real().HostExecutablePath();
    std::printf("before=%s\nafter=%s\n", before.c_str(), after.c_str());
}

TEST(Paths, HostExecutableKeptAsStartedFrom) {
    TempRoot dir;
    const std::string copy = dir.Sub("host");
    const std::string moved = dir.Sub("moved");
    {
        std::ifstream in(platform::Real().HostExecutablePath(), std::ios::binary);
        std::ofstream out(copy, std::ios::binary);
        out << in.rdbuf();
    }
    ASSERT_EQ(chmod(copy.c_str(), 0755), 0);
    const pandel::test::ProcessResult run = pandel::test::RunProcess(
        {copy, "--gtest_also_run_disabled_tests",
         "--gtest_filter=PathsChild.DISABLED_HostExecutableMovedWhileRunning"},
        {{kMoveToVariable, moved}});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(access(moved.c_str(), X_OK), 0);
    EXPECT_NE(run.out.find("before=" + copy + "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("after=" + copy + "\n"), std::string::npos) << run.out;
}

TEST(Paths, LoadedLibraryFoundByFileNameOnly) {
    // The C library is loaded in every process; a partial or absent name is not a match.
    std::string libc = platform::Real().LoadedLibraryPath("libc.so.6");
    ASSERT_FALSE(libc.empty());
    EXPECT_EQ(libc.substr(libc.size() - 10), "/libc.so.6");
    EXPECT_EQ(platform::Real().LoadedLibraryPath("libc.so"), "");
    EXPECT_EQ(platform::Real().LoadedLibraryPath("libLibUpload.so"), "");
    EXPECT_EQ(platform::Real().LoadedLibraryPath(""), "");
}

// A host may load the agent library by a relative name and change directory afterwards: the
// library is still found where it is, not under the new directory.
TEST(Paths, LibraryLoadedByARelativeNameKeepsItsPlaceAfterTheDirectoryChanges) {
    pandel::test::TempRoot root;
    pandel::test::MakeDirectories(root.Sub("agent"));
    std::filesystem::copy_file(AGENT_LIBRARY_PATH, root.Sub("agent/libLibUpload.so"));
    const std::string expected = std::filesystem::canonical(root.Sub("agent/libLibUpload.so"));
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(root.path());
    void* library = dlopen("agent/libLibUpload.so", RTLD_NOW);
    std::filesystem::current_path("/");
    ASSERT_NE(library, nullptr) << dlerror();
    const std::string first = platform::Real().LoadedLibraryPath("libLibUpload.so");
    std::filesystem::current_path(before);
    const std::string second = platform::Real().LoadedLibraryPath("libLibUpload.so");
    dlclose(library);
    EXPECT_EQ(first, expected);
    EXPECT_EQ(second, expected);
}

TEST(Paths, ScopedPlatformInstallsAndRestores) {
    EXPECT_EQ(&platform::Current(), &platform::Real());
    {
        ScopedFakePlatform scoped;
        EXPECT_EQ(&platform::Current(), &scoped.injector);
        {
            ScopedFakePlatform inner;
            EXPECT_EQ(&platform::Current(), &inner.injector);
        }
        EXPECT_EQ(&platform::Current(), &scoped.injector);
    }
    EXPECT_EQ(&platform::Current(), &platform::Real());
}

// What the error-path tests rely on: the Nth call of one kind fails, once or from then on, with
// that call's failure value, and a failing call never reaches the fake.
TEST(FaultInjection, FailsTheNthCallOfOneKindOnly) {
    const struct {
        bool forGood;
        std::vector<bool> resolved; // the outcome of each of four calls
    } rows[] = {{false, {true, false, true, true}}, {true, {true, false, false, false}}};
    for (const auto& row : rows) {
        ScopedFakePlatform scoped;
        scoped.fake.resolver["terminal"] = {"10.0.0.7"};
        scoped.faults.ResolveIPv4.FailCall(2, row.forGood);
        std::vector<bool> resolved;
        for (int i = 0; i < 4; ++i) {
            resolved.push_back(!platform::Current().ResolveIPv4("terminal").empty());
            EXPECT_TRUE(platform::Current().HostName().has_value()); // another kind
        }
        EXPECT_EQ(resolved, row.resolved);
        EXPECT_EQ(scoped.faults.ResolveIPv4.Calls(), 4);
        EXPECT_EQ(
            std::count(scoped.fake.trace.begin(), scoped.fake.trace.end(), "ResolveIPv4 terminal"),
            std::count(resolved.begin(), resolved.end(), true));
    }
    ScopedFakePlatform scoped;
    scoped.faults.OpenNamedLock.FailCall(1);
    scoped.faults.SleepMs.FailCall(1);
    EXPECT_EQ(platform::Current().OpenNamedLock(u"h_Proxylock"), platform::kNoLock);
    platform::Current().SleepMs(5);
    platform::Current().SleepMs(7);
    EXPECT_EQ(scoped.fake.sleptMs, 7u);
    EXPECT_EQ(scoped.fake.trace, std::vector<std::string>{"SleepMs 7"});
}

} // namespace
