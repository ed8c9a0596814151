// The reachability probe: the module's own probe and report sender, once, with the sender's
// result explained.
#include "tools/pandel-doctor/checks.h"

#include "platform/wide_text.h"
#include "plugin/adapter_selection.h"
#include "report/report_sender.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace pandel::doctor {
namespace {

// The SOAP runtime's result codes that an operator meets.
constexpr int kDelivered = 0;
constexpr int kEndOfInput = -1; // time-out, or the connection closed before an answer
constexpr int kClientFault = 1;
constexpr int kServerFaultOrRefused = 2;
constexpr int kNotSetResponse = 3;
constexpr int kWrongType = 4;
constexpr int kMustUnderstand = 8;
constexpr int kOtherFault = 12;
constexpr int kNoConnection = 28;
constexpr int kVersionMismatch = 39;
constexpr int kNoR = 44;

struct Meaning {
    const char* text;
    const char* fix;
};

Meaning Explain(int code) {
    switch (code) {
    case kEndOfInput:
        return {"no answer: the server kept silent for 15 s or closed the connection first",
                "check that the service answers (and any proxy passes the request on)"};
    case kClientFault:
        return {"SOAP Client fault: the server rejected the request",
                "see the fault text on standard error; check RemoteApp and RemoteAppEndpoint"};
    case kServerFaultOrRefused:
        return {"SOAP Server fault: the service failed on its side",
                "see the fault text on standard error and the service's own log"};
    case kNotSetResponse:
        return {"the answer is not a SetResponse (another element, or an empty Body)",
                "the URL reaches something that is not the device-configuration service"};
    case kWrongType:
        return {"the SetResponse's r is not a 32-bit number", "correct the service"};
    case kMustUnderstand:
        return {"the answer has a header element marked mustUnderstand", "correct the service"};
    case kOtherFault:
        return {"a SOAP fault of another kind", "see the fault text on standard error"};
    case kNoConnection:
        return {"no connection: refused, no route, or the host name does not resolve",
                "start the service, or correct Ip and Port in agent.xml (or the proxy)"};
    case kVersionMismatch:
        return {"SOAP version mismatch: the server speaks another SOAP version",
                "the service must speak SOAP 1.1"};
    case kNoR:
        return {"the SetResponse has no r", "correct the service"};
    default:
        break;
    }
    if (code >= 100 && code < 600)
        return {"the server answered with this HTTP status instead of SOAP",
                "check the URL's path (RemoteApp/RemoteAppEndpoint) and the proxy"};
    return {"the exchange failed", "see the fault text on standard error"};
}

// The module's own lines (the proxy texts, the endpoint) go to standard error while the probe
// runs, so that standard output holds only pandel-doctor's findings.
class StdoutToStderr {
public:
    StdoutToStderr() {
        std::fflush(stdout);
        saved_ = dup(1);
        if (saved_ >= 0)
            dup2(2, 1);
    }
    ~StdoutToStderr() {
        std::fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, 1);
            close(saved_);
        }
    }
    StdoutToStderr(const StdoutToStderr&) = delete;
    StdoutToStderr& operator=(const StdoutToStderr&) = delete;

private:
    int saved_ = -1;
};

} // namespace

void CheckProbe(Findings& findings, const std::string& serviceUrl) {
    if (serviceUrl.empty()) {
        findings.Fail("probe", "not sent: there is no service URL a report could use",
                      "fix agent.xml first (see above)");
        return;
    }
    ProbeServices services = RealProbeServices();
    int code = kDelivered;
    std::int32_t r = 0;
    std::string document;
    bool sent = false;
    services.sendReport = [&](const char* url, const char16_t* report, std::int32_t* result) {
        sent = true;
        document = platform::Utf16ToUtf8(report != nullptr ? report : u"");
        code = SendReport(url, report, result);
        r = *result;
        return code;
    };
    std::int32_t reached = 0;
    {
        StdoutToStderr moduleLines;
        reached = ProbeServerWith(services);
    }
    if (!sent) {
        findings.Fail("probe", "not sent: the module found no service URL",
                      "fix agent.xml first (see above)");
        return;
    }
    const std::string what = "sent " + Shown(document) + " to " + serviceUrl;
    if (reached == 1) {
        findings.Ok("probe", what + ": the server answered SetResponse r=" + std::to_string(r) +
                                 " (result 0)");
        return;
    }
    if (code == kReportRefused && WhyUrlRefused(serviceUrl.c_str()) != UrlRefusal::None) {
        findings.Fail("probe", "the sender refused the URL (result 2), nothing was sent",
                      "correct the four values in agent.xml");
        return;
    }
    const Meaning meaning = Explain(code);
    findings.Fail("probe", what + ": result " + std::to_string(code) + ", " + meaning.text,
                  meaning.fix);
}

} // namespace pandel::doctor
