// The proxy settings file, the endpoint rewrite and the local address list, on a fake platform
// whose host executable sits in a temporary directory holding a real settings file.
#include "proxy/proxy_settings.h"
#include "report/report_sender.h"

#include "harness/child_process.h"
#include "harness/fake_platform.h"
#include "tests/report/report_test_support.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <sys/stat.h>
#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;
using pandel::test::CapturedOutput;
using pandel::test::ScopedFakePlatform;
using pandel::test::TempRoot;

// What puts leaves on standard output: the GBK bytes and a line feed.
const std::string kUnavailable = "\xB4\xFA\xC0\xED\xB2\xBB\xBF\xC9\xD3\xC3\n";
const std::string kNotEnabled = "\xB4\xFA\xC0\xED\xCE\xB4\xBF\xAA\xC6\xF4\n";

// A buffer of exactly the sender's size on the heap, so that a sanitizer build catches any
// write past it.
std::unique_ptr<char[]> SenderBuffer(const std::string& text, char fill = '\0') {
    auto buffer = std::make_unique<char[]>(pandel::kEndpointBufferSize);
    std::memset(buffer.get(), fill, pandel::kEndpointBufferSize);
    std::memcpy(buffer.get(), text.data(), std::min(text.size(), pandel::kEndpointBufferSize));
    return buffer;
}

class ProxyTest : public ::testing::Test {
protected:
    void SetUp() override {
        os_.fake.hostExecutablePath = root_.Sub("agent/agent");
        os_.fake.hostName = "terminal";
        os_.fake.resolver["terminal"] = {"192.168.1.20", "10.0.0.7"};
    }

    // Writes the settings file; nullopt removes it.
    void SetProxyFile(const std::optional<std::string>& content) {
        fs::remove(proxyFile_);
        if (content)
            pandel::test::WriteFile(proxyFile_, *content);
    }

    // One report's proxy step: the rewrite, then the address list. Returns what was printed.
    std::string RunReport(char* endpoint, char* list) {
        CapturedOutput capture;
        EXPECT_EQ(pandel::ApplyProxyToEndpoint(endpoint), 0);
        EXPECT_EQ(pandel::GetLocalAddressList(list), 0);
        return capture.StdoutAsWritten();
    }

    TempRoot root_;
    ScopedFakePlatform os_;
    std::string proxyFile_ = root_.Sub("agent/Conf/ProxyInfo.xml");
};

TEST_F(ProxyTest, SettingsFileDecidesTheRewriteTheFlagAndTheMessages) {
    const std::string endpoint = "http://S:Q/a/b";
    const std::string word259(259, 'h');
    const std::string word260(260, 'h');
    const struct {
        const char* what;
        std::optional<std::string> file;
        std::string rewritten; // empty: the endpoint stays as it was
        std::string message;   // printed by each read of the file
        char flag;
    } cases[] = {
        {"enabled", "H P true", "http://H:P/a/b", "", '1'},
        {"line breaks and tabs separate words", "\t H\r\nP \v\f\r\ntrue\r\n", "http://H:P/a/b", "",
         '1'},
        {"a fourth word is ignored", "H P true " + std::string(300, 'x'), "http://H:P/a/b", "",
         '1'},
        {"no byte-order-mark handling", "\xEF\xBB\xBFH P true", "http://\xEF\xBB\xBFH:P/a/b", "",
         '1'},
        {"a NUL byte ends a word", std::string("H P true\0x", 10), "http://H:P/a/b", "", '1'},
        {"a long file", "H P true " + std::string(200 * 1024, 'x'), "http://H:P/a/b", "", '1'},
        {"much white space first", std::string(60 * 1024, ' ') + "H P true", "http://H:P/a/b", "",
         '1'},
        // The words are looked for in the file's first 64 KiB; a file whose words run past them
        // is not read at all rather than read as something it may not say.
        {"words beyond the first 64 KiB", std::string(64 * 1024, '\n') + "H P true", "",
         kUnavailable, '0'},
        {"true cut by the bound into trueX", std::string(64 * 1024 - 8, ' ') + "H P trueX", "",
         kUnavailable, '0'},
        {"true that ends past the bound", std::string(64 * 1024 - 6, ' ') + "H P true", "",
         kUnavailable, '0'},
        {"words ending at the bound", std::string(64 * 1024 - 9, ' ') + "H P true " + "x",
         "http://H:P/a/b", "", '1'},
        {"case matters", "H P True", "", kNotEnabled, '0'},
        {"a longer word is not true", "H P truex", "", kNotEnabled, '0'},
        {"two words", "H P", "", kNotEnabled, '0'},
        {"empty file", "", "", kNotEnabled, '0'},
        {"no file", std::nullopt, "", kUnavailable, '0'},
        // A host of 259 characters is read, but the URL it makes does not fit the endpoint.
        {"host that fills its buffer", word259 + " P true", "", "", '1'},
        {"host longer than its buffer", word260 + " P true", "", kNotEnabled, '0'},
        {"port longer than its buffer", "H " + word260 + " true", "", kNotEnabled, '0'},
        {"enable word longer than its buffer", "H P " + word260, "", kNotEnabled, '0'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetProxyFile(c.file);
        auto buffer = SenderBuffer(endpoint);
        auto list = SenderBuffer("", 'X');
        const std::string printed = RunReport(buffer.get(), list.get());
        const std::string expected = c.rewritten.empty() ? endpoint : c.rewritten;
        EXPECT_EQ(std::string(buffer.get()), expected);
        EXPECT_EQ(printed, c.message + expected + "\n" + c.message);
        EXPECT_EQ(std::string(list.get()), std::string(1, c.flag) + ",192.168.1.20,10.0.0.7");
    }
}

TEST_F(ProxyTest, ReadSettingsFillsHostAndPortOnlyWhenEnabled) {
    const std::string host259(259, 'h');
    const struct {
        const char* what;
        std::string file;
        bool enabled;
        std::string host;
        std::string port;
    } cases[] = {
        {"enabled", "proxy.example 8080 true", true, "proxy.example", "8080"},
        {"words that fill their buffers", host259 + " " + std::string(259, '9') + " true", true,
         host259, std::string(259, '9')},
        {"not enabled", "proxy.example 8080 false", false, "", ""},
        {"a word too long", host259 + "h 8080 true", false, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetProxyFile(c.file);
        auto host = SenderBuffer("", 'X');
        auto port = SenderBuffer("", 'Y');
        CapturedOutput capture;
        const bool enabled = pandel::ReadProxySettings(host.get(), port.get());
        const bool flag = pandel::IsProxyEnabled();
        capture.StdoutAsWritten();
        EXPECT_EQ(enabled, c.enabled);
        EXPECT_EQ(flag, c.enabled);
        if (c.enabled) {
            EXPECT_EQ(std::string(host.get()), c.host);
            EXPECT_EQ(std::string(port.get()), c.port);
        } else {
            EXPECT_EQ(std::string(host.get(), 260), std::string(260, 'X'));
            EXPECT_EQ(std::string(port.get(), 260), std::string(260, 'Y'));
        }
    }
}

TEST_F(ProxyTest, EndpointShapes) {
    SetProxyFile("HOST P true");
    // The proxy's host is longer than the server's: a rewrite can outgrow the buffer.
    const std::string longPath(259 - std::strlen("http://HOST:P/"), 'p');
    const struct {
        const char* what;
        std::string endpoint;
        std::string after;
        bool printed;
    } cases[] = {
        {"deep path", "http://S:Q/App/End/x?y=1", "http://HOST:P/App/End/x?y=1", true},
        {"empty path", "http://S:Q/", "http://HOST:P/", true},
        {"empty port", "http://S:/a", "http://HOST:P/a", true},
        {"any scheme becomes http", "https://S:Q/a", "http://HOST:P/a", true},
        {"rewrite that just fits", "http://S:Q/" + longPath, "http://HOST:P/" + longPath, true},
        {"rewrite one byte too long", "http://S:Q/" + longPath + "p",
         "http://S:Q/" + longPath + "p", true},
        {"no colon at all", "localpath/a/b", "localpath/a/b", false},
        {"empty", "", "", false},
        {"no port", "http://S/a:b", "http://S/a:b", true},
        {"no path", "http://S:Q", "http://S:Q", true},
        {"no slashes", "S:Q/a", "S:Q/a", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto buffer = SenderBuffer(c.endpoint);
        CapturedOutput capture;
        EXPECT_EQ(pandel::ApplyProxyToEndpoint(buffer.get()), 0);
        const std::string printed = capture.StdoutAsWritten();
        EXPECT_EQ(std::string(buffer.get()), c.after);
        EXPECT_EQ(printed, c.printed ? c.after + "\n" : "");
    }
}

TEST_F(ProxyTest, EndpointThatIsAbsentOrUnterminatedIsLeftAlone) {
    SetProxyFile("H P true");
    auto unterminated = SenderBuffer("", ':');
    CapturedOutput capture;
    EXPECT_EQ(pandel::ApplyProxyToEndpoint(nullptr), 0);
    EXPECT_EQ(pandel::ApplyProxyToEndpoint(unterminated.get()), 0);
    EXPECT_EQ(pandel::GetLocalAddressList(nullptr), 0);
    const std::string printed = capture.StdoutAsWritten();
    EXPECT_EQ(printed, "");
    EXPECT_EQ(std::string(unterminated.get(), 260), std::string(260, ':'));
    EXPECT_TRUE(os_.fake.trace.empty());
}

TEST_F(ProxyTest, AddressListKeepsWholeAddressesWithinItsBuffer) {
    const std::string name31(31, 'n');
    const std::string name32(32, 'n');
    auto repeat = [](const std::string& address, int count) {
        return std::vector<std::string>(count, address);
    };
    auto list = [](const std::string& address, int count) {
        std::string text = "0";
        for (int i = 0; i < count; ++i)
            text += "," + address;
        return text;
    };
    // Fifteen of the longest addresses, then the given ones.
    auto fill = [&](std::vector<std::string> tail) {
        std::vector<std::string> addresses = repeat("255.255.255.255", 15);
        addresses.insert(addresses.end(), tail.begin(), tail.end());
        return addresses;
    };
    const struct {
        const char* what;
        std::optional<std::string> hostName;
        std::vector<std::string> addresses;
        std::string expected;
    } cases[] = {
        {"two addresses in resolver order",
         "terminal",
         {"192.168.1.20", "10.0.0.7"},
         "0,192.168.1.20,10.0.0.7"},
        {"no address", "terminal", {}, "0"},
        {"host name unreadable", std::nullopt, {"10.0.0.1"}, "0"},
        {"host name of 31 characters", name31, {"10.0.0.1"}, "0,10.0.0.1"},
        {"host name of 32 characters", name32, {"10.0.0.1"}, "0"},
        {"sixteen of the longest addresses fit", "terminal", repeat("255.255.255.255", 16),
         list("255.255.255.255", 16)},
        {"a seventeenth does not", "terminal", repeat("255.255.255.255", 17),
         list("255.255.255.255", 16)},
        {"a list of 259 characters fills the buffer", "terminal", fill({"1.1.1.10", "1.1.1.10"}),
         list("255.255.255.255", 15) + ",1.1.1.10,1.1.1.10"},
        {"one that would need 260 characters is left off", "terminal",
         fill({"10.10.10.1", "1.1.1.1"}), list("255.255.255.255", 15) + ",10.10.10.1"},
        {"short addresses fill up to the last whole one", "terminal", repeat("10.0.0.1", 40),
         list("10.0.0.1", 28)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        os_.fake.hostName = c.hostName;
        os_.fake.resolver.clear();
        if (c.hostName)
            os_.fake.resolver[*c.hostName] = c.addresses;
        os_.fake.trace.clear();
        auto out = SenderBuffer("", 'X');
        CapturedOutput capture;
        pandel::GetLocalAddressList(out.get());
        capture.StdoutAsWritten();
        EXPECT_EQ(std::string(out.get()), c.expected);
        EXPECT_LT(c.expected.size(), pandel::kLocalAddressBufferSize);
        const bool resolved =
            std::find(os_.fake.trace.begin(), os_.fake.trace.end(),
                      "ResolveIPv4 " + c.hostName.value_or("")) != os_.fake.trace.end();
        EXPECT_EQ(resolved, c.hostName && c.hostName->size() < 32);
    }
}

std::vector<std::string> LockAndHostEvents(const std::vector<std::string>& trace) {
    std::vector<std::string> events;
    for (const std::string& event : trace) {
        if (event.find("NamedLock") != std::string::npos || event == "HostExecutablePath" ||
            event == "HostName" || event.rfind("ResolveIPv4", 0) == 0)
            events.push_back(event);
    }
    return events;
}

TEST_F(ProxyTest, LocksAreTakenOneAtATimeAroundTheirWork) {
    SetProxyFile("H P true");
    auto endpoint = SenderBuffer("http://S:Q/a/b");
    auto list = SenderBuffer("");
    RunReport(endpoint.get(), list.get());
    const std::vector<std::string> proxyRead = {
        "OpenNamedLock h_Proxylock",   "WaitNamedLock h_Proxylock",  "HostExecutablePath",
        "SignalNamedLock h_Proxylock", "CloseNamedLock h_Proxylock",
    };
    std::vector<std::string> expected = proxyRead;
    expected.insert(expected.end(), proxyRead.begin(), proxyRead.end());
    expected.insert(expected.end(), {
                                        "OpenNamedLock h_TryGetIpLock_uuid",
                                        "WaitNamedLock h_TryGetIpLock_uuid",
                                        "HostName",
                                        "ResolveIPv4 terminal",
                                        "SignalNamedLock h_TryGetIpLock_uuid",
                                        "CloseNamedLock h_TryGetIpLock_uuid",
                                    });
    EXPECT_EQ(LockAndHostEvents(os_.fake.trace), expected);
}

TEST_F(ProxyTest, WorkRunsUnlockedWhenNoLockCanBeHad) {
    os_.faults.OpenNamedLock.FailCall(1, /*forGood=*/true);
    SetProxyFile("H P true");
    auto endpoint = SenderBuffer("http://S:Q/a/b");
    auto list = SenderBuffer("");
    EXPECT_EQ(RunReport(endpoint.get(), list.get()), "http://H:P/a/b\n");
    EXPECT_EQ(std::string(endpoint.get()), "http://H:P/a/b");
    EXPECT_EQ(std::string(list.get()), "1,192.168.1.20,10.0.0.7");
}

TEST_F(ProxyTest, WithoutAHostDirectoryTheFileIsTakenFromTheCurrentDirectory) {
    os_.fake.hostExecutablePath = "";
    pandel::test::WriteFile(root_.Sub("cwd/Conf/ProxyInfo.xml"), "H P true");
    const fs::path previous = fs::current_path();
    fs::current_path(root_.Sub("cwd"));
    CapturedOutput capture;
    const bool enabled = pandel::IsProxyEnabled();
    capture.StdoutAsWritten();
    fs::current_path(previous);
    EXPECT_TRUE(enabled);
}

TEST_F(ProxyTest, OnlyAPlainFileIsASettingsFile) {
    const struct {
        const char* what;
        std::function<void(const std::string&)> make;
    } cases[] = {
        {"directory", [](const std::string& path) { fs::create_directories(path); }},
#if !defined(_WIN32) // Windows has no named pipes in the file system
        // Opening a pipe for reading would wait for a writer that never comes.
        {"named pipe", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(proxyFile_);
        fs::create_directories(fs::path(proxyFile_).parent_path());
        c.make(proxyFile_);
        CapturedOutput capture;
        const bool enabled = pandel::IsProxyEnabled();
        const std::string printed = capture.StdoutAsWritten();
        EXPECT_FALSE(enabled);
        EXPECT_EQ(printed, kUnavailable);
    }
}

// The two texts are the GBK code page's bytes for them, as the system's converter gives them.
TEST(ProxyMessages, AreTheGbkBytesOfTheChineseTexts) {
#if defined(_WIN32)
    auto gbk = [](const char* utf8) {
        wchar_t wide[64] = {};
        const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide, 64);
        char bytes[64] = {};
        const int n =
            WideCharToMultiByte(936, 0, wide, units - 1, bytes, sizeof bytes - 1, nullptr, nullptr);
        return units > 0 && n > 0 ? std::string(bytes, n) + "\n" : std::string();
    };
#else
    auto gbk = [](const char* utf8) {
        const std::string command =
            std::string("printf '%s\\n' '") + utf8 + "' | iconv -f UTF-8 -t GBK";
        return pandel::test::RunProcess({"/bin/sh", "-c", command}, {}, 10000).out;
    };
#endif
    EXPECT_EQ(gbk("\xE4\xBB\xA3\xE7\x90\x86\xE4\xB8\x8D\xE5\x8F\xAF\xE7\x94\xA8"), kUnavailable);
    EXPECT_EQ(gbk("\xE4\xBB\xA3\xE7\x90\x86\xE6\x9C\xAA\xE5\xBC\x80\xE5\x90\xAF"), kNotEnabled);
}

} // namespace
