// The Windows library's export table as the PE file holds it: the seven entry points under their
// undecorated names and ErrObj's members, type information and virtual table, nothing else.
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

TEST_F(EndToEnd, DllExportsOnlyTheEntryPointsAndErrObj) {
    ProcessResult objdump =
        RunProcess({"/usr/bin/x86_64-w64-mingw32-objdump", "-p", Build("plugin/PluginPandel.dll")});
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
    for (const std::string& name : names)
        EXPECT_THAT(name, ::testing::MatchesRegex("_ZNK?6pandel6ErrObj.*")) << "unexpected export";
    // The export directory names the file as the host loads it.
    EXPECT_THAT(objdump.out,
                ::testing::ContainsRegex("\nName[ \t]+[0-9a-f]+ PluginPandel\\.dll\n"));
}

} // namespace
} // namespace pandel::test
