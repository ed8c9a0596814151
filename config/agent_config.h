// The agent's configuration as this module needs it: the management server's service URL from
// Conf/agent.xml, and the host program's directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pandel {

// The agent library beside which Conf/agent.xml lives, by name (the platform gives its file
// name: libLibUpload.so, LibUpload.dll).
inline constexpr const char* kAgentLibraryName = "LibUpload";

// Where Conf/agent.xml is looked for: beside the loaded agent library, else beside the host
// executable. Empty path when neither can be had.
struct AgentConfigPlace {
    std::string path;
    bool besideAgentLibrary = false;
};
AgentConfigPlace FindAgentConfigFile();

// The XPath expressions of Ip, Port, RemoteApp and RemoteAppEndpoint, in reading order.
const std::vector<std::string>& ServerValuePaths();

// Appends "http://" Ip ":" Port "/" RemoteApp "/" RemoteAppEndpoint, read afresh from the
// agent's Conf/agent.xml (beside the loaded agent library, else beside the host executable), to
// url and returns 0. Returns -1 and leaves url untouched when neither path can be had, or the
// file or a value is missing. Each value is the text of its element with the white space at
// both ends removed; an empty value gives an empty part.
std::int32_t GetServerUrl(std::u16string& url);

// Replaces dir by the host executable's directory with its trailing separator and returns the
// length, in UTF-16 units, of the executable's full path; returns 0 and leaves dir untouched
// when that path cannot be obtained.
std::int32_t GetHostDirectory(std::u16string& dir);

} // namespace pandel
