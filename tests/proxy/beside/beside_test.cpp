// The real platform: the settings file is found beside the running executable and the real
// named locks guard its reads. One test only: its cases share the one file beside this program.
#include "proxy/proxy_settings.h"
#include "report/report_sender.h"

#include "platform/platform.h"
#include "tests/report/report_test_support.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <unistd.h>

namespace platform = pandel::platform;

namespace {

namespace fs = std::filesystem;
using pandel::test::CapturedOutput;

const std::string kUnavailable = "\xB4\xFA\xC0\xED\xB2\xBB\xBF\xC9\xD3\xC3\n";
const std::string kNotEnabled = "\xB4\xFA\xC0\xED\xCE\xB4\xBF\xAA\xC6\xF4\n";

std::string Rewrite(const std::string& endpoint, std::string* printed) {
    char buffer[pandel::kEndpointBufferSize] = {};
    std::memcpy(buffer, endpoint.c_str(), endpoint.size() + 1);
    CapturedOutput capture;
    pandel::ApplyProxyToEndpoint(buffer);
    *printed = capture.StdoutAsWritten();
    return buffer;
}

TEST(ProxyBesideExecutable, FileNextToTheProgramDecidesTheRewrite) {
    ASSERT_EQ(&platform::Current(), &platform::Real());
    const fs::path exe = fs::read_symlink("/proc/self/exe");
    const fs::path conf = exe.parent_path() / "Conf";
    const fs::path file = conf / "ProxyInfo.xml";
    // Another run of this program in the same build directory would share the file.
    const int guard =
        open((exe.parent_path() / "proxy-file.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(guard, 0);
    ASSERT_EQ(flock(guard, LOCK_EX), 0);
    pandel::test::TempRoot root; // the named locks live under it
    fs::remove_all(conf);

    std::string printed;
    EXPECT_EQ(Rewrite("http://S:Q/App/End", &printed), "http://S:Q/App/End");
    EXPECT_EQ(printed, kUnavailable + "http://S:Q/App/End\n");

    pandel::test::WriteFile(file.string(), "10.1.1.1 3128 true\n");
    EXPECT_EQ(Rewrite("http://S:Q/App/End", &printed), "http://10.1.1.1:3128/App/End");
    EXPECT_EQ(printed, "http://10.1.1.1:3128/App/End\n");
    // The reads took the real lock: its file was made under the root.
    EXPECT_TRUE(fs::exists(root.Sub("locks/h_Proxylock")));

    pandel::test::WriteFile(file.string(), "10.1.1.1 3128 no\n");
    CapturedOutput capture;
    const bool enabled = pandel::IsProxyEnabled();
    EXPECT_EQ(capture.StdoutAsWritten(), kNotEnabled);
    EXPECT_FALSE(enabled);

    fs::remove_all(conf);
    flock(guard, LOCK_UN);
    close(guard);
}

} // namespace
