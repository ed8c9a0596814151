#include "platform/platform.h"

#include "tests/support/fake_platform.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>
#include <unistd.h>

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

TEST(Paths, LoadedLibraryFoundByFileNameOnly) {
    // The C library is loaded in every process; a partial or absent name is not a match.
    std::string libc = platform::Real().LoadedLibraryPath("libc.so.6");
    ASSERT_FALSE(libc.empty());
    EXPECT_EQ(libc.substr(libc.size() - 10), "/libc.so.6");
    EXPECT_EQ(platform::Real().LoadedLibraryPath("libc.so"), "");
    EXPECT_EQ(platform::Real().LoadedLibraryPath("libLibUpload.so"), "");
    EXPECT_EQ(platform::Real().LoadedLibraryPath(""), "");
}

TEST(Paths, ScopedPlatformInstallsAndRestores) {
    EXPECT_EQ(&platform::Current(), &platform::Real());
    {
        ScopedFakePlatform scoped;
        EXPECT_EQ(&platform::Current(), &scoped.fake);
        {
            ScopedFakePlatform inner;
            EXPECT_EQ(&platform::Current(), &inner.fake);
        }
        EXPECT_EQ(&platform::Current(), &scoped.fake);
    }
    EXPECT_EQ(&platform::Current(), &platform::Real());
}

} // namespace
