// Each check calls the module's functions and says, in an operator's words, what their answer
// means for a Download.
#include "tools/pandel-doctor/checks.h"

#include "config/agent_config.h"
#include "diag/log_place.h"
#include "identity/device_id.h"
#include "platform/named_lock.h"
#include "platform/platform.h"
#include "platform/shared_library.h"
#include "platform/wide_text.h"
#include "platform/xml_file.h"
#include "plugin/imaging_client.h"
#include "plugin/service_url.h"
#include "proxy/proxy_settings.h"
#include "report/report_sender.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
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

constexpr std::size_t kIp = 0;
constexpr std::size_t kPort = 1;

std::string Element(std::size_t index) {
    return std::string("<") + kServerValueNames[index] + ">";
}

// The sender's own verdict on one value: a URL laid out as GetServerUrl lays it out, with that
// value in its place and parts the sender takes everywhere else. What it refuses there it
// refuses in every URL that holds the value.
struct ValueVerdict {
    bool narrow = true; // the URL fits the narrow buffer (ASCII, under 260 characters)
    UrlRefusal refusal = UrlRefusal::None;
};

ValueVerdict JudgeValue(std::size_t index, const std::u16string& value) {
    std::u16string parts[] = {u"server", u"1", u"app", u"endpoint"};
    parts[index] = value;
    const std::u16string url =
        u"http://" + parts[0] + u":" + parts[1] + u"/" + parts[2] + u"/" + parts[3];
    char narrow[kServiceUrlBufferSize];
    if (!ToNarrowServiceUrl(url, narrow))
        return {false, UrlRefusal::Empty};
    return {true, WhyUrlRefused(narrow)};
}

bool AllDecimalDigits(const std::u16string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

// What makes the value at index one that no report could use; empty when a report could.
std::string ValueFault(std::size_t index, const std::u16string& value) {
    const std::string shown = "'" + Narrow(value) + "'";
    const ValueVerdict verdict = JudgeValue(index, value);
    const bool refused = !verdict.narrow || verdict.refusal != UrlRefusal::None;
    const std::string noReport = "the sender refuses every report (result 2, nothing sent)";
    // The module reads a value with white space alone as empty.
    if (index == kIp && value.empty())
        return "empty: the service URL would name no server, so no report can reach one";
    if (index == kPort && (refused || !AllDecimalDigits(value)))
        return shown + " is not a port, a number from 1 to 65535 in decimal digits: " +
               (refused ? noReport : "reports would go elsewhere than to the server's port");
    if (!verdict.narrow)
        return shown + " is not ASCII or too long for the service URL: " + noReport;
    switch (verdict.refusal) {
    case UrlRefusal::None:
    case UrlRefusal::Empty:
        return std::string();
    case UrlRefusal::Unroutable:
        return shown + " puts http://0.0.0.0, which is no server, in the service URL: " + noReport;
    case UrlRefusal::TooLong:
        return shown + " makes the service URL longer than 259 characters: " + noReport;
    case UrlRefusal::UnsafeByte:
        return shown + " holds white space or a control byte: " + noReport;
    case UrlRefusal::PortOutOfRange:
        return shown + " holds a ':', after which the sender looks for a port from 1 to 65535 " +
               "and finds none: " + noReport;
    }
    return std::string();
}

std::string ValueFix(std::size_t index, const std::string& where) {
    const std::string in = " of <Root><Server> in " + where;
    if (index == kIp)
        return "write the server's address in <Ip>" + in;
    if (index == kPort)
        return "write the server's port, a number from 1 to 65535, in <Port>" + in;
    return "correct " + Element(index) + in;
}

// Why the log file cannot be opened, told from what stands at its place and above it.
struct LogPlaceFault {
    std::string cause;
    std::string fix;
};

LogPlaceFault WhyLogPlaceFails(const std::string& logPlace) {
    namespace fs = std::filesystem;
    const fs::path file = fs::u8path(logPlace);
    const fs::path directory = file.parent_path();
    const auto shown = [](const fs::path& path) { return Shown(path.u8string()); };
    const std::string account = ", writable by the agent's account";
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (fs::is_regular_file(status))
        return {"the file exists but cannot be written",
                "make " + shown(file) + " writable by the agent's account"};
    if (fs::exists(status))
        return {"it is not a regular file",
                "remove " + shown(file) + "; the module creates the file when it opens the log"};
    // The nearest place above the file that exists: a directory that cannot be written, or
    // something other than a directory in the way.
    for (fs::path above = directory; !above.empty(); above = above.parent_path()) {
        const fs::file_status aboveStatus = fs::status(above, error);
        if (aboveStatus.type() == fs::file_type::not_found) {
            if (above == above.parent_path())
                break;
            continue;
        }
        if (aboveStatus.type() == fs::file_type::none)
            return {shown(above) + " cannot be looked at (" + Shown(error.message()) + ")",
                    "make the directories above " + shown(file) + " searchable and " +
                        shown(directory) + " writable by the agent's account"};
        if (!fs::is_directory(aboveStatus))
            return {shown(above) + " is a file where a directory should be",
                    "remove the file " + shown(above) + " and create the directory " +
                        shown(directory) + account};
        if (above == directory)
            return {"its directory exists but cannot be written",
                    "make the directory " + shown(directory) + " writable by the agent's account"};
        break;
    }
    return {"its directory is missing", "create the directory " + shown(directory) + account};
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
    std::vector<std::string> faulty; // the elements whose values no report could use
    for (std::size_t i = 0; i < ServerValuePaths().size(); ++i) {
        const std::string name = std::string("agent.xml ") + kServerValueNames[i];
        if (i >= values->size()) {
            findings.Fail(name,
                          "missing (" + ServerValuePaths()[i] +
                              "): the service URL cannot be formed, every report is refused",
                          "add " + ServerValuePaths()[i] + " to " + where);
            return std::string();
        }
        const std::string fault = ValueFault(i, (*values)[i]);
        if (fault.empty()) {
            findings.Ok(name, "'" + Narrow((*values)[i]) + "'");
            continue;
        }
        faulty.push_back(Element(i));
        findings.Fail(name, fault, ValueFix(i, where));
    }

    std::string faultyList;
    for (std::size_t i = 0; i < faulty.size(); ++i)
        faultyList += (i == 0 ? "" : i + 1 == faulty.size() ? " and " : ", ") + faulty[i];
    const std::string fix = faulty.empty()
                                ? "correct the four values in " + where
                                : "correct " + faultyList + " in " + where + " (see above)";
    const std::string shorten =
        "shorten the four values in " + where + ": the URL must stay under 260 characters";

    std::u16string url;
    GetServerUrl(url);
    char narrow[kServiceUrlBufferSize];
    if (!ToNarrowServiceUrl(url, narrow)) {
        findings.Fail("service URL",
                      "'" + Narrow(url) +
                          "' is not ASCII or longer than 259 characters: reports get an empty "
                          "URL and are refused (result 2)",
                      faulty.empty() ? shorten : fix);
        return std::string();
    }
    const UrlRefusal refusal = WhyUrlRefused(narrow);
    if (refusal != UrlRefusal::None) {
        findings.Fail("service URL",
                      "'" + Shown(narrow) + "' would be refused (result 2, nothing sent) because " +
                          WhyRefused(refusal),
                      faulty.empty() && refusal == UrlRefusal::TooLong ? shorten : fix);
        return std::string();
    }
    // The sender takes it; the probe then shows what a report meets.
    if (!faulty.empty() || NamesNoHost(narrow)) {
        findings.Fail("service URL",
                      "'" + Shown(narrow) + "': the sender takes it, but " +
                          (NamesNoHost(narrow) ? "it names no server, so no report reaches one"
                                               : "it is not the address agent.xml means"),
                      faulty.empty() ? IpFix() : fix);
        return narrow;
    }
    findings.Ok("service URL", "reports would use " + std::string(narrow));
    return narrow;
}

std::string ReportEndpoint(const std::string& serviceUrl) {
    if (IsLoopbackEndpoint(serviceUrl.c_str()))
        return serviceUrl;
    const ProxyFileContent file = ReadProxyFile();
    if (!file.enabled)
        return serviceUrl;
    return ProxiedEndpoint(serviceUrl, file.words[0], file.words[1]).value_or(serviceUrl);
}

bool NamesNoHost(const std::string& url) {
    const std::size_t slashes = url.find("//");
    const std::size_t host = slashes == std::string::npos ? 0 : slashes + 2;
    return host >= url.size() || url[host] == ':' || url[host] == '/';
}

std::string IpFix() {
    return "write the server's address in <Ip> of <Root><Server> in " +
           Shown(FindAgentConfigFile().path);
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
    if (NamesNoHost(ReportEndpoint(serviceUrl))) {
        findings.Fail("endpoint",
                      "reports would go to " + serviceUrl +
                          ", which names no host: the exchange ends at once, before any "
                          "connection",
                      IpFix());
        return;
    }
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
        const LogPlaceFault fault = WhyLogPlaceFails(LogFilePlace());
        findings.Warn("log",
                      "cannot open " + place + " for appending (" + fault.cause +
                          "): the module says \"Cannot open log file:...\" on standard error "
                          "once per channel at load and sends its entries there",
                      fault.fix);
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
        case platform::native::NamedLockState::Held: {
            const auto holders = platform::native::NamedLockHolders(name);
            if (holders.empty()) {
                findings.Warn(check,
                              "held by another process, which the system does not name, at " +
                                  place + ": every report waits for it, without a time-out",
                              "find the holder (fuser " + place + ") and end it if it is stuck");
                break;
            }
            std::string who;
            std::string ids;
            for (const platform::native::LockHolder& holder : holders) {
                const std::string id = std::to_string(holder.processId);
                const std::string command =
                    holder.command.empty() ? "command unknown" : Shown(holder.command);
                who += (who.empty() ? "" : ", ") + id + " (" + command + ")";
                ids += (ids.empty() ? "" : ", ") + id;
            }
            const bool one = holders.size() == 1;
            findings.Warn(check,
                          std::string(one ? "held by process " : "held by processes ") + who +
                              " at " + place + ": every report waits for it, without a time-out",
                          std::string(one ? "end process " : "end processes ") + ids +
                              (one ? " if it is stuck; the lock is free once it has ended"
                                   : " if they are stuck; the lock is free once they have ended"));
            break;
        }
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
