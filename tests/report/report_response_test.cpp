// What SendReport makes of each answer a server can give, from scripted loopback servers.
#include "harness/fake_platform.h"
#include "harness/loopback_server.h"
#include "report/report_sender.h"
#include "report/soap_exchange.h"
#include "tests/report/report_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace pandel::test {
namespace {

constexpr std::int32_t kUntouched = 77;

std::string SetResponse(const std::string& r) {
    return "<s:SetResponse>" + r + "</s:SetResponse>";
}

std::string Fault11(const std::string& code) {
    return "<SOAP-ENV:Fault><faultcode>" + code +
           "</faultcode><faultstring>told to</faultstring></SOAP-ENV:Fault>";
}

std::string Fault12(const std::string& code) {
    return "<env:Fault><env:Code><env:Value>" + code +
           "</env:Value></env:Code><env:Reason><env:Text xml:lang=\"en\">told to</env:Text>"
           "</env:Reason></env:Fault>";
}

// A SetResponse carrying attributes a0="" a1="" ... until the whole HTTP response has size bytes.
std::string SetResponseOfSize(std::size_t size) {
    const auto build = [](const std::string& attributes) {
        return HttpResponse(
            200, Soap11("<s:SetResponse" + attributes + "><s:r>5</s:r></s:SetResponse>"));
    };
    const std::size_t overhead = build("").size() + 2; // Content-Length gains up to two digits
    std::string attributes;
    for (std::size_t i = 0;; ++i) {
        const std::string next = " a" + std::to_string(i) + "=\"\"";
        if (overhead + attributes.size() + next.size() > size)
            break;
        attributes += next;
    }
    attributes.append(size - build(attributes).size(), ' ');
    return build(attributes);
}

std::string WithHeaderLine(std::string response, const std::string& line) {
    response.insert(response.find("\r\n") + 2, line + "\r\n");
    return response;
}

struct AnswerCase {
    const char* name;
    std::string answer;
    int result;
    std::int32_t slot;
};

std::vector<AnswerCase> AnswerCases() {
    const std::string ok = SetResponse("<s:r>5</s:r>");
    const std::string nul(1, '\0');
    const std::string otherPrefix =
        "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\">"
        "<e:Body><e:Fault><faultcode>e:Client</faultcode>"
        "<faultstring>x</faultstring></e:Fault></e:Body></e:Envelope>";
    return {
        // HTTP status
        {"200", HttpResponse(200, Soap11(ok)), 0, 5},
        {"202 with envelope", HttpResponse(202, Soap11(ok)), 0, 5},
        {"400 with envelope", HttpResponse(400, Soap11(ok)), 0, 5},
        {"500 with envelope", HttpResponse(500, Soap11(ok)), 0, 5},
        {"202 without body", "HTTP/1.1 202 Accepted\r\nContent-Length: 0\r\n\r\n", 202, 0},
        {"404 text", HttpResponse(404, "not here"), 404, 0},
        {"404 envelope", HttpResponse(404, Soap11(ok)), 404, 0},
        {"interim 100 skipped", "HTTP/1.1 100 Continue\r\n\r\n" + HttpResponse(200, Soap11(ok)), 0,
         5},
        {"SOAP 1.2 envelope", HttpResponse(200, Soap12(ok)), 0, 5},
        // faults, SOAP 1.1 and 1.2, compared by namespace whatever the prefix
        {"1.1 Client", HttpResponse(500, Soap11(Fault11("SOAP-ENV:Client"))), 1, 0},
        {"1.1 Server", HttpResponse(500, Soap11(Fault11("SOAP-ENV:Server"))), 2, 0},
        {"1.1 MustUnderstand", HttpResponse(500, Soap11(Fault11("SOAP-ENV:MustUnderstand"))), 8, 0},
        {"1.1 VersionMismatch", HttpResponse(500, Soap11(Fault11("SOAP-ENV:VersionMismatch"))), 39,
         0},
        {"1.1 other", HttpResponse(500, Soap11(Fault11("SOAP-ENV:Busy"))), 12, 0},
        {"1.1 Client of another namespace", HttpResponse(500, Soap11(Fault11("s:Client"))), 12, 0},
        {"1.1 Client, envelope prefix e", HttpResponse(500, otherPrefix), 1, 0},
        {"1.1 fault with status 200", HttpResponse(200, Soap11(Fault11("SOAP-ENV:Server"))), 2, 0},
        {"1.2 Sender", HttpResponse(500, Soap12(Fault12("env:Sender"))), 1, 0},
        {"1.2 Receiver", HttpResponse(500, Soap12(Fault12("env:Receiver"))), 2, 0},
        {"1.2 MustUnderstand", HttpResponse(500, Soap12(Fault12("env:MustUnderstand"))), 8, 0},
        {"1.2 VersionMismatch", HttpResponse(500, Soap12(Fault12("env:VersionMismatch"))), 39, 0},
        {"1.2 other", HttpResponse(500, Soap12(Fault12("env:DataEncodingUnknown"))), 12, 0},
        // r
        {"r typed xsd:int",
         HttpResponse(200, Soap11(SetResponse("<s:r xsi:type=\"xsd:int\">7</s:r>"))), 0, 7},
        {"r typed xsd:long",
         HttpResponse(200, Soap11(SetResponse("<s:r xsi:type=\"xsd:long\">7</s:r>"))), 0, 7},
        {"r typed xsd:short",
         HttpResponse(200, Soap11(SetResponse("<s:r xsi:type=\"xsd:short\">7</s:r>"))), 0, 7},
        {"r typed xsd:string",
         HttpResponse(200, Soap11(SetResponse("<s:r xsi:type=\"xsd:string\">7</s:r>"))), 4, 0},
        {"r with trailing characters", HttpResponse(200, Soap11(SetResponse("<s:r>7x</s:r>"))), 4,
         0},
        {"r beyond 32 bits", HttpResponse(200, Soap11(SetResponse("<s:r>4294967296</s:r>"))), 4, 0},
        {"r negative", HttpResponse(200, Soap11(SetResponse("<s:r>-3</s:r>"))), 0, -3},
        {"r after another child",
         HttpResponse(200, Soap11(SetResponse("<s:q>1</s:q><s:r>9</s:r>"))), 0, 9},
        {"r missing", HttpResponse(200, Soap11(SetResponse(""))), 44, 0},
        {"r missing, other child", HttpResponse(200, Soap11(SetResponse("<s:q>1</s:q>"))), 44, 0},
        // the Body's content
        {"empty Body", HttpResponse(200, Soap11("")), 3, 0},
        {"other element",
         HttpResponse(200, Soap11("<s:GetResponse><s:xOut>a</s:xOut></s:GetResponse>")), 3, 0},
        {"SetResponse of another namespace",
         HttpResponse(200, Soap11("<SetResponse xmlns=\"urn:other\"><r>1</r></SetResponse>")), 3,
         0},
        {"default namespace",
         HttpResponse(
             200, Soap11("<SetResponse xmlns=\"urn:pandel:device-config\"><r>6</r></SetResponse>")),
         0, 6},
        {"an id given twice after SetResponse",
         HttpResponse(200, Soap11(ok + "<s:Get id=\"a\"></s:Get><s:Get id=\"a\"></s:Get>")), 24, 0},
        // a length no answer can have: nothing is set aside for it
        {"404 with a negative Content-Length",
         "HTTP/1.1 404 Not Found\r\nContent-Length: -406\r\n\r\nabc", 404, 0},
        {"404 with a Content-Length of 100 TB",
         "HTTP/1.1 404 Not Found\r\nContent-Length: 99999999999999\r\n\r\nabc", 404, 0},
        // the Header
        {"unknown header element", HttpResponse(200, Soap11(ok, "<s:Extra>x</s:Extra>")), 0, 5},
        {"unknown element mustUnderstand",
         HttpResponse(200, Soap11(ok, "<s:Extra SOAP-ENV:mustUnderstand=\"1\">x</s:Extra>")), 8, 0},
        {"1.2 unknown element mustUnderstand",
         HttpResponse(200, Soap12(ok, "<s:Extra env:mustUnderstand=\"true\">x</s:Extra>")), 8, 0},
        {"wsa 2004/08 fields, mustUnderstand",
         HttpResponse(200, Soap11(ok, "<wsa:MessageID>1</wsa:MessageID><wsa:To "
                                      "SOAP-ENV:mustUnderstand=\"1\">x</wsa:To>")),
         0, 5},
        {"wsa 2005/08 field, mustUnderstand",
         HttpResponse(200, Soap11(ok, "<wsa5:To SOAP-ENV:mustUnderstand=\"1\">x</wsa5:To>")), 8, 0},
        // not SOAP at all
        {"not an envelope", HttpResponse(200, "<a/>"), 3, 0},
        {"not HTTP", "garbage garbage\r\n\r\n", -1, 0},
        // a NUL byte anywhere: no XML, whatever the runtime would make of the rest
        {"NUL before the XML declaration", HttpResponse(200, nul + Soap11(ok)), 5, 0},
        {"NUL inside r", HttpResponse(200, Soap11(SetResponse("<s:r>5" + nul + "</s:r>"))), 5, 0},
        {"NUL after r", HttpResponse(200, Soap11(SetResponse("<s:r>5</s:r>" + nul))), 5, 0},
        {"NUL in a header line", WithHeaderLine(HttpResponse(200, Soap11(ok)), "X-A: " + nul), 5,
         0},
        // size: 64 KiB of attributes is still read, far more is cut off unparsed
        {"SetResponse of 64 KiB, thousands of attributes", SetResponseOfSize(64 * 1024), 0, 5},
        {"SetResponse of 977 KB, 140,000 attributes",
         LoopbackServer::ManyAttributesSetResponse(140000), -1, 0},
    };
}

class ReportResponse : public ::testing::Test {
protected:
    ScopedFakePlatform platform_;
};

TEST_F(ReportResponse, EachAnswerGivesItsResultAndSlot) {
    for (const AnswerCase& c : AnswerCases()) {
        SCOPED_TRACE(c.name);
        LoopbackServer server(c.answer);
        const std::string url = LoopbackUrl(server.port());
        std::int32_t slot = kUntouched;
        CapturedOutput output;
        const int result = SendReport(url.c_str(), u"report", &slot);
        const std::string printout = output.Stderr();
        EXPECT_EQ(c.result, result);
        EXPECT_EQ(c.slot, slot);
        // The runtime's fault printout goes to standard error on every failure, and only then.
        EXPECT_EQ(result != 0, !printout.empty()) << printout;
    }
}

// The bytes of one answer, handed out in pieces of one size.
struct PiecedAnswer {
    std::string bytes;
    std::size_t at = 0;
    std::size_t piece = 0;
};
PiecedAnswer* g_pieced = nullptr;

std::size_t ReceivePiece(struct ::soap*, char* buffer, std::size_t length) {
    PiecedAnswer& answer = *g_pieced;
    const std::size_t n = std::min({length, answer.piece, answer.bytes.size() - answer.at});
    std::memcpy(buffer, answer.bytes.data() + answer.at, n);
    answer.at += n;
    return n;
}

// An answer past the bound ends in end of input wherever its bytes come to an end: the runtime,
// stopping on its own, answered by where in the XML the bound fell.
TEST_F(ReportResponse, AnswerPastItsBoundEndsInEndOfInputHoweverItArrives) {
    for (std::size_t piece : {1000u, 1447u, 4096u, 32768u, 65536u, 100000u}) {
        SCOPED_TRACE(piece);
        PiecedAnswer answer{LoopbackServer::ManyAttributesSetResponse(140000), 0, piece};
        g_pieced = &answer;
        std::int32_t result = kUntouched;
        CapturedOutput output;
        EXPECT_EQ(-1, pandel::soap::ReceiveSetResponseFrom(ReceivePiece, &result));
        EXPECT_EQ(kUntouched, result);
        EXPECT_LE(answer.at, pandel::soap::kMaxResponseBytes + piece);
    }
    g_pieced = nullptr;
}

TEST_F(ReportResponse, ServerThatClosesEndsWithEndOfInput) {
    {
        SCOPED_TRACE("after reading the request");
        LoopbackServer server("", LoopbackServer::Mode::CloseAfterRequest);
        const std::string url = LoopbackUrl(server.port());
        std::int32_t slot = kUntouched;
        EXPECT_EQ(-1, SendReport(url.c_str(), u"report", &slot));
        EXPECT_EQ(0, slot); // the request had gone out
    }
    {
        SCOPED_TRACE("before reading anything");
        LoopbackServer server("", LoopbackServer::Mode::CloseAtOnce);
        const std::string url = LoopbackUrl(server.port());
        std::int32_t slot = kUntouched;
        EXPECT_EQ(-1, SendReport(url.c_str(), u"report", &slot));
    }
}

TEST_F(ReportResponse, RefusedConnectionLeavesTheSlotAlone) {
    const std::string url = LoopbackUrl(ClosedPort());
    std::int32_t slot = kUntouched;
    CapturedOutput output;
    EXPECT_EQ(28, SendReport(url.c_str(), u"report", &slot));
    EXPECT_EQ(kUntouched, slot);
    EXPECT_FALSE(output.Stderr().empty());
}

TEST_F(ReportResponse, LargeReportToAServerThatHangsUpCostsOnlyAnError) {
    // Without care the write into the closed connection raises SIGPIPE and ends the process.
    const std::u16string report(4u << 20, u'a');
    LoopbackServer server("", LoopbackServer::Mode::CloseAtOnce);
    const std::string url = LoopbackUrl(server.port());
    std::int32_t slot = kUntouched;
    CapturedOutput output;
    EXPECT_EQ(-1, SendReport(url.c_str(), report.c_str(), &slot));
    EXPECT_EQ(kUntouched, slot); // the request never went out whole
}

TEST_F(ReportResponse, EndlessAnswerIsCutOffAtTheResponseLimit) {
    // Filler inside a header element the client skips: only the byte limit can end it.
    const std::string heads[] = {
        "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 100000000\r\n\r\n" +
            Soap11("").substr(0, Soap11("").find("<SOAP-ENV:Body>")) +
            "<SOAP-ENV:Header><y:Big xmlns:y=\"urn:y\">",
        "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n\r\n" +
            Soap11("").substr(0, Soap11("").find("<SOAP-ENV:Body>")) +
            "<SOAP-ENV:Body><s:SetResponse><s:q>",
    };
    for (const std::string& head : heads) {
        LoopbackServer server(head, LoopbackServer::Mode::AnswerThenStream);
        const std::string url = LoopbackUrl(server.port());
        std::int32_t slot = kUntouched;
        CapturedOutput output;
        EXPECT_EQ(-1, SendReport(url.c_str(), u"report", &slot));
        EXPECT_EQ(0, slot);
        EXPECT_NE(std::string::npos, output.Stderr().find("max message length exceeded"));
        // What the kernel buffers on both sides comes on top of what was read.
        EXPECT_LT(server.StreamedBytes(), 16u << 20);
    }
}

} // namespace
} // namespace pandel::test
