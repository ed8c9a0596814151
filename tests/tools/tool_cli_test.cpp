// Every tool speaks the same way on its command line: --help on standard output with status 0,
// --version, usage errors naming what was wrong with status 2, numbers and files checked first.
#include "tests/support/child_process.h"
#include "tests/support/temp_root.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pandel::test {
namespace {

const char* const kScripts[] = {"demo", "test", "fuzz", "check-hardening", "bench"};

std::string Tool(const std::string& name) {
    for (const char* script : kScripts) {
        if (name == script)
            return std::string(PANDEL_SOURCE_DIR) + "/scripts/" + name;
    }
    return std::string(PANDEL_BUILD_DIR) + "/tools/" + name + "/" + name;
}

// A machine root without C/: the module, were it loaded, would say so on standard error.
std::map<std::string, std::string> BareRoot(const TempRoot& root) {
    return {{"PANDEL_ROOT", root.Sub("bare")}};
}

TEST(ToolCli, HelpAndVersionOnStandardOutputWithStatusZero) {
    TempRoot root;
    std::vector<std::string> tools = {"pandel-host", "devcfg-server", "pandel-doctor"};
    tools.insert(tools.end(), std::begin(kScripts), std::end(kScripts));
    for (const std::string& tool : tools) {
        SCOPED_TRACE(tool);
        const ProcessResult help = RunProcess({Tool(tool), "--help"}, BareRoot(root), 30000);
        EXPECT_EQ(0, help.exitCode);
        EXPECT_EQ(0u, help.out.find("usage: ")) << help.out;
        EXPECT_NE(std::string::npos, help.out.find("--version")) << help.out;
        // Nothing about the log place: the plug-in is not even loaded for this.
        EXPECT_EQ("", help.err);

        const ProcessResult version = RunProcess({Tool(tool), "--version"}, BareRoot(root), 30000);
        EXPECT_EQ(0, version.exitCode);
        EXPECT_EQ(tool + " 1.0.0.3\n", version.out);
        EXPECT_EQ("", version.err);
    }
}

struct UsageCase {
    const char* name;
    std::vector<std::string> argv;
    std::string says; // the first line of standard error
};

TEST(ToolCli, WrongUsageNamesWhatWasWrongWithStatusTwo) {
    TempRoot root;
    const std::string plugin = std::string(PANDEL_BUILD_DIR) + "/plugin/libPluginPandel.so";
    const std::string body = root.Sub("body.xml");
    WriteFile(body, "<Download/>");
    const std::vector<UsageCase> cases = {
        {"host body size not a number",
         {Tool("pandel-host"), "--plugin", plugin, "--body-size", "abc", "GetInfo"},
         "pandel-host: --body-size takes a whole number from -2147483648 to 2147483647, not "
         "'abc'"},
        {"host body size with trailing text",
         {Tool("pandel-host"), "--plugin", plugin, "--body-size", "12x", "GetInfo"},
         "pandel-host: --body-size takes a whole number from -2147483648 to 2147483647, not "
         "'12x'"},
        {"host body size beyond 32 bits",
         {Tool("pandel-host"), "--plugin", plugin, "--body-size", "4294967296", "GetInfo"},
         "pandel-host: --body-size takes a whole number from -2147483648 to 2147483647, not "
         "'4294967296'"},
        {"host body file a directory",
         {Tool("pandel-host"), "--plugin", plugin, "PostCommand", "Download", root.path()},
         "pandel-host: PostCommand body file: " + root.path() + " is not a regular file"},
        {"host body file missing",
         {Tool("pandel-host"), "--plugin", plugin, "PostCommand", "Download", root.Sub("none")},
         "pandel-host: PostCommand body file: " + root.Sub("none") + " does not exist"},
        {"host PostCommand without its file",
         {Tool("pandel-host"), "--plugin", plugin, "PostCommand", "Download"},
         "pandel-host: PostCommand needs a NAME and a BODYFILE"},
        {"host without plugin",
         {Tool("pandel-host"), "GetInfo"},
         "pandel-host: --plugin LIB is required"},
        {"host unknown call",
         {Tool("pandel-host"), "--plugin", plugin, "Reboot"},
         "pandel-host: unknown call Reboot"},
        {"host option without value",
         {Tool("pandel-host"), "--plugin"},
         "pandel-host: --plugin needs a value"},
        {"server port out of range",
         {Tool("devcfg-server"), "--port", "70000"},
         "devcfg-server: --port takes a whole number from 0 to 65535, not '70000'"},
        {"server r not a number",
         {Tool("devcfg-server"), "--r", "five"},
         "devcfg-server: --r takes a whole number from -2147483648 to 2147483647, not 'five'"},
        {"server count zero",
         {Tool("devcfg-server"), "--count", "0"},
         "devcfg-server: --count takes a whole number from 1 to 9223372036854775807, not '0'"},
        {"server fault kind",
         {Tool("devcfg-server"), "--fault", "maybe"},
         "devcfg-server: --fault takes client or server, not 'maybe'"},
        {"server unknown option",
         {Tool("devcfg-server"), "--verbose"},
         "devcfg-server: unknown option --verbose"},
        {"doctor unknown option",
         {Tool("pandel-doctor"), "--fix"},
         "pandel-doctor: unknown option --fix"},
        {"doctor option without value",
         {Tool("pandel-doctor"), "--host-dir"},
         "pandel-doctor: --host-dir needs a value"},
        {"demo unknown variant", {Tool("demo"), "--fast"}, "demo: unknown option --fast"},
        {"fuzz seconds not a number",
         {Tool("fuzz"), "abc"},
         "fuzz: SECONDS must be a whole number of seconds from 1, not 'abc'"},
        {"check-hardening not a directory",
         {Tool("check-hardening"), root.Sub("none")},
         "check-hardening: " + root.Sub("none") + " is not a directory"},
    };
    for (const UsageCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ProcessResult run = RunProcess(c.argv, BareRoot(root), 30000);
        EXPECT_EQ(2, run.exitCode);
        EXPECT_EQ("", run.out);
        EXPECT_EQ(c.says, run.err.substr(0, run.err.find('\n'))) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("usage: ")) << run.err;
    }
}

TEST(ToolCli, DevcfgServerNamesThePortInUse) {
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(holder, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address));
    ASSERT_EQ(0, listen(holder, 1));
    socklen_t length = sizeof address;
    ASSERT_EQ(0, getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length));
    const std::string port = std::to_string(ntohs(address.sin_port));

    const ProcessResult run = RunProcess({Tool("devcfg-server"), "--port", port}, {}, 30000);
    close(holder);
    EXPECT_EQ(1, run.exitCode);
    EXPECT_EQ("", run.out);
    EXPECT_EQ("devcfg-server: cannot listen on 127.0.0.1 port " + port +
                  ": the port is in use by another program\n",
              run.err);
}

TEST(ToolCli, HostLoadsNothingOfThePluginBeforeItIsAsked) {
    // A usage error is answered before the plug-in is loaded: the plug-in's own lines about its
    // log place come only from a run that loads it.
    TempRoot root;
    const std::string plugin = std::string(PANDEL_BUILD_DIR) + "/plugin/libPluginPandel.so";
    const ProcessResult usage =
        RunProcess({Tool("pandel-host"), "--plugin", plugin, "Nothing"}, BareRoot(root), 30000);
    EXPECT_EQ(std::string::npos, usage.err.find("Cannot open log file")) << usage.err;

    const ProcessResult loaded =
        RunProcess({Tool("pandel-host"), "--plugin", plugin, "GetInfo"}, BareRoot(root), 30000);
    EXPECT_EQ(0, loaded.exitCode);
    EXPECT_EQ("GetInfo -> 0\n", loaded.out);
    // The plug-in's lines only: its cannot-open text once per channel, then GetInfo's entry,
    // which goes where the log file could not take it.
    const std::string line = "Cannot open log file:" + root.Sub("bare") +
                             "/C/runtime.log, redirect the log using OutputDebugString().\r\n";
    const std::string entry = "[PluginPandel]INFO:CPandelPluginModule GetInfo()\r\n";
    EXPECT_EQ(line + line, loaded.err.substr(0, 2 * line.size()));
    EXPECT_EQ(2 * line.size() + 10 + entry.size(), loaded.err.size()) << loaded.err;
    EXPECT_EQ(entry, loaded.err.substr(loaded.err.size() - entry.size()));
}

} // namespace
} // namespace pandel::test
