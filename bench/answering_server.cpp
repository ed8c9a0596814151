// The answering server: the loopback server's quick answer, with the benchmarks' own SetResponse.
#include "bench/answering_server.h"

#include "harness/http_framing.h"

namespace pandel::bench {
namespace {

constexpr int kClientWaitMs = 5000; // a stalled client cannot hold the server for ever

test::LoopbackServer::Script QuickAnswer() {
    test::LoopbackServer::Script script;
    script.mode = test::LoopbackServer::Mode::AnswerQuickly;
    script.answer = AnsweringServer::Answer();
    script.holdMs = kClientWaitMs;
    return script;
}

} // namespace

AnsweringServer::AnsweringServer() : LoopbackServer(QuickAnswer()) {}

const std::string& AnsweringServer::Answer() {
    static const std::string answer = test::XmlResponse(
        "200 OK",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
        "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "xmlns:soap=\"urn:pandel:device-config\"><SOAP-ENV:Body><soap:SetResponse><soap:r>0"
        "</soap:r></soap:SetResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>");
    return answer;
}

} // namespace pandel::bench
