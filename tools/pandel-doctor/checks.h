// The checks of a terminal, each answered by the module's own functions as they would run inside
// the agent's process: the agent configuration, the proxy, the local addresses, the log, the
// imaging library, the identity and the named locks, and on request one reachability probe.
#pragma once

#include "tools/pandel-doctor/findings.h"

#include <string>

namespace pandel::doctor {

// The service URL that the sender would take, narrow; empty when there is none. It is given even
// when it names no server, so that the probe can show what a report then meets.
std::string CheckAgentConfig(Findings& findings);
void CheckProxy(Findings& findings, const std::string& serviceUrl);
void CheckLocalAddresses(Findings& findings);
void CheckLog(Findings& findings);
void CheckImagingLibrary(Findings& findings);
void CheckIdentity(Findings& findings);
void CheckNamedLocks(Findings& findings);
// One reachability document sent by the module's probe through its report sender.
void CheckProbe(Findings& findings, const std::string& serviceUrl);

// Where the sender connects for serviceUrl: the proxy's address when the proxy file enables it
// for that URL, else the URL itself.
std::string ReportEndpoint(const std::string& serviceUrl);
// True when url (http://host:port/path) has an empty host: the runtime then makes no connection
// and the exchange ends at once.
bool NamesNoHost(const std::string& url);
// The fix for an empty or unusable <Ip>, naming the agent.xml the module reads.
std::string IpFix();

} // namespace pandel::doctor
