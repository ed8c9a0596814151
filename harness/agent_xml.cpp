// The agent.xml document: one text for every test and benchmark that points the module at a server.
#include "harness/agent_xml.h"

#include <fstream>

namespace pandel::test {

std::string AgentXmlRoot(const AgentServer& server) {
    std::string endpoint;
    if (server.remoteAppEndpoint)
        endpoint = "<RemoteAppEndpoint>" + *server.remoteAppEndpoint + "</RemoteAppEndpoint>";
    return "<Root><Server><Ip>" + server.ip + "</Ip><Port>" + server.port + "</Port><RemoteApp>" +
           server.remoteApp + "</RemoteApp>" + endpoint + "</Server></Root>";
}

std::string AgentXml(const AgentServer& server) {
    return "<?xml version=\"1.0\"?>" + AgentXmlRoot(server);
}

bool WriteAgentXml(const std::string& agentDir, const AgentServer& server) {
    std::ofstream out(agentDir + "/Conf/agent.xml", std::ios::binary | std::ios::trunc);
    out << AgentXml(server);
    out.close();
    return !out.fail();
}

} // namespace pandel::test
