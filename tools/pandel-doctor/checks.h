// The checks of a terminal, each answered by the module's own functions as they would run inside
// the agent's process: the agent configuration, the proxy, the local addresses, the log, the
// imaging library, the identity and the named locks, and on request one reachability probe.
#pragma once

#include "tools/pandel-doctor/findings.h"

#include <string>

namespace pandel::doctor {

// The service URL that reports would use, narrow; empty when there is none.
std::string CheckAgentConfig(Findings& findings);
void CheckProxy(Findings& findings, const std::string& serviceUrl);
void CheckLocalAddresses(Findings& findings);
void CheckLog(Findings& findings);
void CheckImagingLibrary(Findings& findings);
void CheckIdentity(Findings& findings);
void CheckNamedLocks(Findings& findings);
// One reachability document sent by the module's probe through its report sender.
void CheckProbe(Findings& findings, const std::string& serviceUrl);

} // namespace pandel::doctor
