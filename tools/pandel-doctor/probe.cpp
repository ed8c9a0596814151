// The reachability probe: the module's own probe and report sender, once, with the sender's
// result explained.
#include "tools/pandel-doctor/checks.h"

#include "platform/wide_text.h"
#include "plugin/adapter_selection.h"
#include "report/report_sender.h"
#include "report/soap_exchange.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace pandel::doctor {
namespace {

// The SOAP runtime's result codes that an operator meets.
constexpr int kDelivered = 0;
constexpr int kEndOfInput = -1; // a wait ran out, or the connection ended before an answer
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
    std::string text;
    std::string fix;
};

using Clock = std::chrono::steady_clock;

std::string Seconds(Clock::duration took) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(took).count());
    return text;
}

// End of input, told apart by how long the exchange took: only a wait that ran out takes as
// long as its time-out; a connection that ended ends sooner.
Meaning ExplainEndOfInput(Clock::duration took) {
    const std::string after = " after " + Seconds(took);
    if (took >= std::chrono::seconds(soap::kExchangeTimeoutSeconds)) {
        return {"no complete answer" + after + ": the exchange's " +
                    std::to_string(soap::kExchangeTimeoutSeconds) +
                    " s ran out, the server answers too slowly",
                "check that the service answers promptly (and any proxy passes the answer on)"};
    }
    if (took >= std::chrono::seconds(soap::kReceiveTimeoutSeconds)) {
        return {"no answer" + after + ": the server kept silent for " +
                    std::to_string(soap::kReceiveTimeoutSeconds) +
                    " s (or took no more of the request)",
                "check that the service answers (and any proxy passes the request on)"};
    }
    return {"the connection ended" + after +
                " without a complete answer: the server (or the proxy) closed it, or the answer "
                "ran past " +
                std::to_string(soap::kMaxResponseBytes / 1024) +
                " KiB (the fault text on standard error says which)",
            "see the service's own log for why it closed the connection"};
}

Meaning Explain(int code, Clock::duration took) {
    switch (code) {
    case kEndOfInput:
        return ExplainEndOfInput(took);
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
    std::string url;
    Clock::duration took{};
    bool sent = false;
    services.sendReport = [&](const char* to, const char16_t* report, std::int32_t* result) {
        sent = true;
        url = to != nullptr ? to : "";
        document = platform::Utf16ToUtf8(report != nullptr ? report : u"");
        const Clock::time_point start = Clock::now();
        code = SendReport(to, report, result);
        took = Clock::now() - start;
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
    const std::string what = "sent " + Shown(document) + " to " + Shown(url);
    if (reached == 1) {
        findings.Ok("probe", what + ": the server answered SetResponse r=" + std::to_string(r) +
                                 " (result 0)");
        return;
    }
    if (code == kReportRefused && WhyUrlRefused(url.c_str()) != UrlRefusal::None) {
        findings.Fail("probe", "the sender refused the URL (result 2), nothing was sent",
                      "correct the four values in agent.xml");
        return;
    }
    const std::string result = what + ": result " + std::to_string(code);
    // The runtime connects only to a host it is given; without one it writes to no connection.
    if (NamesNoHost(ReportEndpoint(url))) {
        findings.Fail("probe",
                      result + " after " + Seconds(took) +
                          ", the URL has no host name: the exchange ended before any connection",
                      IpFix());
        return;
    }
    const Meaning meaning = Explain(code, took);
    findings.Fail("probe", result + ", " + meaning.text, meaning.fix);
}

} // namespace pandel::doctor
