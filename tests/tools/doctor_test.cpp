// pandel-doctor as a process on a terminal laid out in a temporary directory: one broken setup
// per check, each asserting the line that explains it and the exit status.
#include "harness/agent_xml.h"
#include "harness/child_process.h"
#include "harness/loopback_server.h"
#include "tests/report/report_test_support.h"
#include "tests/support/temp_root.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace pandel::test {
namespace {

constexpr int kReady = 0;
constexpr int kNotReady = 1;

std::string Build(const std::string& relative) {
    return std::string(PANDEL_BUILD_DIR) + "/" + relative;
}

// A terminal: PANDEL_ROOT with C/, the agent's directory with its library and Conf/agent.xml
// pointing at a loopback port, the host's directory, and the stand-in imaging library.
class Terminal {
public:
    Terminal() {
        MakeDirectories(agentDir() + "/Conf");
        MakeDirectories(hostDir() + "/Conf");
        const std::string library = ReadFile(Build("tools/libupload/libLibUpload.so"));
        WriteFile(agentDir() + "/libLibUpload.so", library);
        EXPECT_TRUE(WriteAgentXml(agentDir(), {"127.0.0.1", "8080"}));
        env_["PANDEL_ROOT"] = root_.path();
        env_["LD_LIBRARY_PATH"] = Build("tools/xpe-client");
    }

    std::string agentDir() const { return root_.Sub("agent"); }
    std::string hostDir() const { return root_.Sub("host"); }
    const TempRoot& root() const { return root_; }
    std::map<std::string, std::string>& env() { return env_; }

    ProcessResult Doctor(std::vector<std::string> extra = {}) {
        std::vector<std::string> argv = {Build("tools/pandel-doctor/pandel-doctor"), "--agent-dir",
                                         agentDir(), "--host-dir", hostDir()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return RunProcess(argv, env_, 60000);
    }

private:
    TempRoot root_;
    std::map<std::string, std::string> env_;
};

// The one line of out that begins with prefix; empty when there is none.
std::string LineStarting(const std::string& out, const std::string& prefix) {
    std::size_t at = out.rfind("\n" + prefix);
    std::size_t start = out.compare(0, prefix.size(), prefix) == 0 ? 0
                        : at == std::string::npos                  ? std::string::npos
                                                                   : at + 1;
    if (start == std::string::npos)
        return std::string();
    return out.substr(start, out.find('\n', start) - start);
}

struct BrokenSetup {
    const char* name;
    std::function<void(Terminal&)> breakIt;
    std::string linePrefix; // the line that must explain it
    std::string lineHolds;  // and what it must say
    int exitCode;
};

void HoldLock(Terminal& terminal, const std::string& name, int& fd) {
    MakeDirectories(terminal.root().Sub("locks"));
    fd = open(terminal.root().Sub("locks/" + name).c_str(), O_RDONLY | O_CREAT, 0666);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, flock(fd, LOCK_EX | LOCK_NB));
}

TEST(Doctor, EachBrokenSetupIsNamedWithItsFixAndExitStatus) {
    int heldFd = -1;
    const std::vector<BrokenSetup> cases = {
        {"healthy", [](Terminal&) {}, "[ ok ] service URL:",
         "reports would use http://127.0.0.1:8080/DeviceManager/DeviceConfig", kReady},
        {"agent.xml missing",
         [](Terminal& t) { unlink((t.agentDir() + "/Conf/agent.xml").c_str()); },
         "[FAIL] agent.xml:", "cannot be read at ", kNotReady},
        {"agent.xml not well-formed",
         [](Terminal& t) { WriteFile(t.agentDir() + "/Conf/agent.xml", "<Root><Server>"); },
         "[FAIL] agent.xml:", "not well-formed XML", kNotReady},
        {"RemoteAppEndpoint missing",
         [](Terminal& t) {
             ASSERT_TRUE(WriteAgentXml(t.agentDir(), {"127.0.0.1", "8080", "A", std::nullopt}));
         },
         "[FAIL] agent.xml RemoteAppEndpoint:", "missing (/Root/Server/RemoteAppEndpoint)",
         kNotReady},
        {"agent library not in --agent-dir",
         [](Terminal& t) { unlink((t.agentDir() + "/libLibUpload.so").c_str()); },
         "[FAIL] agent library:", "cannot load", kNotReady},
        {"server 0.0.0.0",
         [](Terminal& t) {
             ASSERT_TRUE(WriteAgentXml(t.agentDir(), {"0.0.0.0", "8080"}));
         },
         "[FAIL] service URL:", "because it holds http://0.0.0.0", kNotReady},
        {"empty values",
         [](Terminal& t) {
             ASSERT_TRUE(WriteAgentXml(t.agentDir(), {"", ""}));
         },
         "[FAIL] service URL:", "because its port is not a number from 1 to 65535", kNotReady},
        {"port out of range",
         [](Terminal& t) {
             ASSERT_TRUE(WriteAgentXml(t.agentDir(), {"127.0.0.1", "70000"}));
         },
         "[FAIL] service URL:", "because its port is not a number from 1 to 65535", kNotReady},
        {"white space inside a value",
         [](Terminal& t) {
             ASSERT_TRUE(WriteAgentXml(t.agentDir(), {"server one", "8080"}));
         },
         "[FAIL] service URL:", "because it holds white space or a control byte", kNotReady},
        {"URL too long",
         [](Terminal& t) {
             ASSERT_TRUE(WriteAgentXml(t.agentDir(), {"127.0.0.1", "8080", std::string(300, 'a')}));
         },
         "[FAIL] service URL:", "not ASCII or longer than 259 characters", kNotReady},
        {"proxy word in capitals",
         [](Terminal& t) {
             WriteFile(t.hostDir() + "/Conf/ProxyInfo.xml", "proxy.test 3128 True\n");
         },
         "[warn] ProxyInfo.xml:", "'proxy.test' '3128' 'True': proxy not enabled", kReady},
        {"proxy enabled, loopback service",
         [](Terminal& t) {
             WriteFile(t.hostDir() + "/Conf/ProxyInfo.xml", "proxy.test 3128 true\n");
         },
         "[ ok ] endpoint:", "never goes through the proxy", kReady},
        {"proxy enabled, remote service",
         [](Terminal& t) {
             WriteFile(t.hostDir() + "/Conf/ProxyInfo.xml", "proxy.test 3128 true\n");
             ASSERT_TRUE(WriteAgentXml(t.agentDir(), {"server.test", "8080"}));
         },
         "[ ok ] endpoint:",
         "reports go to http://proxy.test:3128/DeviceManager/DeviceConfig (the proxy)", kReady},
        {"control bytes in the proxy file are shown, not sent to the terminal",
         [](Terminal& t) {
             WriteFile(t.hostDir() + "/Conf/ProxyInfo.xml", "\x1b[2J 3128 \xB4\xFA\n");
         },
         "[warn] ProxyInfo.xml:", "'\\x1B[2J' '3128' '\\xB4\\xFA'", kReady},
        {"log place missing", [](Terminal& t) { rmdir(t.root().Sub("C").c_str()); },
         "[warn] log:", "the module says \"Cannot open log file:...\" on standard error", kReady},
        {"log switch set",
         [](Terminal& t) {
             const std::string key =
                 t.root().Sub("registry/HKEY_LOCAL_MACHINE/Software/Orvane/LogModule");
             MakeDirectories(key);
             WriteFile(key + "/PluginPandel", "");
         },
         "[warn] log switch PluginPandel:", "so the channel writes nothing", kReady},
        {"imaging library missing",
         [](Terminal& t) { t.env()["LD_LIBRARY_PATH"] = t.root().Sub("nowhere"); },
         "[FAIL] imaging library:", "libXPePandelClient.so cannot be loaded", kNotReady},
        {"imaging library without its functions",
         [](Terminal& t) {
             MakeDirectories(t.root().Sub("lib"));
             WriteFile(t.root().Sub("lib/libXPePandelClient.so"),
                       ReadFile(Build("tools/libupload/libLibUpload.so")));
             t.env()["LD_LIBRARY_PATH"] = t.root().Sub("lib");
         },
         "[FAIL] imaging library:",
         "lacks CheckFilesExistWhenUpload, CheckSupportNC, CheckUpdateUserExist, UploadByNC, "
         "UploadImgWithAdapter, RestoreByNC, RestoreImgWithAdapter, GetAdapterCount, "
         "EnableAdapter",
         kNotReady},
        {"lock held by another process",
         [&heldFd](Terminal& t) { HoldLock(t, "h_Proxylock", heldFd); },
         "[warn] lock h_Proxylock:", "held by process " + std::to_string(getpid()) + " (", kReady},
        {"lock place not a regular file",
         [](Terminal& t) { MakeDirectories(t.root().Sub("locks/h_TryGetIpLock_uuid")); },
         "[warn] lock h_TryGetIpLock_uuid:", "cannot be had", kReady},
    };
    for (const BrokenSetup& c : cases) {
        SCOPED_TRACE(c.name);
        Terminal terminal;
        c.breakIt(terminal);
        const ProcessResult run = terminal.Doctor();
        if (heldFd >= 0) {
            close(heldFd);
            heldFd = -1;
        }
        EXPECT_EQ(c.exitCode, run.exitCode) << run.out << run.err;
        const std::string line = LineStarting(run.out, c.linePrefix);
        EXPECT_NE(std::string::npos, line.find(c.lineHolds)) << "line: " << line << "\n" << run.out;
        if (c.linePrefix.rfind("[ ok ]", 0) != 0) {
            EXPECT_NE(std::string::npos, line.find(" -- fix: ")) << line;
        }
        // The findings are the whole of standard output; the module prints nothing there.
        EXPECT_EQ(std::string::npos, run.out.find('\xB4')) << run.out;
    }
}

struct ProbeCase {
    const char* name;
    std::string answer; // empty: nothing listens on the port
    std::string lineHolds;
    int exitCode;
    LoopbackServer::Mode mode = LoopbackServer::Mode::Answer;
    std::string lineLacks = std::string(); // what the line must not claim
};

TEST(Doctor, ProbeSendsOneReachabilityDocumentAndExplainsTheResult) {
    const std::string ok = "<s:SetResponse><s:r>5</s:r></s:SetResponse>";
    const std::string fault = "<SOAP-ENV:Fault><faultcode>SOAP-ENV:%s</faultcode>"
                              "<faultstring>told to</faultstring></SOAP-ENV:Fault>";
    auto faultOf = [&](const std::string& code) {
        std::string body = fault;
        return body.replace(body.find("%s"), 2, code);
    };
    const std::vector<ProbeCase> cases = {
        {"answered", HttpResponse(200, Soap11(ok)), "the server answered SetResponse r=5", kReady},
        {"nothing listens", "", "result 28, no connection", kNotReady},
        {"Client fault", HttpResponse(500, Soap11(faultOf("Client"))),
         "result 1, SOAP Client fault", kNotReady},
        {"Server fault", HttpResponse(500, Soap11(faultOf("Server"))),
         "result 2, SOAP Server fault", kNotReady},
        {"no r", HttpResponse(200, Soap11("<s:SetResponse></s:SetResponse>")),
         "result 44, the SetResponse has no r", kNotReady},
        {"not a SetResponse", HttpResponse(200, Soap11("<s:GetResponse></s:GetResponse>")),
         "result 3, the answer is not a SetResponse", kNotReady},
        {"HTTP status", HttpResponse(404, "not here"),
         "result 404, the server answered with this HTTP status", kNotReady},
        // Closed at once: an early end, not a wait that ran out.
        {"closed without an answer", "unused", "result -1, the connection ended after ", kNotReady,
         LoopbackServer::Mode::CloseAfterRequest, "kept silent"},
    };
    for (const ProbeCase& c : cases) {
        SCOPED_TRACE(c.name);
        Terminal terminal;
        std::uint16_t port = 0;
        std::unique_ptr<LoopbackServer> server;
        if (!c.answer.empty()) {
            server = std::make_unique<LoopbackServer>(c.answer, c.mode);
            port = server->port();
        } else {
            LoopbackServer closed; // a port that was free a moment ago
            port = closed.port();
        }
        ASSERT_TRUE(WriteAgentXml(terminal.agentDir(), {"127.0.0.1", std::to_string(port)}));
        const ProcessResult run = terminal.Doctor({"--probe"});
        EXPECT_EQ(c.exitCode, run.exitCode) << run.out << run.err;
        const std::string line =
            LineStarting(run.out, c.exitCode == kReady ? "[ ok ] probe:" : "[FAIL] probe:");
        EXPECT_NE(std::string::npos, line.find(c.lineHolds)) << run.out;
        EXPECT_NE(std::string::npos, line.find("sent <Root ID=\"")) << line;
        if (!c.lineLacks.empty()) {
            EXPECT_EQ(std::string::npos, line.find(c.lineLacks)) << line;
        }
        // The module's own lines (GBK proxy text, fault printout) go to standard error.
        EXPECT_EQ(std::string::npos, run.out.find('\xB4')) << run.out;
        if (server) {
            EXPECT_EQ(1u, server->Requests().size());
        }
    }
}

struct ServerValueCase {
    const char* name;
    std::string ip;
    std::string port;
    std::string linePrefix; // the value's own line
    std::string lineHolds;
    std::string fixHolds; // empty: the value is usable, the line is ok
};

// A value no report could use fails on its own line with a fix naming its element, and the
// service URL line then claims nothing ok.
TEST(Doctor, EachServerValueIsOkOnlyWhenAReportCouldUseIt) {
    const std::string ipFix = "write the server's address in <Ip> of <Root><Server> in ";
    const std::string portFix =
        "write the server's port, a number from 1 to 65535, in <Port> of <Root><Server> in ";
    const std::string notAPort = "is not a port, a number from 1 to 65535 in decimal digits";
    const std::vector<ServerValueCase> cases = {
        {"empty Ip", "", "8080",
         "[FAIL] agent.xml Ip:", "empty: the service URL would name no server", ipFix},
        {"Ip of white space alone", " \t ", "8080", "[FAIL] agent.xml Ip:", "empty", ipFix},
        {"port past 65535", "127.0.0.1", "70000", "[FAIL] agent.xml Port:", "'70000' " + notAPort,
         portFix},
        {"port with a letter", "127.0.0.1", "8o80", "[FAIL] agent.xml Port:", "'8o80' " + notAPort,
         portFix},
        {"port 0", "127.0.0.1", "0", "[FAIL] agent.xml Port:", "'0' " + notAPort, portFix},
        {"negative port", "127.0.0.1", "-1", "[FAIL] agent.xml Port:", "'-1' " + notAPort, portFix},
        {"good port", "127.0.0.1", "8080", "[ ok ] agent.xml Port:", "'8080'", ""},
        {"highest port", "127.0.0.1", "65535", "[ ok ] agent.xml Port:", "'65535'", ""},
    };
    for (const ServerValueCase& c : cases) {
        SCOPED_TRACE(c.name);
        Terminal terminal;
        const std::string agentXml = terminal.agentDir() + "/Conf/agent.xml";
        ASSERT_TRUE(WriteAgentXml(terminal.agentDir(), {c.ip, c.port}));
        const ProcessResult run = terminal.Doctor();
        const std::string line = LineStarting(run.out, c.linePrefix);
        EXPECT_NE(std::string::npos, line.find(c.lineHolds)) << "line: " << line << "\n" << run.out;
        if (c.fixHolds.empty()) {
            EXPECT_EQ(kReady, run.exitCode) << run.out << run.err;
            EXPECT_NE("", LineStarting(run.out, "[ ok ] service URL:")) << run.out;
            continue;
        }
        EXPECT_EQ(kNotReady, run.exitCode) << run.out << run.err;
        EXPECT_NE(std::string::npos, line.find(" -- fix: " + c.fixHolds + agentXml)) << line;
        EXPECT_EQ("", LineStarting(run.out, "[ ok ] service URL:")) << run.out;
        EXPECT_NE("", LineStarting(run.out, "[FAIL] service URL:")) << run.out;
    }
}

// Without a host the runtime opens no connection: the probe says so, and nothing waited.
TEST(Doctor, ProbeToAUrlWithoutHostNamesTheCause) {
    Terminal terminal;
    LoopbackServer server(HttpResponse(200, Soap11("<s:SetResponse><s:r>5</s:r></s:SetResponse>")));
    ASSERT_TRUE(WriteAgentXml(terminal.agentDir(), {"", std::to_string(server.port())}));
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult run = terminal.Doctor({"--probe"});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(kNotReady, run.exitCode) << run.out << run.err;
    const std::string line = LineStarting(run.out, "[FAIL] probe:");
    EXPECT_NE(std::string::npos,
              line.find("the URL has no host name: the exchange ended before any connection"))
        << run.out;
    EXPECT_EQ(std::string::npos, line.find("15 s")) << line;
    EXPECT_EQ(std::string::npos, line.find("kept silent")) << line;
    EXPECT_NE(std::string::npos, line.find(" -- fix: write the server's address in <Ip>")) << line;
    EXPECT_NE(std::string::npos, LineStarting(run.out, "[FAIL] endpoint:").find("names no host"))
        << run.out;
    // Well short of the 15 s a silent server costs: the exchange never waited for one.
    EXPECT_LT(took, std::chrono::seconds(15));
    EXPECT_EQ(0u, server.Accepted());
}

struct LogPlaceCase {
    const char* name;
    std::function<void(Terminal&)> breakIt;
    std::string lineHolds;
    std::string fixHolds;
};

// Each way the log file cannot be opened gets the fix that fits what stands at its place.
TEST(Doctor, LogFixFitsWhatStandsAtThePlace) {
    const std::vector<LogPlaceCase> cases = {
        {"directory missing", [](Terminal& t) { rmdir(t.root().Sub("C").c_str()); },
         "its directory is missing", "create the directory %C, writable by the agent's account"},
        {"a file where the directory should be",
         [](Terminal& t) {
             rmdir(t.root().Sub("C").c_str());
             WriteFile(t.root().Sub("C"), "");
         },
         "%C is a file where a directory should be",
         "remove the file %C and create the directory %C, writable by the agent's account"},
        {"a directory where the file should be",
         [](Terminal& t) { MakeDirectories(t.root().Sub("C/runtime.log")); },
         "it is not a regular file", "remove %C/runtime.log;"},
    };
    for (const LogPlaceCase& c : cases) {
        SCOPED_TRACE(c.name);
        Terminal terminal;
        c.breakIt(terminal);
        const auto place = [&](std::string text) {
            for (std::size_t at; (at = text.find("%C")) != std::string::npos;)
                text.replace(at, 2, terminal.root().Sub("C"));
            return text;
        };
        const ProcessResult run = terminal.Doctor();
        EXPECT_EQ(kReady, run.exitCode) << run.out << run.err;
        const std::string line = LineStarting(run.out, "[warn] log:");
        EXPECT_NE(std::string::npos, line.find("(" + place(c.lineHolds))) << run.out;
        EXPECT_NE(std::string::npos, line.find(" -- fix: " + place(c.fixHolds))) << line;
    }
}

TEST(Doctor, LogDirectoryThatCannotBeWrittenIsToBeMadeWritable) {
    if (geteuid() == 0)
        GTEST_SKIP() << "running as root, whom mode bits do not keep from writing";
    Terminal terminal;
    const std::string directory = terminal.root().Sub("C");
    ASSERT_EQ(0, chmod(directory.c_str(), 0555));
    const ProcessResult run = terminal.Doctor();
    chmod(directory.c_str(), 0755);
    const std::string line = LineStarting(run.out, "[warn] log:");
    EXPECT_NE(std::string::npos, line.find("its directory exists but cannot be written"))
        << run.out;
    EXPECT_NE(std::string::npos, line.find(" -- fix: make the directory " + directory +
                                           " writable by the agent's account"))
        << line;
}

// A child that holds a named lock as `sleep 30`, killed by its pid when done.
class LockHoldingChild {
public:
    explicit LockHoldingChild(const std::string& lockFile) {
        int ready[2];
        if (pipe2(ready, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            // The lock's descriptor stays open across exec; the pipe closes there.
            const int fd = open(lockFile.c_str(), O_RDONLY | O_CREAT, 0644);
            if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0)
                execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
            const char failed = 'x';
            (void)!write(ready[1], &failed, 1);
            _exit(127);
        }
        close(ready[1]);
        // End of file without a byte: the lock is taken and sleep runs.
        pollfd wait = {ready[0], POLLIN, 0};
        char byte = 0;
        holding_ = pid_ > 0 && poll(&wait, 1, 10000) == 1 && read(ready[0], &byte, 1) == 0;
        close(ready[0]);
    }
    ~LockHoldingChild() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    LockHoldingChild(const LockHoldingChild&) = delete;
    LockHoldingChild& operator=(const LockHoldingChild&) = delete;

    pid_t pid() const { return pid_; }
    bool holding() const { return holding_; }

private:
    pid_t pid_ = -1;
    bool holding_ = false;
};

TEST(Doctor, HeldLockNamesItsHolder) {
    if (access("/bin/sleep", X_OK) != 0)
        GTEST_SKIP() << "no /bin/sleep to hold the lock";
    Terminal terminal;
    MakeDirectories(terminal.root().Sub("locks"));
    LockHoldingChild child(terminal.root().Sub("locks/h_Proxylock"));
    ASSERT_TRUE(child.holding());
    const ProcessResult run = terminal.Doctor();
    EXPECT_EQ(kReady, run.exitCode) << run.out << run.err;
    const std::string pid = std::to_string(child.pid());
    const std::string line = LineStarting(run.out, "[warn] lock h_Proxylock:");
    EXPECT_NE(std::string::npos, line.find("held by process " + pid + " (sleep 30) at "))
        << run.out;
    EXPECT_NE(std::string::npos, line.find(" -- fix: end process " + pid + " if it is stuck"))
        << line;
}

TEST(Doctor, ProbeWithoutServiceUrlSendsNothing) {
    Terminal terminal;
    unlink((terminal.agentDir() + "/Conf/agent.xml").c_str());
    const ProcessResult run = terminal.Doctor({"--probe"});
    EXPECT_EQ(kNotReady, run.exitCode);
    EXPECT_NE(std::string::npos,
              LineStarting(run.out, "[FAIL] probe:").find("not sent: there is no service URL"))
        << run.out;
}

TEST(Doctor, JsonCarriesTheVerdictAndEachFinding) {
    Terminal terminal;
    ASSERT_TRUE(WriteAgentXml(terminal.agentDir(), {"0.0.0.0", "8080"}));
    const ProcessResult run = terminal.Doctor({"--json"});
    EXPECT_EQ(kNotReady, run.exitCode);
    EXPECT_EQ(0u, run.out.rfind("{\"ready\": false, \"findings\": [", 0)) << run.out;
    EXPECT_NE(std::string::npos,
              run.out.find("{\"check\": \"service URL\", \"status\": \"fail\", \"text\": "
                           "\"'http://0.0.0.0:8080/DeviceManager/DeviceConfig' would be refused"))
        << run.out;
    EXPECT_EQ("]}\n", run.out.substr(run.out.size() - 3));
}

} // namespace
} // namespace pandel::test
