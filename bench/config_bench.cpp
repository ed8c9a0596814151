// The XML store and the service URL beside plain libxml2 doing the same work on the same input:
// a Download document and its seven reads (small, and padded to 1 MB), and Conf/agent.xml with
// its four reads; and the reads' growth with the number of siblings a path selects.
#include "bench/paired.h"
#include "config/agent_config.h"
#include "platform/platform.h"
#include "platform/shared_library.h"
#include "plugin/download_command.h"

#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace platform = pandel::platform;

namespace {

// The module's parse options, so both sides parse alike.
constexpr int kParseOptions =
    XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NONET | XML_PARSE_IGNORE_ENC;
constexpr std::size_t kLargeDocumentBytes = 1u << 20;

// The least any caller must do to hand UTF-16 text to libxml2 and take UTF-8 back.
std::string ToUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// ASCII and two- and three-byte forms are all these documents hold.
std::u16string ToUtf16(const xmlChar* text) {
    std::u16string out;
    for (const xmlChar* p = text; p != nullptr && *p != 0;) {
        unsigned c = *p++;
        if (c >= 0xE0 && p[0] && p[1]) {
            c = ((c & 0x0F) << 12) | ((p[0] & 0x3F) << 6) | (p[1] & 0x3F);
            p += 2;
        } else if (c >= 0xC0 && p[0]) {
            c = ((c & 0x1F) << 6) | (p[0] & 0x3F);
            p += 1;
        }
        out.push_back(static_cast<char16_t>(c));
    }
    return out;
}

std::u16string Widen(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

std::string SmallDownload() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Download><FileType>7</FileType>"
           "<Command>upload</Command><ScheduleId>42</ScheduleId><BackupType>0</BackupType>"
           "<StartMode>2</StartMode><ServerAddr>10.1.2.3</ServerAddr><ServerPort>9000"
           "</ServerPort></Download>";
}

// The seven fields, then sibling elements until the UTF-8 text reaches 1 MB: every XPath step
// over Download's children walks them all.
std::string LargeDownload() {
    std::string document = SmallDownload();
    const std::string tail = "</Download>";
    document.resize(document.size() - tail.size());
    for (int i = 0; document.size() + tail.size() < kLargeDocumentBytes; ++i)
        document +=
            "<Note n=\"" + std::to_string(i) + "\">imaging note " + std::to_string(i) + "</Note>";
    return document + tail;
}

// The seven fields, the first FileType among siblings in all: a body far under its bound whose
// every read selects them all.
std::string SiblingDownload(int fileTypes) {
    std::string document = SmallDownload();
    const std::string tail = "</Download>";
    document.resize(document.size() - tail.size());
    document.reserve(document.size() + 22 * static_cast<std::size_t>(fileTypes));
    for (int i = 1; i < fileTypes; ++i)
        document += "<FileType>6</FileType>";
    return document + tail;
}

const char* const kDownloadPaths[] = {
    "/Download/FileType",  "/Download/Command",    "/Download/ScheduleId", "/Download/BackupType",
    "/Download/StartMode", "/Download/ServerAddr", "/Download/ServerPort"};

// Text of the first node path selects, as xmlNodeListGetString reads it; null when none.
xmlChar* FirstText(xmlDocPtr document, xmlXPathContextPtr xpath, const char* path) {
    xmlXPathObjectPtr result = xmlXPathEvalExpression(BAD_CAST path, xpath);
    xmlChar* text = nullptr;
    if (result != nullptr && result->nodesetval != nullptr && result->nodesetval->nodeNr > 0)
        text = xmlNodeListGetString(document, result->nodesetval->nodeTab[0]->children, 1);
    xmlXPathFreeObject(result);
    return text;
}

std::int32_t TextAsLong(xmlChar* text) {
    std::int32_t value =
        text != nullptr
            ? static_cast<std::int32_t>(std::strtol(reinterpret_cast<char*>(text), nullptr, 10))
            : 0;
    xmlFree(text);
    return value;
}

std::u16string TextAsWide(xmlChar* text) {
    std::u16string value = ToUtf16(text);
    xmlFree(text);
    return value;
}

pandel::DownloadCommand PlainReadDownload(const std::u16string& document) {
    std::string utf8 = ToUtf8(document);
    xmlDocPtr doc =
        xmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr, kParseOptions);
    xmlXPathContextPtr xpath = xmlXPathNewContext(doc);
    pandel::DownloadCommand command;
    command.fileType = TextAsLong(FirstText(doc, xpath, kDownloadPaths[0]));
    command.command = TextAsWide(FirstText(doc, xpath, kDownloadPaths[1]));
    command.scheduleId = TextAsLong(FirstText(doc, xpath, kDownloadPaths[2]));
    command.backupType = TextAsLong(FirstText(doc, xpath, kDownloadPaths[3]));
    command.startMode = TextAsLong(FirstText(doc, xpath, kDownloadPaths[4]));
    command.serverAddr = TextAsWide(FirstText(doc, xpath, kDownloadPaths[5]));
    command.serverPort = TextAsWide(FirstText(doc, xpath, kDownloadPaths[6]));
    xmlXPathFreeContext(xpath);
    xmlFreeDoc(doc);
    return command;
}

const char* const kServerPaths[] = {"/Root/Server/Ip", "/Root/Server/Port",
                                    "/Root/Server/RemoteApp", "/Root/Server/RemoteAppEndpoint"};

// Plain libxml2 on a known file path: parse, four reads, the URL. -1 when a part is missing.
std::int32_t PlainServerUrl(const std::string& file, std::u16string& url) {
    xmlDocPtr doc = xmlReadFile(file.c_str(), nullptr, kParseOptions & ~XML_PARSE_IGNORE_ENC);
    if (doc == nullptr)
        return -1;
    xmlXPathContextPtr xpath = xmlXPathNewContext(doc);
    std::u16string parts[4];
    std::int32_t status = 0;
    for (int i = 0; i < 4 && status == 0; ++i) {
        xmlXPathObjectPtr result = xmlXPathEvalExpression(BAD_CAST kServerPaths[i], xpath);
        if (result != nullptr && result->nodesetval != nullptr && result->nodesetval->nodeNr > 0) {
            parts[i] = TextAsWide(xmlNodeGetContent(result->nodesetval->nodeTab[0]));
        } else {
            status = -1;
        }
        xmlXPathFreeObject(result);
    }
    xmlXPathFreeContext(xpath);
    xmlFreeDoc(doc);
    if (status == 0)
        url += u"http://" + parts[0] + u":" + parts[1] + u"/" + parts[2] + u"/" + parts[3];
    return status;
}

struct Inputs {
    std::u16string small;
    std::u16string large;
    std::u16string siblings5; // 10^5 FileType elements
    std::u16string siblings6; // 10^6
    std::string agentFile;
};
Inputs* inputs = nullptr;

bool StoreDownload(const std::u16string& document) {
    benchmark::DoNotOptimize(pandel::ReadDownloadCommand(document));
    return true;
}

bool PlainDownload(const std::u16string& document) {
    benchmark::DoNotOptimize(PlainReadDownload(document));
    return true;
}

bool ModuleServerUrl() {
    std::u16string url;
    return pandel::GetServerUrl(url) == 0;
}

bool PlainUrl() {
    std::u16string url;
    return PlainServerUrl(inputs->agentFile, url) == 0;
}

// The one step of GetServerUrl the baseline does not take: finding the agent library's path.
bool AgentLibraryLookup() {
    return !platform::Current()
                .LoadedLibraryPath(platform::SharedLibraryFileName(pandel::kAgentLibraryName))
                .empty();
}

std::vector<pandel::bench::Comparison> Comparisons() {
    return {
        {"CXmlConfig + 7 reads, Download",
         [] { return StoreDownload(inputs->small); },
         [] { return PlainDownload(inputs->small); },
         1.05,
         {},
         {}},
        {"CXmlConfig + 7 reads, 1 MB",
         [] { return StoreDownload(inputs->large); },
         [] { return PlainDownload(inputs->large); },
         1.00,
         {},
         {}},
        // Linear in the siblings: ten times the elements, about ten times the time.
        {"7 reads, 10^6 siblings / 10^5",
         [] { return StoreDownload(inputs->siblings6); },
         [] { return StoreDownload(inputs->siblings5); },
         11.0,
         {},
         {}},
        {"GetServerUrl, Conf/agent.xml", ModuleServerUrl, PlainUrl, 0.75, {}, {}},
        {"agent library look-up alone", AgentLibraryLookup, {}, 0, {}, {}},
    };
}

bool SameFields(const pandel::DownloadCommand& a, const pandel::DownloadCommand& b) {
    return a.fileType == b.fileType && a.command == b.command && a.scheduleId == b.scheduleId &&
           a.backupType == b.backupType && a.startMode == b.startMode &&
           a.serverAddr == b.serverAddr && a.serverPort == b.serverPort;
}

} // namespace

int main(int argc, char** argv) {
    char root[] = "/tmp/pandel-bench-XXXXXX";
    if (mkdtemp(root) == nullptr)
        return 1;
    const std::string dir = root;
    setenv("PANDEL_ROOT", root, 1);
    mkdir((dir + "/Conf").c_str(), 0755);
    {
        std::ifstream in(std::string(PANDEL_BUILD_DIR) + "/tools/libupload/libLibUpload.so",
                         std::ios::binary);
        std::ofstream out(dir + "/libLibUpload.so", std::ios::binary);
        out << in.rdbuf();
        std::ofstream agent(dir + "/Conf/agent.xml", std::ios::binary);
        agent << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Root>\n  <Server>\n"
                 "    <Ip>127.0.0.1</Ip>\n    <Port>8080</Port>\n"
                 "    <RemoteApp>DeviceManager</RemoteApp>\n"
                 "    <RemoteAppEndpoint>DeviceConfig</RemoteAppEndpoint>\n  </Server>\n"
                 "  <Log><Level>2</Level></Log>\n</Root>\n";
    }
    platform::SharedLibrary agent = platform::SharedLibrary::Open(dir + "/libLibUpload.so");
    if (!agent.IsOpen()) {
        std::fprintf(stderr, "config_bench: %s\n", platform::SharedLibrary::Error().c_str());
        return 1;
    }

    Inputs in;
    in.small = Widen(SmallDownload());
    in.large = Widen(LargeDownload());
    in.siblings5 = Widen(SiblingDownload(100000));
    in.siblings6 = Widen(SiblingDownload(1000000));
    in.agentFile = dir + "/Conf/agent.xml";
    inputs = &in;

    // Both sides must read the same values, or the comparison means nothing.
    std::u16string moduleUrl;
    std::u16string plainUrl;
    if (!SameFields(pandel::ReadDownloadCommand(in.small), PlainReadDownload(in.small)) ||
        !SameFields(pandel::ReadDownloadCommand(in.large), PlainReadDownload(in.large)) ||
        !SameFields(pandel::ReadDownloadCommand(in.siblings5), PlainReadDownload(in.siblings5)) ||
        !SameFields(pandel::ReadDownloadCommand(in.siblings6), PlainReadDownload(in.siblings6)) ||
        pandel::ReadDownloadCommand(in.siblings6).fileType != 7 ||
        pandel::ReadDownloadCommand(in.large).fileType != 7 ||
        pandel::GetServerUrl(moduleUrl) != 0 || PlainServerUrl(in.agentFile, plainUrl) != 0 ||
        moduleUrl != plainUrl || moduleUrl != u"http://127.0.0.1:8080/DeviceManager/DeviceConfig") {
        std::fprintf(stderr, "config_bench: the module and plain libxml2 read different values\n");
        return 1;
    }
    std::fprintf(stderr, "config_bench: large document %zu bytes of UTF-8\n",
                 LargeDownload().size());

    const int status = pandel::bench::RunCommandLine(Comparisons(), argc, argv);
    inputs = nullptr;
    agent = platform::SharedLibrary();
    return std::system(("rm -rf '" + dir + "'").c_str()) == 0 ? status : 1;
}
