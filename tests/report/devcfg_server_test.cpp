// devcfg-server as a real process, driven by the module's own SendReport.
#include "report/report_sender.h"
#include "tests/report/report_test_support.h"
#include "tests/support/fake_platform.h"
#include "tests/support/temp_root.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace pandel::test {
namespace {

constexpr int kWaitMs = 10000;

// One devcfg-server child with its standard output on a pipe.
class ServerProcess {
public:
    explicit ServerProcess(std::vector<std::string> args) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0)
            return;
        args.insert(args.begin(), DEVCFG_SERVER_PATH);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(pipeFds[1], 1);
            close(pipeFds[0]);
            close(pipeFds[1]);
            std::vector<char*> argv;
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(pipeFds[1]);
        out_ = pipeFds[0];
        const std::string first = ReadLine();
        const std::string prefix = "listening on 127.0.0.1:";
        if (first.rfind(prefix, 0) == 0)
            port_ = static_cast<std::uint16_t>(std::stoi(first.substr(prefix.size())));
        output_ = first;
    }
    ~ServerProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            close(out_);
    }

    std::uint16_t port() const { return port_; }

    // True when the server ended by itself, with exit status 0, within the wait.
    bool ExitsCleanly() {
        for (int waited = 0; waited < kWaitMs; waited += 10) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) && WEXITSTATUS(status) == 0;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Everything printed, once the server has exited (its output then ends).
    std::string Output() { return OutputUntil(std::string()); }

    // Everything printed so far, once text has appeared in it (or the output ended or the wait
    // ran out).
    std::string OutputUntil(const std::string& text) {
        char buffer[4096];
        pollfd p{out_, POLLIN, 0};
        while ((text.empty() || output_.find(text) == std::string::npos) &&
               poll(&p, 1, kWaitMs) == 1) {
            const ssize_t got = read(out_, buffer, sizeof buffer);
            if (got <= 0)
                break;
            output_.append(buffer, static_cast<std::size_t>(got));
        }
        return output_;
    }

private:
    std::string ReadLine() {
        std::string line;
        char c = 0;
        pollfd p{out_, POLLIN, 0};
        while (line.size() < 200 && poll(&p, 1, kWaitMs) == 1 && read(out_, &c, 1) == 1) {
            line += c;
            if (c == '\n')
                break;
        }
        return line;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    bool exited_ = false;
    std::uint16_t port_ = 0;
    std::string output_;
};

std::string Block(long number, const std::string& id, const std::string& url, std::size_t units,
                  const std::string& text) {
    return "--- Set #" + std::to_string(number) + "\nMessageID: " + id +
           "\nFrom: 0,192.168.1.20\nTo: " + url + "\nAction: " + url + "\nReport (" +
           std::to_string(units) + " units):\n" + text + "\n--- end\n";
}

class DevcfgServer : public ::testing::Test {
protected:
    DevcfgServer() { platform_.fake.resolver["terminal"] = {"192.168.1.20"}; }
    ScopedFakePlatform platform_;
    TempRoot root_;
};

TEST_F(DevcfgServer, PrintsEachSetKeepsItsBytesAndAnswersR) {
    const std::string raw = root_.Sub("raw.bin");
    ServerProcess server({"--port", "0", "--r", "5", "--count", "2", "--raw", raw});
    ASSERT_NE(0, server.port());
    const std::string url = LoopbackUrl(server.port());
    const std::u16string first = u"line 1\r\nline 2\t\x00E9";
    const std::u16string second = u"<x a=\"1\">&amp;</x> \xD83D\xDE00";

    std::int32_t slot = 0;
    platform_.fake.tickCount = 1000;
    EXPECT_EQ(0, SendReport(url.c_str(), first.c_str(), &slot));
    EXPECT_EQ(5, slot);
    slot = 0;
    platform_.fake.tickCount = 2000;
    EXPECT_EQ(0, SendReport(url.c_str(), second.c_str(), &slot));
    EXPECT_EQ(5, slot);
    ASSERT_TRUE(server.ExitsCleanly()); // --count 2

    const std::string host = "127.0.0.1:" + std::to_string(server.port());
    EXPECT_EQ("listening on " + host + "\n" +
                  Block(1, "1000", url, first.size(), "line 1\r\nline 2\t\xC3\xA9") +
                  Block(2, "2000", url, second.size(), "<x a=\"1\">&amp;</x> \xF0\x9F\x98\x80"),
              server.Output());
    EXPECT_EQ(ExpectedSetRequest(host, "App/Ep", "1000", "0,192.168.1.20", url,
                                 "line 1&#xD;&#xA;line 2\t\xC3\xA9") +
                  ExpectedSetRequest(host, "App/Ep", "2000", "0,192.168.1.20", url,
                                     "&lt;x a=\"1\"&gt;&amp;amp;&lt;/x&gt; "
                                     "\xED\xA0\xBD\xED\xB8\x80"),
              ReadFile(raw));
}

struct AnswerCase {
    std::vector<std::string> args;
    int result;
    std::int32_t slot;
};

TEST_F(DevcfgServer, AnswersAsItIsTold) {
    const std::vector<AnswerCase> cases =
        {
            {{"--r", "-3"}, 0, -3},        {{"--fault", "client"}, 1, 0},
            {{"--fault", "server"}, 2, 0}, {{"--close-early"}, -1, 0},
            {{"--garbage"}, 200, 0}, // the runtime's code for a 200 whose body is no envelope
        };
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.args[0]);
        std::vector<std::string> args = {"--port", "0", "--count", "1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ServerProcess server(args);
        ASSERT_NE(0, server.port());
        const std::string url = LoopbackUrl(server.port());
        std::int32_t slot = 77;
        CapturedOutput output; // the fault printout
        EXPECT_EQ(c.result, SendReport(url.c_str(), u"report", &slot));
        EXPECT_EQ(c.slot, slot);
        EXPECT_TRUE(server.ExitsCleanly());
        EXPECT_NE(std::string::npos, server.Output().find("--- Set #1\n"));
    }
}

TEST_F(DevcfgServer, HangReadsTheRequestAndNeverAnswers) {
    ServerProcess server({"--port", "0", "--hang"});
    ASSERT_NE(0, server.port());
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address));
    const std::string url = LoopbackUrl(server.port());
    const std::string request =
        ExpectedSetRequest("127.0.0.1", "App/Ep", "1", "0,192.168.1.20", url, "hang");
    ASSERT_EQ(static_cast<ssize_t>(request.size()),
              send(fd, request.data(), request.size(), MSG_NOSIGNAL));
    // Once the block is printed the request has been read; then nothing comes back.
    const std::string block = "Report (4 units):\nhang\n--- end\n";
    EXPECT_NE(std::string::npos, server.OutputUntil(block).find(block));
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(0, poll(&p, 1, 300));
    close(fd);
}

TEST_F(DevcfgServer, ListensOnLoopbackOnly) {
    ServerProcess server({"--port", "0"});
    ASSERT_NE(0, server.port());
    char port[8];
    std::snprintf(port, sizeof port, ":%04X ", server.port());
    const std::string table = ReadFile("/proc/net/tcp");
    EXPECT_NE(std::string::npos, table.find(std::string("0100007F") + port));
    EXPECT_EQ(std::string::npos, table.find(std::string("00000000") + port));
}

} // namespace
} // namespace pandel::test
