// Every tool speaks the same way on its command line: --help on standard output with status 0,
// --version, usage errors naming what was wrong with status 2, numbers and files checked first;
// the scripts answer all of it before they run anything.
#include "harness/child_process.h"
#include "tests/support/temp_root.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace pandel::test {
namespace {

const char* const kScripts[] = {"bench", "check-format", "check-hardening", "demo",
                                "fuzz",  "install-deps", "interop-deps",    "package",
                                "test",  "test-install", "test-windows",    "windows-deps"};

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
    for (const std::string tool : {"pandel-host", "devcfg-server", "pandel-doctor"}) {
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
        {"server port out of range, given with =",
         {Tool("devcfg-server"), "--port=70000"},
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

namespace fs = std::filesystem;

// What the scripts run to do their work (install, build, test, package), each stood in for by a
// command that writes its name and arguments to a journal and fails.
const char* const kStandIns =
    "apt-get apt dpkg dpkg-query dpkg-deb sudo mount tee install mkdir cp rm mktemp timeout id "
    "nproc cmake cpack ctest ninja make gcc g++ clang clang++ clang-format readelf nm git find "
    "npm node python3 php lintian valgrind strace taskset iconv wine wine64 wineboot wineserver "
    "wixl x86_64-w64-mingw32-g++-posix i686-w64-mingw32-g++-posix";

struct ScriptRun {
    ProcessResult result;
    std::string journal;              // the stand-ins that ran, one line each
    std::vector<std::string> created; // what appeared in the working directory
};

// Runs a script with the stand-ins first on PATH, each run in a fresh working directory.
class ScriptSandbox {
public:
    ScriptSandbox() : bin_(root_.Sub("stand-ins")), journal_(root_.Sub("journal")) {
        std::istringstream names(kStandIns);
        for (std::string name; names >> name;) {
            WriteFile(bin_ + "/" + name,
                      "#!/bin/sh\necho \"" + name + " $*\" >>'" + journal_ + "'\nexit 1\n");
            fs::permissions(bin_ + "/" + name, fs::perms::owner_all);
        }
    }

    // Why scripts cannot be run in a directory of their own here, or nothing.
    std::string Missing() const {
        if (RunProcess({"/usr/bin/env", "-C", root_.path(), "bash", "-c", "true"}, {}, 30000)
                .exitCode != 0)
            return "needs bash and an env that takes -C (coreutils 8.28 or later)";
        return "";
    }

    std::string Path(const std::string& relative) const { return root_.Sub(relative); }

    ScriptRun Run(const std::vector<std::string>& scriptAndArguments) {
        const std::string directory = root_.Sub("run-" + std::to_string(++runs_));
        MakeDirectories(directory);
        std::vector<std::string> argv = {"/usr/bin/env", "-C", directory,
                                         Tool(scriptAndArguments.front())};
        argv.insert(argv.end(), scriptAndArguments.begin() + 1, scriptAndArguments.end());
        const char* path = std::getenv("PATH");
        ScriptRun run;
        run.result =
            RunProcess(argv, {{"PATH", bin_ + ":" + (path ? path : "/usr/bin:/bin")}}, 30000);
        if (fs::exists(journal_)) {
            run.journal = ReadFile(journal_);
            fs::remove(journal_);
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(directory))
            run.created.push_back(entry.path().filename().string());
        return run;
    }

private:
    TempRoot root_;
    std::string bin_;
    std::string journal_;
    int runs_ = 0;
};

// Whether text is what pattern says, NAME standing for the script: empty, nothing at all; ending
// a line, exactly this; otherwise, how text begins.
::testing::AssertionResult Says(const std::string& text, std::string pattern,
                                const std::string& script) {
    for (std::size_t at; (at = pattern.find("NAME")) != std::string::npos;)
        pattern.replace(at, 4, script);
    const bool matches = pattern.empty() || pattern.back() == '\n'
                             ? text == pattern
                             : text.compare(0, pattern.size(), pattern) == 0;
    if (matches)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "'" << text << "' is not '" << pattern << "'";
}

struct AnswerCase {
    const char* argument;
    int exitCode;
    const char* out; // as Says reads it
    const char* err;
};

TEST(ToolCli, ScriptsAnswerHelpVersionAndUnknownOptionsBeforeDoingAnything) {
    ScriptSandbox sandbox;
    if (const std::string missing = sandbox.Missing(); !missing.empty())
        GTEST_SKIP() << missing;
    const AnswerCase cases[] = {
        {"--help", 0, "usage: scripts/NAME", ""},
        {"-h", 0, "usage: scripts/NAME", ""},
        {"--version", 0, "NAME 1.0.0.3\n", ""},
        {"--no-such-option", 2, "", "NAME: unknown option --no-such-option\nusage: scripts/NAME"},
    };
    for (const std::string script : kScripts) {
        for (const AnswerCase& c : cases) {
            SCOPED_TRACE(script + " " + c.argument);
            const ScriptRun run = sandbox.Run({script, c.argument});
            EXPECT_EQ(c.exitCode, run.result.exitCode);
            EXPECT_TRUE(Says(run.result.out, c.out, script));
            EXPECT_TRUE(Says(run.result.err, c.err, script));
            EXPECT_EQ("", run.journal);
            EXPECT_EQ(std::vector<std::string>{}, run.created);
        }
    }
}

TEST(ToolCli, ScriptsRefuseWrongArgumentsBeforeDoingAnything) {
    ScriptSandbox sandbox;
    if (const std::string missing = sandbox.Missing(); !missing.empty())
        GTEST_SKIP() << missing;
    const std::string none = sandbox.Path("none");
    const std::vector<UsageCase> cases = {
        {"ctest arguments only after --", {"test", "-L", "unit"}, "test: unknown option -L"},
        {"test takes no plain argument", {"test", "unit"}, "test: unexpected argument 'unit'"},
        {"test-windows ctest arguments only after --",
         {"test-windows", "-R", "win32"},
         "test-windows: unknown option -R"},
        {"test-windows architecture unknown",
         {"test-windows", "--arch", "arm64"},
         "test-windows: --arch takes x86_64 or i686, not 'arm64'"},
        {"test-windows run without a program",
         {"test-windows", "--run"},
         "test-windows: --run needs a PROGRAM"},
        {"test-windows run with an architecture",
         {"test-windows", "--arch", "i686", "--run", "a.exe"},
         "test-windows: --run takes no --arch"},
        {"windows-deps architecture after =",
         {"windows-deps", "--arch=arm64"},
         "windows-deps: --arch takes x86_64 or i686, not 'arm64'"},
        {"windows-deps architecture missing",
         {"windows-deps", "--arch"},
         "windows-deps: --arch needs a value"},
        {"windows-deps two prefixes",
         {"windows-deps", "/a", "/b"},
         "windows-deps: unexpected argument '/b'"},
        {"install-deps option among packages",
         {"install-deps", "php-cli", "--yes"},
         "install-deps: unknown option --yes"},
        {"interop-deps without its directory",
         {"interop-deps"},
         "interop-deps: too few arguments: 1 needed, 0 given"},
        {"interop-deps with two directories",
         {"interop-deps", "a", "b"},
         "interop-deps: unexpected argument 'b'"},
        {"bench takes no argument", {"bench", "fast"}, "bench: unexpected argument 'fast'"},
        {"demo two variants", {"demo", "--refused", "--doctor"}, "demo: one variant at most"},
        {"demo variant with a value", {"demo", "--refused=yes"}, "demo: --refused takes no value"},
        {"fuzz seconds not a number",
         {"fuzz", "abc"},
         "fuzz: SECONDS must be a whole number of seconds from 1, not 'abc'"},
        {"check-hardening not a directory",
         {"check-hardening", none},
         "check-hardening: " + none + " is not a directory"},
        {"check-hardening two directories",
         {"check-hardening", "a", "b"},
         "check-hardening: unexpected argument 'b'"},
    };
    for (const UsageCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ScriptRun run = sandbox.Run(c.argv);
        EXPECT_EQ(2, run.result.exitCode);
        EXPECT_EQ("", run.result.out);
        EXPECT_EQ(c.says, run.result.err.substr(0, run.result.err.find('\n'))) << run.result.err;
        EXPECT_NE(std::string::npos, run.result.err.find("usage: scripts/" + c.argv.front()))
            << run.result.err;
        EXPECT_EQ("", run.journal);
        EXPECT_EQ(std::vector<std::string>{}, run.created);
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
