// The installer of the Windows build under Wine: installed silently, the installed DLL runs a
// Download for a host, an uninstall leaves nothing of it behind, a newer package replaces an
// older one and an older one is refused.
#include "tests/e2e/e2e_fixture.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <set>

namespace pandel::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

// Every file and folder under dir, relative to it.
std::set<std::string> Tree(const fs::path& dir) {
    std::set<std::string> entries;
    std::error_code error;
    for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end;
         it.increment(error))
        entries.insert(fs::relative(it->path(), dir).generic_string());
    return entries;
}

class Installer : public EndToEnd {
protected:
    // What the system's product registration says about installed products (names included).
    static std::string ProductRegistration() {
        std::string listing;
        for (const char* key : {"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                                "HKLM\\Software\\Classes\\Installer\\Products"})
            listing += Wine({"reg", "query", key, "/s"}).out;
        return listing;
    }

    // How many products of that name are registered for uninstalling.
    static std::size_t Products(const std::string& productName) {
        const std::string listing =
            Wine({"reg", "query", "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                  "/s"})
                .out;
        std::size_t count = 0;
        for (std::size_t at = listing.find(productName); at != std::string::npos;
             at = listing.find(productName, at + 1))
            ++count;
        return count;
    }

    // A newer package (1.0.0.4, its DLL told apart by bytes appended to it) replaces the
    // installed one: one product left, with the newer DLL; the older package is then refused
    // and changes nothing. Windows Installer compares three version fields, so the build
    // carries the fourth in the third.
    void ExpectNewerReplacesOlderAndOlderIsRefused(const std::string& msi,
                                                   const std::string& productName) {
        const std::string arch = Windows32Bit() ? "x86" : "x64";
        const fs::path newer = root_.Sub("newer");
        fs::copy(Build("packaging/windows/stage-" + arch), newer, fs::copy_options::recursive);
        const std::string marker = "newer build of PluginPandel";
        WriteFile((newer / "PluginPandel.dll").string(),
                  ReadFile((newer / "PluginPandel.dll").string()) + marker);
        const ProcessResult made =
            RunProcess({"/bin/sh", "-c",
                        "cd '" + newer.string() + "' && wixl -a " + arch + " -D Arch=" + arch +
                            " -D Version=1.0.4 -o newer.msi PluginPandel.wxs"});
        ASSERT_EQ(made.exitCode, 0) << made.err;
        const std::string newerMsi = TargetPath((newer / "newer.msi").string());
        const std::string installed =
            Build("wineprefix/drive_c/Program Files/Pandel/PluginPandel/PluginPandel.dll");

        ASSERT_EQ(Wine({"msiexec", "/i", TargetPath(msi), "/qn"}).exitCode, 0);
        ASSERT_EQ(Products(productName), 1u);
        const ProcessResult upgrade = Wine({"msiexec", "/i", newerMsi, "/qn"});
        EXPECT_EQ(upgrade.exitCode, 0) << upgrade.out << upgrade.err;
        EXPECT_EQ(Products(productName), 1u) << "the newer package installed beside the older";
        EXPECT_THAT(ReadFile(installed), ::testing::EndsWith(marker));

        const ProcessResult downgrade = Wine({"msiexec", "/i", TargetPath(msi), "/qn"});
        EXPECT_NE(downgrade.exitCode, 0) << "an older package was taken over a newer one";
        EXPECT_EQ(Products(productName), 1u);
        EXPECT_THAT(ReadFile(installed), ::testing::EndsWith(marker));

        ASSERT_EQ(Wine({"msiexec", "/x", newerMsi, "/qn"}).exitCode, 0);
        EXPECT_EQ(Products(productName), 0u);
        EXPECT_FALSE(fs::exists(installed));
    }
};

TEST_F(Installer, InstalledDllRunsADownloadAndUninstallLeavesNothing) {
    const std::string msi = PANDEL_WINDOWS_MSI;
    ASSERT_FALSE(msi.empty()) << "no installer given to this build of the tests";
    // Program Files of the prefix's own bitness: a 32-bit build runs in a 32-bit prefix.
    const fs::path programFiles = Build("wineprefix/drive_c/Program Files");
    const fs::path folder = programFiles / "Pandel";
    const std::string productName =
        Windows32Bit() ? "PluginPandel (32-bit)" : "PluginPandel (64-bit)";
    ASSERT_FALSE(fs::exists(folder)) << "left from before";
    const std::set<std::string> installerCacheBefore =
        Tree(Build("wineprefix/drive_c/windows/Installer"));

    ProcessResult install = Wine({"msiexec", "/i", TargetPath(msi), "/qn"});
    ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
    std::set<std::string> expected = {"PluginPandel", "PluginPandel/PluginPandel.dll"};
    if (Windows32Bit())
        expected.insert({"PluginPandel/libgcc_s_dw2-1.dll", "PluginPandel/libwinpthread-1.dll"});
    EXPECT_EQ(Tree(folder), expected);
    EXPECT_THAT(ProductRegistration(), HasSubstr(productName));

    plugin_ = "C:\\Program Files\\Pandel\\PluginPandel\\PluginPandel.dll";
    ProcessResult run = Post("Download", Download("<FileType>7</FileType><Command>upload</Command>"
                                                  "<ScheduleId>42</ScheduleId><BackupType>0"
                                                  "</BackupType><StartMode>2</StartMode>"
                                                  "<ServerAddr>10.1.2.3</ServerAddr>"
                                                  "<ServerPort>9000</ServerPort>"));
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_THAT(Reports(), ElementsAre(TaskStatus(42, 101)));

    ProcessResult uninstall = Wine({"msiexec", "/x", TargetPath(msi), "/qn"});
    ASSERT_EQ(uninstall.exitCode, 0) << uninstall.out << uninstall.err;
    EXPECT_FALSE(fs::exists(folder)) << "left after uninstall";
    EXPECT_THAT(ProductRegistration(), Not(HasSubstr(productName)));
    EXPECT_EQ(Tree(Build("wineprefix/drive_c/windows/Installer")), installerCacheBefore);

    // In the same test: the prefix is shared, and installers must not run side by side.
    ExpectNewerReplacesOlderAndOlderIsRefused(msi, productName);
}

} // namespace
} // namespace pandel::test
