// Module paths, shared libraries, the agent's XML file through MSXML, and what can only be shown
// not to fail on this machine (host name, adapters).
#include "platform/platform.h"

#include "platform/shared_library.h"
#include "platform/wide_text.h"
#include "platform/xml_file.h"

#include <gtest/gtest.h>

// Windows Sockets 2 before windows.h, which would bring in the old header otherwise.
#include <winsock2.h>

#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <thread>

namespace platform = pandel::platform;

namespace {

namespace fs = std::filesystem;
using platform::Utf16ToUtf8;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string ModuleFileName(HMODULE module) {
    wchar_t path[4096] = {};
    const DWORD length = GetModuleFileNameW(module, path, 4096);
    return Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(path), length));
}

// A fresh directory whose name is not ASCII, removed afterwards.
class ScratchDirectory {
public:
    ScratchDirectory() {
        path_ = fs::temp_directory_path() /
                (L"pandel \u00e9\u4e2d " + std::to_wstring(GetCurrentProcessId()));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }
    std::string utf8(const fs::path& relative = {}) const {
        const fs::path full = relative.empty() ? path_ : path_ / relative;
        return Utf16ToUtf8(full.u16string());
    }
    void Write(const fs::path& relative, const std::string& content) const {
        fs::create_directories((path_ / relative).parent_path());
        std::ofstream out(path_ / relative, std::ios::binary);
        out << content;
    }

private:
    fs::path path_;
};

TEST(ModulePaths, HostExecutableAndLoadedLibrariesAreFoundByFileName) {
    platform::IPlatform& os = platform::Real();
    const std::string exe = os.HostExecutablePath();
    EXPECT_EQ(exe, ModuleFileName(nullptr));
    EXPECT_TRUE(EndsWith(Lower(exe), "\\win32_platform_tests.exe")) << exe;

    const std::string kernel = os.LoadedLibraryPath("kernel32.dll");
    EXPECT_EQ(kernel, ModuleFileName(GetModuleHandleW(L"kernel32.dll")));
    EXPECT_TRUE(EndsWith(Lower(kernel), "\\kernel32.dll")) << kernel;
    EXPECT_EQ(os.LoadedLibraryPath(""), "");
    EXPECT_EQ(os.LoadedLibraryPath("LibUpload.dll"), "");

    // The agent's library, loaded from a directory whose name is not ASCII: the path is UTF-8.
    ScratchDirectory agent;
    const fs::path testDirectory = fs::path(platform::Utf8ToUtf16(exe)).parent_path();
    fs::copy_file(testDirectory / "LibUpload.dll", agent.path() / "LibUpload.dll");
    HMODULE library = LoadLibraryW((agent.path() / "LibUpload.dll").c_str());
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(os.LoadedLibraryPath("LibUpload.dll"), agent.utf8("LibUpload.dll"));
    FreeLibrary(library);
    EXPECT_EQ(os.LoadedLibraryPath("LibUpload.dll"), "");
}

TEST(SharedLibrary, LoadsFindsAndTellsWhyNot) {
    platform::SharedLibrary kernel = platform::SharedLibrary::Open("kernel32.dll");
    ASSERT_TRUE(kernel.IsOpen());
    EXPECT_EQ(
        kernel.Symbol("GetTickCount"),
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount")));
    EXPECT_EQ(kernel.Symbol("NoSuchFunctionHere"), nullptr);
    const std::string missingSymbol = platform::SharedLibrary::Error();
    EXPECT_NE(missingSymbol.find("NoSuchFunctionHere"), std::string::npos) << missingSymbol;
    EXPECT_EQ(platform::SharedLibrary::Error(), ""); // reading the error clears it

    platform::SharedLibrary missing = platform::SharedLibrary::Open("NoSuchLibrary.dll");
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(missing.Symbol("GetTickCount"), nullptr);
    EXPECT_NE(platform::SharedLibrary::Error().find("NoSuchLibrary.dll"), std::string::npos);
}

// --- The agent's configuration file through MSXML ------------------------------------------

const std::vector<std::string> kServerPaths = {"/Root/Server/Ip", "/Root/Server/Port",
                                               "/Root/Server/RemoteApp",
                                               "/Root/Server/RemoteAppEndpoint"};

class XmlFile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    }
    void TearDown() override { CoUninitialize(); }

    std::optional<std::vector<std::u16string>> Read(const std::string& content) {
        dir_.Write("Conf\\agent.xml", content);
        return platform::ReadXmlNodeTexts(dir_.utf8("Conf\\agent.xml"), kServerPaths);
    }

    ScratchDirectory dir_;
};

TEST_F(XmlFile, ServerValuesAreTheNodesTextsInOrder) {
    using Texts = std::vector<std::u16string>;
    const struct {
        const char* what;
        std::string content;
        Texts texts;
    } cases[] = {
        {"plain",
         "<Root><Server><Ip>a</Ip><Port>b</Port><RemoteApp>c</RemoteApp>"
         "<RemoteAppEndpoint>d</RemoteAppEndpoint></Server></Root>",
         {u"a", u"b", u"c", u"d"}},
        {"spaces trimmed, entities, CDATA, descendants, non-ASCII",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Root><Other/><Server>\n"
         "<Ip>\n  10.0.0.1 \t</Ip><Port>80<!-- c -->80</Port>"
         "<RemoteApp>a&amp;b<![CDATA[<x>]]></RemoteApp>"
         "<RemoteAppEndpoint>p<i>q</i>r \xC3\xA9\xE4\xB8\xAD</RemoteAppEndpoint></Server></Root>",
         {u"10.0.0.1", u"8080", u"a&b<x>", u"pqr \u00e9\u4e2d"}},
        {"empty value",
         "<Root><Server><Ip>h</Ip><Port/><RemoteApp>c</RemoteApp>"
         "<RemoteAppEndpoint>d</RemoteAppEndpoint></Server></Root>",
         {u"h", u"", u"c", u"d"}},
        {"reading stops at the first missing one",
         "<Root><Server><Ip>a</Ip><RemoteApp>c</RemoteApp></Server></Root>",
         {u"a"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Read(c.content), std::optional<Texts>(c.texts));
    }
}

TEST_F(XmlFile, UnreadableOrMalformedFilesGiveNothing) {
    EXPECT_FALSE(Read("<Root><Server><Ip>a</Ip></Server>"));
    EXPECT_FALSE(Read("not xml"));
    EXPECT_FALSE(platform::ReadXmlNodeTexts(dir_.utf8("missing.xml"), kServerPaths));
    EXPECT_FALSE(platform::ReadXmlNodeTexts(dir_.utf8(), kServerPaths)); // a directory
    EXPECT_FALSE(platform::ReadXmlNodeTexts("", kServerPaths));
}

TEST_F(XmlFile, ExternalEntitiesAreNotFetched) {
    dir_.Write("secret.txt", "SECRET");
    const std::string url = "file:///" + dir_.utf8("secret.txt");
    auto texts = Read("<?xml version=\"1.0\"?><!DOCTYPE Root [<!ENTITY e SYSTEM \"" + url +
                      "\">]><Root><Server><Ip>[&e;]</Ip></Server></Root>");
    if (texts) {
        ASSERT_FALSE(texts->empty());
        EXPECT_EQ((*texts)[0].find(u"SECRET"), std::u16string::npos);
    }
}

TEST(XmlFileWithoutCom, ThreadThatHasNotStartedComReadsNothing) {
    ScratchDirectory dir;
    dir.Write("agent.xml", "<Root><Server><Ip>a</Ip></Server></Root>");
    bool read = true;
    std::thread other([&] {
        read = platform::ReadXmlNodeTexts(dir.utf8("agent.xml"), kServerPaths).has_value();
    });
    other.join();
    EXPECT_FALSE(read);
}

// --- What depends on the machine: the calls answer and do not fail -------------------------

TEST(Machine, HostNameNeedsNoSocketsStartedByTheCallerAndResolvesNumbers) {
    const std::optional<std::string> name = platform::Real().HostName();
    ASSERT_TRUE(name.has_value());
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    char expected[257] = {};
    ASSERT_EQ(gethostname(expected, 256), 0);
    WSACleanup();
    EXPECT_EQ(*name, std::string(expected));
    EXPECT_EQ(platform::Real().ResolveIPv4("127.0.0.1"), std::vector<std::string>{"127.0.0.1"});
    EXPECT_TRUE(platform::Real().ResolveIPv4("no-such-host.invalid").empty());
}

TEST(Machine, AdapterQueryAnswersWithoutFailing) {
    // Wine lists the host's interfaces and answers the query with their current addresses; the
    // selection rules are tested with the fake platform.
    auto adapters = platform::Real().QueryAdapterPermanentAddresses();
    if (adapters) {
        for (const auto& adapter : *adapters)
            EXPECT_FALSE(adapter.name.empty());
    }
}

} // namespace
