// Each check calls the module's functions and says, in an operator's words, what their answer
// means for a Download.
#include "tools/pandel-doctor/checks.h"

#include "config/agent_config.h"
#include "config/device_id.h"
#include "diag/log_place.h"
#include "platform/named_lock.h"
#include "platform/platform.h"
#include "platform/shared_library.h"
#include "platform/wide_text.h"
#include "platform/xml_file.h"
#include "plugin/imaging_client.h"
#include "plugin/service_url.h"
#include "report/proxy_settings.h"
#include "report/report_sender.h"

#include <cstdio>
#include <vector>

namespace pandel::doctor {
namespace {

const char* const kServerValueNames[] = {"Ip", "Port", "RemoteApp", "RemoteAppEndpoint"};

std::string Narrow(const std::u16string& text) {
    return Shown(platform::Utf16ToUtf8(text));
}

std::string WhyRefused(UrlRefusal refusal) {
    switch (refusal) {
    case UrlRefusal::None:
        return std::string();
    case UrlRefusal::Empty:
        return "it is empty";
    case UrlRefusal::Unroutable:
        return "it holds http://0.0.0.0, which is no server";
    case UrlRefusal::TooLong:
        return "it is longer than 259 characters";
    case UrlRefusal::UnsafeByte:
        return "it holds white space or a control byte";
    case UrlRefusal::PortOutOfRange:
        return "its port is not a number from 1 to 65535";
    }
    return "of an unknown reason";
}

std::string AddressText(const platform::HardwareAddress& address) {
    std::string text;
    for (std::size_t i = 0; i < address.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : "-%02X", address[i]);
        text += byte;
    }
    return text;
}

} // namespace

std::string CheckAgentConfig(Findings& findings) {
    const AgentConfigPlace place = FindAgentConfigFile();
    const std::string anchor = place.besideAgentLibrary
                                   ? "beside the loaded agent library"
                                   : "beside the host executable (no agent library loaded)";
    if (place.path.empty()) {
        findings.Fail("agent.xml",
                      "no place to look: neither the agent library's nor the host "
                      "executable's path is known",
                      "give --agent-dir DIR or --host-dir DIR");
        return std::string();
    }
    const std::string where = Shown(place.path);
    const auto values = platform::ReadXmlNodeTexts(place.path, ServerValuePaths());
    if (!values) {
        findings.Fail("agent.xml",
                      "cannot be read at " + where + " (" + anchor +
                          "): missing, not a regular file or not well-formed XML; every report "
                          "is refused and nothing says so",
                      "put a well-formed Conf/agent.xml with <Root><Server><Ip>, <Port>, "
                      "<RemoteApp> and <RemoteAppEndpoint> there");
        return std::string();
    }
    findings.Ok("agent.xml", "found at " + where + " (" + anchor + ")");
    for (std::size_t i = 0; i < ServerValuePaths().size(); ++i) {
        const std::string name = std::string("agent.xml ") + kServerValueNames[i];
        if (i >= values->size()) {
            findings.Fail(name,
                          "missing (" + ServerValuePaths()[i] +
                              "): the service URL cannot be formed, every report is refused",
                          "add " + ServerValuePaths()[i] + " to " + where);
            return std::string();
        }
        findings.Ok(name, "'" + Narrow((*values)[i]) + "'");
    }

    std::u16string url;
    GetServerUrl(url);
    char narrow[kServiceUrlBufferSize];
    if (!ToNarrowServiceUrl(url, narrow)) {
        findings.Fail("service URL",
                      "'" + Narrow(url) +
                          "' is not ASCII or longer than 259 characters: reports get an empty "
                          "URL and are refused (result 2)",
                      "correct the four values in " + where);
        return std::string();
    }
    const UrlRefusal refusal = WhyUrlRefused(narrow);
    if (refusal != UrlRefusal::None) {
        findings.Fail("service URL",
                      "'" + Shown(narrow) + "' would be refused (result 2, nothing sent) because " +
                          WhyRefused(refusal),
                      "correct the four values in " + where);
        return std::string();
    }
    findings.Ok("service URL", "reports would use " + std::string(narrow));
    return narrow;
}

void CheckProxy(Findings& findings, const std::string& serviceUrl) {
    const ProxyFileContent file = ReadProxyFile();
    const std::string where = Shown(file.path);
    if (file.pastBound) {
        findings.Warn("ProxyInfo.xml",
                      "found at " + where +
                          ", but its words run past its first 64 KiB: not read, no proxy (GBK "
                          "line \"proxy unavailable\")",
                      "write the three words HOST PORT true at the start of the file");
    } else if (!file.opened) {
        findings.Ok("ProxyInfo.xml",
                    "none at " + where +
                        ": no proxy; each report prints the GBK line \"proxy unavailable\" on "
                        "standard output");
    } else {
        const std::string words = "'" + Shown(file.words[0]) + "' '" + Shown(file.words[1]) +
                                  "' '" + Shown(file.words[2]) + "'";
        if (file.enabled) {
            findings.Ok("ProxyInfo.xml", "found at " + where + ", words " + words +
                                             ": proxy enabled, host and port from words 1 and 2");
        } else if (file.overlong) {
            findings.Warn("ProxyInfo.xml",
                          "found at " + where +
                              ", a word is longer than 259 bytes: proxy not "
                              "enabled (GBK line \"proxy not enabled\")",
                          "write three short words: HOST PORT true");
        } else {
            findings.Warn("ProxyInfo.xml",
                          "found at " + where + ", words " + words +
                              ": proxy not enabled, the third word is not exactly 'true' (GBK "
                              "line \"proxy not enabled\" on standard output)",
                          "to use the proxy write HOST PORT true (lower case); to go direct "
                          "remove the file");
        }
    }
    if (serviceUrl.empty())
        return;
    if (IsLoopbackEndpoint(serviceUrl.c_str())) {
        findings.Ok("endpoint", "reports go to " + serviceUrl +
                                    " directly: a service on 127.0.0.1 or localhost never goes "
                                    "through the proxy");
        return;
    }
    if (!file.enabled) {
        findings.Ok("endpoint", "reports go to " + serviceUrl + " directly");
        return;
    }
    const auto proxied = ProxiedEndpoint(serviceUrl, file.words[0], file.words[1]);
    if (!proxied) {
        findings.Warn("endpoint",
                      "the proxy address does not fit the URL; reports go to " + serviceUrl +
                          " directly",
                      "shorten the proxy's host and port in " + where);
        return;
    }
    findings.Ok("endpoint", "reports go to " + Shown(*proxied) +
                                " (the proxy); the header's To "
                                "and Action still name " +
                                serviceUrl);
}

void CheckLocalAddresses(Findings& findings) {
    std::string list = ReadProxyFile().enabled ? "1" : "0";
    AppendHostAddresses(list);
    if (list.size() == 1) {
        findings.Warn("local addresses",
                      "'" + list +
                          "': the host name does not resolve to an IPv4 address (or is longer "
                          "than 31 characters); reports carry the proxy flag alone",
                      "make the host name resolve, for example a line in /etc/hosts");
        return;
    }
    findings.Ok("local addresses", "'" + Shown(list) +
                                       "' (proxy flag, then the host name's "
                                       "IPv4 addresses): every report's From");
}

void CheckLog(Findings& findings) {
    const std::string place = Shown(LogFilePlace());
    std::FILE* file = OpenLogFile();
    if (file == nullptr) {
        findings.Warn("log",
                      "cannot open " + place +
                          " for appending: the module says \"Cannot open log file:...\" on "
                          "standard error once per channel at load and sends its entries there",
                      "create the directory of " + place + ", writable by the agent");
    } else {
        std::fclose(file);
        findings.Ok("log", place + " is writable");
    }
    for (const char16_t* channel : {kPluginLogName, kDbgLogName}) {
        const std::string name = platform::Utf16ToUtf8(channel);
        const std::string check = "log switch " + name;
        if (IsLogChannelSwitchedOff(channel)) {
            findings.Warn(check,
                          "set: the value " + name +
                              " exists under HKEY_LOCAL_MACHINE\\Software\\Orvane\\LogModule, "
                              "so the channel writes nothing",
                          "delete that value to have the channel write again (next load)");
        } else {
            findings.Ok(check, "not set: the channel writes");
        }
    }
}

void CheckImagingLibrary(Findings& findings) {
    const std::string fileName = platform::SharedLibraryFileName(kImagingLibraryName);
    const ImagingLibraryFinding library = InspectImagingLibrary();
    if (!library.loaded) {
        findings.Fail("imaging library",
                      fileName + " cannot be loaded (" + Shown(library.error) +
                          "): every Download is refused with -50, exactly like a refusal",
                      "install " + fileName + " where the loader finds it");
        return;
    }
    std::string missing;
    for (std::size_t i = 0; i < kImagingFunctionCount; ++i) {
        if (!library.exported[i])
            missing += std::string(missing.empty() ? "" : ", ") + kImagingFunctionNames[i];
    }
    if (!missing.empty()) {
        findings.Fail("imaging library",
                      Shown(library.path) + " lacks " + missing +
                          ": the module takes none of its functions and refuses every Download "
                          "with -50",
                      "install a " + fileName + " that exports all nine functions");
        return;
    }
    findings.Ok("imaging library", Shown(library.path) + " exports all nine functions");
}

void CheckIdentity(Findings& findings) {
    const auto adapters = platform::Current().QueryAdapterPermanentAddresses();
    if (!adapters || adapters->empty()) {
        findings.Warn("adapters", "none listed: the identity is empty, probes carry ID=\"\"",
                      "check the network adapters");
    } else {
        for (const platform::AdapterAnswer& adapter : *adapters) {
            const std::string check = "adapter " + Shown(adapter.name);
            if (!adapter.permanentAddress) {
                findings.Ok(check, "no permanent address (skipped for the identity)");
                continue;
            }
            findings.Ok(check, "permanent address " + AddressText(*adapter.permanentAddress));
            // The table as it stands before the identity below records new aliases.
            const std::u16string name = IdentityText(*adapter.permanentAddress);
            const auto alias = platform::Current().RegistryReadValue(
                kAliasTableKey, name, adapter.permanentAddress->size());
            if (alias && alias->size() == platform::HardwareAddress().size()) {
                platform::HardwareAddress target{};
                std::copy(alias->begin(), alias->end(), target.begin());
                findings.Ok("alias " + Narrow(name), "stands for " + Narrow(IdentityText(target)));
            }
        }
    }
    char16_t identity[kDeviceIdComputeBufferSize] = {};
    GetDeviceId(identity);
    const std::string text = Narrow(identity);
    if (text.empty()) {
        findings.Warn("identity", "empty: probes carry ID=\"\"",
                      "an adapter must answer the permanent-address query");
        return;
    }
    findings.Ok("identity", text + " (probe document <Root ID=\"" + text + "\"/>)");
}

void CheckNamedLocks(Findings& findings) {
    for (const char16_t* name : {kProxyLockName, kHostAddressLockName}) {
        const std::string check = "lock " + platform::Utf16ToUtf8(name);
        const std::string place = Shown(platform::native::NamedLockPlace(name));
        switch (platform::native::ProbeNamedLock(name)) {
        case platform::native::NamedLockState::Free:
            findings.Ok(check, "free (" + place + ")");
            break;
        case platform::native::NamedLockState::Held:
            findings.Warn(check,
                          "held by another process (" + place +
                              "): every report waits for it, without a time-out",
                          "find the holder (fuser " + place + ") and end it if it is stuck");
            break;
        case platform::native::NamedLockState::Unusable:
            findings.Warn(check,
                          "cannot be had: " + place +
                              " is not a regular file or cannot be created; the work it guards "
                              "runs unguarded",
                          "remove " + place + " so that the module creates it again");
            break;
        }
    }
}

} // namespace pandel::doctor
