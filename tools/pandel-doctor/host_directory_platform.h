// The real platform, except that the host executable lives in a directory named by the operator:
// the module's own functions then find the host's files (Conf/ProxyInfo.xml, and Conf/agent.xml
// when no agent library is loaded) there, as they would inside the agent's process.
#pragma once

#include "platform/platform.h"

#include <string>

namespace pandel::doctor {

class HostDirectoryPlatform final : public platform::ForwardingPlatform {
public:
    explicit HostDirectoryPlatform(std::string hostDirectory);

    std::string HostExecutablePath() override;

private:
    std::string executable_;
};

} // namespace pandel::doctor
