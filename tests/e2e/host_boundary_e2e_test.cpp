// The library as the host sees it: its exports, its log lines, and what it does with bodies that
// do not match what the host says of them.
#include "tests/e2e/e2e_fixture.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

namespace pandel::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST_F(EndToEnd, SimpleExportsReturnZeroAndLogTheirLine) {
    LogLock lock;
    WriteFile(LogPath(), "");
    ProcessResult run = Host(
        {"GetInfo", "InitModule", "RunTimeRoutine", "GetPluginVersion", "SetDbg", "UninitModule"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "GetInfo -> 0\nInitModule -> 0\nRunTimeRoutine -> 0\n"
                       "GetPluginVersion -> 0\nSetDbg -> 0\nUninitModule -> 0\n");
    std::string log = ReadFile(LogPath());
    std::regex entry(R"(\[\d\d:\d\d:\d\d\]\[PluginPandel\]INFO:([^\r\n]*)\r\n)");
    std::vector<std::string> messages;
    for (std::sregex_iterator it(log.begin(), log.end(), entry), end; it != end; ++it)
        messages.push_back((*it)[1]);
    EXPECT_THAT(messages,
                ElementsAre("CPandelPluginModule GetInfo()", "CPandelPluginModule InitModule()",
                            "CPandelPluginModule RunTimeRoutine()",
                            "CPandelPluginModule GetVersion()", "SetDbg",
                            "CPandelPluginModule UninitModule()"));
    // Nothing else is in the file: every byte belongs to one of the six entries.
    EXPECT_EQ(std::regex_replace(log, entry, ""), "");
}

TEST_F(EndToEnd, PostCommandWritesNoLogLine) {
    LogLock lock;
    WriteFile(LogPath(), "");
    ASSERT_EQ(Post("Download", Download("<FileType>6</FileType>")).exitCode, 0);
    EXPECT_EQ(ReadFile(LogPath()), "");
}

struct BodyCase {
    const char* what;
    std::vector<std::string> hostOptions;
    bool reported; // whether the Download still runs
};

class BodySizes : public EndToEnd, public ::testing::WithParamInterface<BodyCase> {};

TEST_P(BodySizes, NeverReadOrWritePastTheBuffer) {
    const std::string body = Download("<FileType>7</FileType><Command>upload</Command>"
                                      "<ScheduleId>9</ScheduleId><StartMode>2</StartMode>");
    // "SIZE-1" and "SIZE+1" stand for the real size in bytes, null included, less or plus one.
    const auto realSize = static_cast<long>((body.size() + 1) * 2);
    std::vector<std::string> options = GetParam().hostOptions;
    for (std::string& option : options) {
        if (option == "SIZE-1")
            option = std::to_string(realSize - 1);
        if (option == "SIZE+1")
            option = std::to_string(realSize + 1);
    }
    ProcessResult run = Post("Download", body, options);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    if (GetParam().reported)
        EXPECT_THAT(Reports(), ElementsAre(TaskStatus(9, 101)));
    else
        EXPECT_THAT(server_->Requests(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    HostLies, BodySizes,
    ::testing::Values(BodyCase{"size_zero", {"--body-size", "0"}, false},
                      BodyCase{"size_negative", {"--body-size", "-2"}, false},
                      BodyCase{"size_odd_one_short", {"--body-size", "SIZE-1"}, true},
                      BodyCase{"size_odd_one_over", {"--body-size", "SIZE+1"}, true},
                      BodyCase{"size_larger_than_body", {"--body-size", "100000"}, true},
                      BodyCase{"size_too_small", {"--body-size", "20"}, false},
                      BodyCase{"size_too_large", {"--body-size", "2147483647"}, false},
                      BodyCase{"no_terminator", {"--no-terminator"}, true}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(EndToEnd, HugeBodyIsDroppedWithoutAReport) {
    std::string body = Download("<FileType>7</FileType><Command>upload</Command>"
                                "<StartMode>2</StartMode><Pad>" +
                                std::string(100 * 1024 * 1024, 'x') + "</Pad>");
    ProcessResult run = Post("Download", body);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, ::testing::Not(::testing::HasSubstr("host: ReadBody")));
    EXPECT_THAT(server_->Requests(), IsEmpty());
}

TEST_F(EndToEnd, LibraryExportsOnlyTheEntryPointsAndErrObj) {
    if (UnderWine())
        GTEST_SKIP() << "an ELF check; the DLL's export table has its own test";
    ProcessResult nm = RunProcess(
        {"/usr/bin/nm", "-D", "--defined-only", "-C", Build("plugin/libPluginPandel.so")});
    ASSERT_EQ(nm.exitCode, 0) << nm.err;
    std::set<std::string> names;
    std::istringstream in(nm.out);
    for (std::string line; std::getline(in, line);) {
        std::size_t space = line.find(' ', line.find(' ') + 1);
        names.insert(line.substr(space + 1));
    }
    for (const char* name : {"InitModule", "UninitModule", "GetInfo", "RunTimeRoutine",
                             "GetPluginVersion", "SetDbg", "PostCommand"}) {
        EXPECT_EQ(names.count(name), 1u) << name;
        names.erase(name);
    }
    for (const std::string& name : names)
        EXPECT_NE(name.find("ErrObj"), std::string::npos) << "unexpected export: " << name;
}

// What the dynamic loader reports loading in the runs of pandel-host whose trace files start
// with prefix (LD_DEBUG_OUTPUT adds each process's number).
std::string LoaderTrace(const std::string& directory) {
    std::string trace;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        trace += ReadFile(entry.path().string());
    return trace;
}

// A host that loads and unloads the module without a command to read does not load the XML
// library and what it brings; the first document does, through the module.
TEST_F(EndToEnd, XmlLibraryComesWithTheFirstDocumentNotWithTheModule) {
    if (UnderWine())
        GTEST_SKIP() << "the DLL holds its XML parser";
    const std::string idleTrace = root_.Sub("idle-trace");
    const std::string busyTrace = root_.Sub("busy-trace");
    std::filesystem::create_directories(idleTrace);
    std::filesystem::create_directories(busyTrace);

    hostEnv_ = {{"LD_DEBUG", "files"}, {"LD_DEBUG_OUTPUT", idleTrace + "/loader"}};
    ProcessResult idle = Host({"InitModule", "GetInfo", "UninitModule"});
    ASSERT_EQ(idle.exitCode, 0) << idle.err;
    const std::string idleLoads = LoaderTrace(idleTrace);
    ASSERT_THAT(idleLoads, ::testing::HasSubstr("libPluginPandel.so"));
    EXPECT_THAT(idleLoads, ::testing::Not(::testing::HasSubstr("libxml2")));

    // A Download of another file type is read and then left alone: nothing goes out.
    hostEnv_["LD_DEBUG_OUTPUT"] = busyTrace + "/loader";
    ProcessResult busy = Post("Download", Download("<FileType>3</FileType>"));
    ASSERT_EQ(busy.exitCode, 0) << busy.err;
    // Loaded by a dlopen, which the module makes (a sanitizer's runtime names itself as the
    // caller).
    EXPECT_THAT(LoaderTrace(busyTrace),
                ::testing::ContainsRegex("file=libxml2\\.so\\.2 \\[0\\]; +dynamically loaded by"));
    EXPECT_THAT(server_->Requests(), IsEmpty());
}

TEST_F(EndToEnd, VersionResourceIsReadableFromTheFile) {
    if (UnderWine())
        GTEST_SKIP() << "an ELF section; the DLL's resource is read by the Windows tests";
    ProcessResult readelf = RunProcess(
        {"/usr/bin/readelf", "-p", ".pandel_version", Build("plugin/libPluginPandel.so")});
    ASSERT_EQ(readelf.exitCode, 0) << readelf.err;
    for (const char* field :
         {"FileVersion=1, 0, 0, 3", "ProductVersion=1, 0, 0, 3", "FileDescription=Pandel plugin",
          "Comments=Pandel plugin", "InternalName=PluginPandel", "ProductName=PluginPandel",
          "OriginalFilename=PluginPandel.dll", "PrivateBuild=20090807", "SpecialBuild=20090807"})
        EXPECT_NE(readelf.out.find(field), std::string::npos) << field;
}

} // namespace
} // namespace pandel::test
