// The Windows library as the PE file holds it: the seven entry points under their undecorated
// names and ErrObj's members, type information and virtual table, nothing else; the DLLs it
// needs; its version resource. Read from the file, so checked where its programs cannot run.
#include "tests/e2e/e2e_fixture.h"

#include <gmock/gmock.h>

#include <set>
#include <sstream>

namespace pandel::test {
namespace {

// The names of "[Ordinal/Name Pointer] Table" in objdump -p's listing.
std::set<std::string> ExportedNames(const std::string& listing) {
    std::set<std::string> names;
    std::istringstream in(listing);
    bool inTable = false;
    for (std::string line; std::getline(in, line);) {
        if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos) {
            inTable = true;
            continue;
        }
        if (!inTable)
            continue;
        std::size_t bracket = line.find(']');
        if (line.empty() || bracket == std::string::npos)
            break;
        names.insert(line.substr(bracket + 2));
    }
    return names;
}

// Reads the built file only: runs where the build's programs cannot.
class DllFile : public EndToEnd {
protected:
    void SetUp() override {}
};

TEST_F(DllFile, ExportsOnlyTheEntryPointsAndErrObjUndecorated) {
    const std::string tool = Windows32Bit() ? "/usr/bin/i686-w64-mingw32-objdump"
                                            : "/usr/bin/x86_64-w64-mingw32-objdump";
    ProcessResult objdump = RunProcess({tool, "-p", Build("plugin/PluginPandel.dll")});
    ASSERT_EQ(objdump.exitCode, 0) << objdump.err;
    std::set<std::string> names = ExportedNames(objdump.out);
    for (const char* name :
         {"InitModule", "UninitModule", "GetInfo", "RunTimeRoutine", "GetPluginVersion", "SetDbg",
          "PostCommand",
          // What a host needs to catch it and to call through it.
          "_ZTIN6pandel6ErrObjE", "_ZTVN6pandel6ErrObjE", "_ZNK6pandel6ErrObj7GetCodeEv"}) {
        EXPECT_EQ(names.count(name), 1u) << name;
        names.erase(name);
    }
    // ErrObj's members as Microsoft's compiler names them, for the hosts it builds.
    const std::string member = Windows32Bit() ? "AE" : "EAA";
    const std::string constMember = Windows32Bit() ? "BE" : "EBA";
    for (const std::string& name :
         {"??0ErrObj@@Q" + member + "@" + (Windows32Bit() ? "ABV0" : "AEBV0") + "@@Z",
          "??1ErrObj@@U" + member + "@XZ", "?GetCode@ErrObj@@U" + constMember + "HXZ",
          "?GetDescription@ErrObj@@U" + constMember +
              "?AV?$basic_string@_WU?$char_traits@_W@std@@V?$allocator@_W@2@@std@@XZ",
          "?Report@ErrObj@@U" + member + "XH@Z"}) {
        EXPECT_EQ(names.count(name), 1u) << name;
        names.erase(name);
    }
    // No stdcall decoration (name@N) on any entry point, on 32-bit as on 64-bit.
    for (const std::string& name : names)
        EXPECT_THAT(name, ::testing::MatchesRegex("_ZNK?6pandel6ErrObj.*")) << "unexpected export";
    // The export directory names the file as the host loads it.
    EXPECT_THAT(objdump.out,
                ::testing::ContainsRegex("\nName[ \t]+[0-9a-f]+ PluginPandel\\.dll\n"));
    // The processor the host must match, and what the DLL needs beside the system's.
    EXPECT_THAT(objdump.out, ::testing::HasSubstr(Windows32Bit() ? "file format pei-i386"
                                                                 : "file format pei-x86-64"));
    std::set<std::string> imported;
    std::istringstream in(objdump.out);
    for (std::string line; std::getline(in, line);) {
        const std::string key = "DLL Name: ";
        if (std::size_t at = line.find(key); at != std::string::npos)
            imported.insert(line.substr(at + key.size()));
    }
    for (const char* gccRuntime : {"libgcc_s_dw2-1.dll", "libwinpthread-1.dll"})
        EXPECT_EQ(imported.count(gccRuntime), Windows32Bit() ? 1u : 0u) << gccRuntime;
    for (const std::string& name : imported)
        EXPECT_THAT(name, ::testing::Not(::testing::HasSubstr("libstdc++"))) << name;
}

std::string Utf16Le(const std::string& ascii) {
    std::string units;
    for (char c : ascii)
        units += {c, '\0'};
    return units;
}

TEST_F(DllFile, CarriesTheVersionResource) {
    const std::string bytes = ReadFile(Build("plugin/PluginPandel.dll"));
    // The fixed part: its signature, its layout version, file version 1.0 / 0.3.
    const std::string fixedInfo("\xBD\x04\xEF\xFE\x00\x00\x01\x00\x00\x00\x01\x00\x03\x00\x00\x00",
                                16);
    EXPECT_NE(bytes.find(fixedInfo), std::string::npos);
    for (const char* text : {"FileVersion", "1, 0, 0, 3", "OriginalFilename", "PluginPandel.dll",
                             "PrivateBuild", "20090807"})
        EXPECT_NE(bytes.find(Utf16Le(text)), std::string::npos) << text;
}

// The kit a host vendor gets: the header for Microsoft-built hosts, the DLL without its debug
// information (kept beside it and named in the DLL), both import libraries and the .def.
TEST_F(DllFile, KitHoldsWhatAHostVendorBuildsAndDebugsWith) {
    const std::string kit = PANDEL_WINDOWS_KIT;
    ASSERT_FALSE(kit.empty()) << "no kit given to this build of the tests";
    const ProcessResult listing = RunProcess({"/usr/bin/python3", "-m", "zipfile", "-l", kit});
    ASSERT_EQ(listing.exitCode, 0) << listing.err;
    for (const char* file :
         {"include/pandel_plugin.h", "include/pandel/host_interfaces.h", "bin/PluginPandel.dll",
          "lib/PluginPandel.lib", "lib/PluginPandel.dll.a", "lib/PluginPandel.def",
          "debug/PluginPandel.dll.debug"})
        EXPECT_THAT(listing.out, ::testing::HasSubstr(file));
    const std::string unpacked = root_.Sub("kit");
    ASSERT_EQ(RunProcess({"/usr/bin/python3", "-m", "zipfile", "-e", kit, unpacked}).exitCode, 0);
    const std::string tool = Windows32Bit() ? "/usr/bin/i686-w64-mingw32-objdump"
                                            : "/usr/bin/x86_64-w64-mingw32-objdump";
    const ProcessResult sections = RunProcess({tool, "-h", unpacked + "/bin/PluginPandel.dll"});
    EXPECT_THAT(sections.out, ::testing::HasSubstr(".gnu_debuglink"));
    EXPECT_THAT(sections.out, ::testing::Not(::testing::HasSubstr(".debug_info")));
    const ProcessResult debug =
        RunProcess({tool, "-h", unpacked + "/debug/PluginPandel.dll.debug"});
    EXPECT_THAT(debug.out, ::testing::HasSubstr(".debug_info"));
}

} // namespace
} // namespace pandel::test
