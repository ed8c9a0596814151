// The agent's Conf/agent.xml as tests and benchmarks write it: Root/Server holding the four
// values the service URL is made of.
#pragma once

#include <optional>
#include <string>

namespace pandel::test {

// The values, written as given: markup in a value stays markup. Without remoteAppEndpoint its
// element is left out.
struct AgentServer {
    std::string ip = "127.0.0.1";
    std::string port;
    std::string remoteApp = "DeviceManager";
    std::optional<std::string> remoteAppEndpoint = "DeviceConfig";
};

// The Root element alone, for documents that put their own prolog before it.
std::string AgentXmlRoot(const AgentServer& server);

// The whole document: an XML declaration, then the Root element.
std::string AgentXml(const AgentServer& server);

// Writes AgentXml(server) as agentDir/Conf/agent.xml, Conf/ already there; false when the file
// cannot be written.
bool WriteAgentXml(const std::string& agentDir, const AgentServer& server);

} // namespace pandel::test
