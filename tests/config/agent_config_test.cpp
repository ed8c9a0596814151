// The service URL from real Conf/agent.xml files, and the host directory.
#include "config/agent_config.h"

#include "harness/agent_xml.h"
#include "harness/fake_platform.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using pandel::GetHostDirectory;
using pandel::GetServerUrl;
using pandel::test::AgentXmlRoot;
using pandel::test::ScopedFakePlatform;
using pandel::test::WriteFile;

std::string Server(const std::string& inner) {
    return "<Root><Server>" + inner + "</Server></Root>";
}

std::string Times(const std::string& part, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += part;
    return out;
}

class AgentConfig : public ::testing::Test {
protected:
    AgentConfig() {
        scoped_.fake.loadedLibraries["libLibUpload.so"] = agentDir_ + "/libLibUpload.so";
        scoped_.fake.hostExecutablePath = hostDir_ + "/agent";
    }
    pandel::test::TempRoot root_;
    ScopedFakePlatform scoped_;
    std::string agentDir_ = root_.Sub("agent");
    std::string agentFile_ = agentDir_ + "/Conf/agent.xml";
    std::string hostDir_ = root_.Sub("host");
};

TEST_F(AgentConfig, UrlFromTheFourValuesOrNothing) {
    std::string laughs = "<!DOCTYPE Root [<!ENTITY l0 \"ha\">";
    for (int i = 1; i <= 10; ++i)
        laughs += "<!ENTITY l" + std::to_string(i) + " \"" +
                  Times("&l" + std::to_string(i - 1) + ";", 10) + "\">";
    std::string big = "<!DOCTYPE Root [<!ENTITY big \"" + std::string(100000, 'x') + "\">]>";
    const std::pair<std::string, std::u16string> cases[] = {
        {AgentXmlRoot({"a", "b", "c", "d"}), u"http://a:b/c/d"},
        // Values read as the DOM's text: ends trimmed, descendants and entities included.
        {AgentXmlRoot({"\n  10.0.0.5\n", " 8080\t", "\r\nDevCfg ", "Service"}),
         u"http://10.0.0.5:8080/DevCfg/Service"},
        {AgentXmlRoot({"a", "", "c", "d"}), u"http://a:/c/d"},
        {AgentXmlRoot({"h<i>o</i>st", "<![CDATA[80]]>", "x y", "&#xe9;"}),
         u"http://host:80/x y/\u00e9"},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + AgentXmlRoot({"\xE9", "1", "2", "3"}),
         u"http://\u00e9:1/2/3"},
        {"<!DOCTYPE Root [<!ENTITY h \"example\">]>" + AgentXmlRoot({"&h;.test", "1", "2", "3"}),
         u"http://example.test:1/2/3"},
        {Server("<Ip>a</Ip><Port>b</Port><RemoteApp>c</RemoteApp>"), u""},
        {Server("<Ip>a</Ip>"), u""},
        {"<Root><Server><Ip>a</Ip>", u""},
        {"", u""},
        {laughs + "]>" + AgentXmlRoot({"&l10;", "1", "2", "3"}), u""},
        {big + AgentXmlRoot({Times("&big;", 20000), "1", "2", "3"}), u""}, // 2 GB if expanded
    };
    for (const auto& [file, expected] : cases) {
        WriteFile(agentFile_, file);
        std::u16string url = u"kept:";
        EXPECT_EQ(GetServerUrl(url), expected.empty() ? -1 : 0) << file.substr(0, 200);
        EXPECT_EQ(url, u"kept:" + expected) << file.substr(0, 200);
    }
}

TEST_F(AgentConfig, FileBesideTheAgentLibraryElseTheHostReadAfresh) {
    WriteFile(agentFile_, AgentXmlRoot({"agent", "1", "a", "b"}));
    WriteFile(hostDir_ + "/Conf/agent.xml", AgentXmlRoot({"host", "1", "a", "b"}));
    std::u16string url;
    EXPECT_EQ(GetServerUrl(url), 0);
    EXPECT_EQ(url, u"http://agent:1/a/b");
    EXPECT_EQ(scoped_.fake.trace, std::vector<std::string>{"LoadedLibraryPath libLibUpload.so"});

    WriteFile(agentFile_, AgentXmlRoot({"edited", "2", "a", "b"}));
    url.clear();
    GetServerUrl(url);
    EXPECT_EQ(url, u"http://edited:2/a/b");

    scoped_.fake.loadedLibraries.clear();
    url.clear();
    EXPECT_EQ(GetServerUrl(url), 0);
    EXPECT_EQ(url, u"http://host:1/a/b");

    scoped_.fake.hostExecutablePath.clear();
    url = u"kept";
    EXPECT_EQ(GetServerUrl(url), -1);
    EXPECT_EQ(url, u"kept");
}

TEST_F(AgentConfig, PathsThatAreNoReadableFileFail) {
    std::u16string url;
    EXPECT_EQ(GetServerUrl(url), -1); // missing
    pandel::test::MakeDirectories(agentFile_);
    EXPECT_EQ(GetServerUrl(url), -1); // a directory
    rmdir(agentFile_.c_str());
    ASSERT_EQ(mkfifo(agentFile_.c_str(), 0600), 0);
    EXPECT_EQ(GetServerUrl(url), -1); // a FIFO nobody writes to: must not wait
    EXPECT_EQ(url, u"");
}

TEST(HostDirectory, DirectoryWithItsSeparatorAndTheFullLength) {
    const struct {
        std::string executable;
        std::int32_t length;
        std::u16string dir;
    } cases[] = {
        {"C:\\Agent\\agent.exe", 18, u"C:\\Agent\\"},
        {"/opt/agent/agent", 16, u"/opt/agent/"},
        {"agent", 5, u""},
        {"", 0, u"kept"},
    };
    for (const auto& c : cases) {
        ScopedFakePlatform scoped;
        scoped.fake.hostExecutablePath = c.executable;
        std::u16string dir = u"kept";
        EXPECT_EQ(GetHostDirectory(dir), c.length) << c.executable;
        EXPECT_EQ(dir, c.dir) << c.executable;
    }
}

} // namespace
