// The service URL from real Conf/agent.xml files, and the host directory.
#include "config/agent_config.h"

#include "platform/wide_text.h"
#include "tests/support/fake_platform.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

namespace {

using pandel::GetHostDirectory;
using pandel::GetServerUrl;
using pandel::test::ScopedFakePlatform;
using pandel::test::TempRoot;
using pandel::test::WriteFile;

std::string Server(const std::string& inner) {
    return "<Root><Server>" + inner + "</Server></Root>";
}

std::string AllFour(const std::string& ip, const std::string& port, const std::string& app,
                    const std::string& endpoint) {
    return Server("<Ip>" + ip + "</Ip><Port>" + port + "</Port><RemoteApp>" + app +
                  "</RemoteApp><RemoteAppEndpoint>" + endpoint + "</RemoteAppEndpoint>");
}

class AgentConfig : public ::testing::Test {
protected:
    AgentConfig() {
        agentDir_ = root_.Sub("agent");
        hostDir_ = root_.Sub("host");
        scoped_.fake.loadedLibraries["libLibUpload.so"] = agentDir_ + "/libLibUpload.so";
        scoped_.fake.hostExecutablePath = hostDir_ + "/agent";
    }
    void WriteAgentFile(const std::string& dir, const std::string& content) {
        WriteFile(dir + "/Conf/agent.xml", content);
    }

    TempRoot root_;
    ScopedFakePlatform scoped_;
    std::string agentDir_;
    std::string hostDir_;
};

TEST_F(AgentConfig, UrlFromTheFourValues) {
    const struct {
        std::string file;
        std::u16string url; // empty: the read fails
    } cases[] = {
        {AllFour("a", "b", "c", "d"), u"http://a:b/c/d"},
        {AllFour("\n  10.0.0.5\n", " 8080\t", "\r\nDevCfg ", "Service"),
         u"http://10.0.0.5:8080/DevCfg/Service"},
        {AllFour("a", "", "c", "d"), u"http://a:/c/d"},
        {AllFour("h<i>o</i>st", "<![CDATA[80]]>", "x y", "&#xe9;"), u"http://host:80/x y/\u00e9"},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + AllFour("\xE9", "1", "2", "3"),
         u"http://\u00e9:1/2/3"},
        {"<!DOCTYPE Root [<!ENTITY h \"example\">]>" + AllFour("&h;.test", "1", "2", "3"),
         u"http://example.test:1/2/3"},
        {AllFour("a", "b", "c", "d") + "<!-- trailing -->", u"http://a:b/c/d"},
        {Server("<Ip>a</Ip><Port>b</Port><RemoteApp>c</RemoteApp>"), u""},
        {Server("<Ip>a</Ip>"), u""},
        {"<Root><Server><Ip>a</Ip>", u""},
        {"", u""},
    };
    for (const auto& c : cases) {
        WriteAgentFile(agentDir_, c.file);
        std::u16string url = u"kept:";
        EXPECT_EQ(GetServerUrl(url), c.url.empty() ? -1 : 0) << c.file;
        EXPECT_EQ(url, u"kept:" + c.url) << c.file;
    }
}

TEST_F(AgentConfig, FileLocationAndFreshReads) {
    WriteAgentFile(agentDir_, AllFour("agent", "1", "a", "b"));
    WriteAgentFile(hostDir_, AllFour("host", "1", "a", "b"));
    std::u16string url;
    EXPECT_EQ(GetServerUrl(url), 0);
    EXPECT_EQ(url, u"http://agent:1/a/b");
    EXPECT_EQ(scoped_.fake.trace, std::vector<std::string>{"LoadedLibraryPath libLibUpload.so"});

    WriteAgentFile(agentDir_, AllFour("edited", "2", "a", "b"));
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

TEST_F(AgentConfig, FilesThatCannotBeReadFail) {
    std::string conf = agentDir_ + "/Conf";
    std::u16string url;
    EXPECT_EQ(GetServerUrl(url), -1); // missing
    pandel::test::MakeDirectories(conf + "/agent.xml");
    EXPECT_EQ(GetServerUrl(url), -1); // a directory
    rmdir((conf + "/agent.xml").c_str());
    ASSERT_EQ(mkfifo((conf + "/agent.xml").c_str(), 0600), 0);
    EXPECT_EQ(GetServerUrl(url), -1); // a FIFO nobody writes to: must not wait
    unlink((conf + "/agent.xml").c_str());

    // Amplifying entities: the parser refuses the nested kind, the text reader the wide kind.
    std::string laughs = "<!DOCTYPE Root [<!ENTITY l0 \"ha\">";
    for (int i = 1; i <= 10; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j)
            laughs += "&l" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    std::string wide = "<!DOCTYPE Root [<!ENTITY big \"" + std::string(100000, 'x') + "\">]>";
    std::string refs;
    for (int i = 0; i < 20000; ++i)
        refs += "&big;";
    for (const std::string& file :
         {laughs + "]>" + AllFour("&l10;", "1", "2", "3"), wide + AllFour(refs, "1", "2", "3")}) {
        WriteAgentFile(agentDir_, file);
        EXPECT_EQ(GetServerUrl(url), -1);
    }
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
        {"/opt/\u00e9/a", 8, u"/opt/\u00e9/"},
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
