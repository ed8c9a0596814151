// The module inside a host's process: what it leaves to the host's own crash handling, to the
// programs the host starts, and to the dynamic loader that other libraries share with it.
#include "harness/child_process.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <elf.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace pandel::test {
namespace {

const std::string kModule = std::string(PANDEL_BUILD_DIR) + "/plugin/libPluginPandel.so";

// The host's SIGSEGV handler ends it with 42. The module's handler stands between while it is
// loaded, passing on every fault it does not translate, and is gone once it is unloaded: a
// handler left behind would point into unmapped code and the host would die of the fault.
TEST(HostCrashHandling, FaultsTheModuleDoesNotTranslateReachTheHostsOwnHandler) {
    TempRoot root;
    const struct {
        const char* scenario;
        const char* mapped;
    } cases[] = {{"loaded", "mapped\n"}, {"unloaded", "unmapped\n"}, {"reloaded", "unmapped\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const ProcessResult run = RunProcess({CRASH_HOST, kModule, c.scenario}, {}, 30000);
        EXPECT_EQ(run.out, c.mapped);
        EXPECT_EQ(run.exitCode, 42) << "signal " << run.termSignal << "\n" << run.err;
    }
}

// The loader serves libraries that ask for the static TLS block (the STATIC_TLS flag) from a
// small surplus; a host that has loaded a few of them could not load the module any more.
TEST(ModuleFile, AsksTheLoaderForNoStaticThreadLocalStorage) {
    const std::string image = ReadFile(kModule);
    ASSERT_GE(image.size(), sizeof(Elf64_Ehdr));
    Elf64_Ehdr header;
    std::memcpy(&header, image.data(), sizeof header);
    ASSERT_EQ(std::memcmp(header.e_ident, ELFMAG, SELFMAG), 0);
    ASSERT_EQ(header.e_ident[EI_CLASS], ELFCLASS64);
    bool sawDynamic = false;
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr segment;
        const std::size_t at = header.e_phoff + std::size_t{i} * header.e_phentsize;
        ASSERT_LE(at + sizeof segment, image.size());
        std::memcpy(&segment, image.data() + at, sizeof segment);
        if (segment.p_type != PT_DYNAMIC)
            continue;
        sawDynamic = true;
        for (std::size_t d = 0; d + sizeof(Elf64_Dyn) <= segment.p_filesz; d += sizeof(Elf64_Dyn)) {
            Elf64_Dyn entry;
            ASSERT_LE(segment.p_offset + d + sizeof entry, image.size());
            std::memcpy(&entry, image.data() + segment.p_offset + d, sizeof entry);
            if (entry.d_tag == DT_NULL)
                break;
            if (entry.d_tag == DT_FLAGS) {
                EXPECT_EQ(entry.d_un.d_val & DF_STATIC_TLS, 0u) << "the library carries STATIC_TLS";
            }
        }
    }
    EXPECT_TRUE(sawDynamic);

    // And as a host sees it: many copies of the library loaded side by side.
    TempRoot root;
    constexpr int kCopies = 32;
    for (int i = 0; i < kCopies; ++i)
        WriteFile(root.Sub("copy" + std::to_string(i) + ".so"), image);
    const ProcessResult loaded = RunForked(
        [&] {
            for (int i = 0; i < kCopies; ++i) {
                if (dlopen(root.Sub("copy" + std::to_string(i) + ".so").c_str(),
                           RTLD_NOW | RTLD_LOCAL) == nullptr) {
                    std::fprintf(stderr, "copy %d: %s\n", i, dlerror());
                    return 1;
                }
            }
            return 0;
        },
        30000);
    EXPECT_EQ(loaded.exitCode, 0);
}

// The imaging library starts a program while the module's log file is open, as the real one may:
// the program inherits no descriptor of the module (it used to hold the log file twice).
class StartedPrograms : public EndToEnd {};

TEST_F(StartedPrograms, InheritNoDescriptorOfTheModule) {
    const std::string listing = root_.Sub("inherited");
    ScriptImaging("UploadImgWithAdapter run for f in /proc/$$/fd/*; do readlink \"$f\"; done >" +
                  listing);
    const ProcessResult run = Post("Download", Download("<FileType>7</FileType><Command>upload"
                                                        "</Command><StartMode>2</StartMode>"));
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    const std::string inherited = ReadFile(listing);
    ASSERT_NE(inherited.find("/dev/null"), std::string::npos) << "no listing: " << inherited;
    std::istringstream lines(inherited);
    for (std::string line; std::getline(lines, line);) {
        if (line == listing)
            continue; // the listing's own output
        EXPECT_EQ(line.find(root_.path()), std::string::npos) << line;
        EXPECT_EQ(line.find("socket:"), std::string::npos) << line;
    }
}

} // namespace
} // namespace pandel::test
