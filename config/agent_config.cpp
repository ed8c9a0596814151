// The service URL from the agent's Conf/agent.xml, and the host program's directory.
#include "config/agent_config.h"

#include "platform/platform.h"
#include "platform/shared_library.h"
#include "platform/wide_text.h"
#include "platform/xml_file.h"

#include <optional>
#include <vector>

namespace pandel {
namespace {

constexpr std::int32_t kFailure = -1;

// Both separators are understood, so that module paths of either system split alike.
constexpr char kSeparators[] = "/\\";
constexpr char16_t kWideSeparators[] = u"/\\";

// Conf/agent.xml in the directory of modulePath, joined with the separator that path uses.
std::string AgentFilePath(const std::string& modulePath) {
    std::size_t cut = modulePath.find_last_of(kSeparators);
    char separator = cut == std::string::npos ? '/' : modulePath[cut];
    std::string directory = cut == std::string::npos ? std::string() : modulePath.substr(0, cut);
    return directory + separator + "Conf" + separator + "agent.xml";
}

} // namespace

// Read in this order; the first that is missing ends the reading.
const std::vector<std::string>& ServerValuePaths() {
    static const std::vector<std::string> paths = {"/Root/Server/Ip", "/Root/Server/Port",
                                                   "/Root/Server/RemoteApp",
                                                   "/Root/Server/RemoteAppEndpoint"};
    return paths;
}

AgentConfigPlace FindAgentConfigFile() {
    platform::IPlatform& system = platform::Current();
    AgentConfigPlace place;
    std::string modulePath =
        system.LoadedLibraryPath(platform::SharedLibraryFileName(kAgentLibraryName));
    place.besideAgentLibrary = !modulePath.empty();
    if (modulePath.empty())
        modulePath = system.HostExecutablePath();
    if (!modulePath.empty())
        place.path = AgentFilePath(modulePath);
    return place;
}

std::int32_t GetServerUrl(std::u16string& url) {
    const AgentConfigPlace place = FindAgentConfigFile();
    if (place.path.empty())
        return kFailure;
    std::optional<std::vector<std::u16string>> values =
        platform::ReadXmlNodeTexts(place.path, ServerValuePaths());
    if (!values || values->size() != ServerValuePaths().size())
        return kFailure;
    const std::vector<std::u16string>& v = *values;
    url += u"http://" + v[0] + u":" + v[1] + u"/" + v[2] + u"/" + v[3];
    return 0;
}

std::int32_t GetHostDirectory(std::u16string& dir) {
    std::u16string executable = platform::Utf8ToUtf16(platform::Current().HostExecutablePath());
    if (executable.empty())
        return 0;
    std::size_t cut = executable.find_last_of(kWideSeparators);
    dir = cut == std::u16string::npos ? std::u16string() : executable.substr(0, cut + 1);
    return static_cast<std::int32_t>(executable.size());
}

} // namespace pandel
