// Literal request and response texts, and standard streams caught in temporary files.
#include "tests/report/report_test_support.h"

#include "harness/http_framing.h"
#include "tests/support/temp_root.h"

#include <fcntl.h>
#include <unistd.h>
#if defined(_WIN32)
#include <io.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace pandel::test {

std::string LoopbackUrl(std::uint16_t port) {
    return "http://127.0.0.1:" + std::to_string(port) + "/App/Ep";
}

namespace {

// text with each $n (one digit) replaced by fields[n - 1], in one pass.
std::string Fill(const std::string& text, const std::vector<std::string>& fields) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '$' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
            out += fields.at(static_cast<std::size_t>(text[++i] - '1'));
            continue;
        }
        out += text[i];
    }
    return out;
}

} // namespace

std::string ExpectedSetRequest(const std::string& host, const std::string& path,
                               const std::string& messageId, const std::string& from,
                               const std::string& serviceUrl, const std::string& xIn) {
    const std::string body =
        Fill("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SOAP-ENV:Envelope"
             " xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\""
             " xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\""
             " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
             " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\""
             " xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
             " xmlns:soap=\"urn:pandel:device-config\"><SOAP-ENV:Header><wsa:MessageID>$1"
             "</wsa:MessageID><wsa:From><wsa:Address xsi:type=\"xsd:string\">$2</wsa:Address>"
             "</wsa:From><wsa:To>$3</wsa:To><wsa:Action>$3</wsa:Action></SOAP-ENV:Header>"
             "<SOAP-ENV:Body><soap:Set><soap:xIn xsi:type=\"xsd:string\">$4</soap:xIn></soap:Set>"
             "</SOAP-ENV:Body></SOAP-ENV:Envelope>",
             {messageId, from, serviceUrl, xIn});
    return Fill("POST /$1 HTTP/1.1\r\nHost: $2\r\nUser-Agent: gSOAP/2.7\r\n"
                "Content-Type: text/xml; charset=utf-8\r\nContent-Length: $3\r\n"
                "Connection: close\r\nSOAPAction: \"\"\r\n\r\n",
                {path, host, std::to_string(body.size())}) +
           body;
}

std::string HttpResponse(int status, const std::string& body) {
    return XmlResponse(std::to_string(status) + " Status", body);
}

std::string Soap11(const std::string& body, const std::string& headerContent) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\""
           " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
           " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\""
           " xmlns:s=\"urn:pandel:device-config\""
           " xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
           " xmlns:wsa5=\"http://www.w3.org/2005/08/addressing\">" +
           (headerContent.empty() ? std::string()
                                  : "<SOAP-ENV:Header>" + headerContent + "</SOAP-ENV:Header>") +
           "<SOAP-ENV:Body>" + body + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

std::string Soap12(const std::string& body, const std::string& headerContent) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\""
           " xmlns:s=\"urn:pandel:device-config\">" +
           (headerContent.empty() ? std::string()
                                  : "<env:Header>" + headerContent + "</env:Header>") +
           "<env:Body>" + body + "</env:Body></env:Envelope>";
}

namespace {

int RedirectInto(int fd, std::string& path) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "pandel-report-output-XXXXXX").string();
#if defined(_WIN32)
    // Windows' mkstemp denies other opens of the file while it is open: the name is made
    // unique here, and the file opened shared, in binary so that no CR is added to a line feed.
    int file = -1;
    for (unsigned attempt = 0; file < 0 && attempt < 100; ++attempt) {
        std::string name = pattern;
        if (_mktemp_s(name.data(), name.size() + 1) != 0)
            break;
        file = _open(name.c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY, 0600);
        if (file >= 0)
            pattern = name;
    }
#else
    const int file = mkstemp(pattern.data());
#endif
    if (file < 0)
        throw std::runtime_error("cannot create a capture file");
    path = pattern;
    const int saved = dup(fd);
    dup2(file, fd);
    close(file);
    return saved;
}

} // namespace

CapturedOutput::CapturedOutput() {
    std::fflush(stdout);
    std::fflush(stderr);
    savedOut_ = RedirectInto(1, outPath_);
    savedErr_ = RedirectInto(2, errPath_);
}

CapturedOutput::~CapturedOutput() {
    Stop();
    std::remove(outPath_.c_str());
    std::remove(errPath_.c_str());
}

void CapturedOutput::Stop(bool flushFirst) {
    if (stopped_)
        return;
    stopped_ = true;
    // Without flushFirst, what stdio still buffers is written out only after descriptor 1
    // was read.
    if (!flushFirst)
        asWritten_ = ReadFile(outPath_);
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(savedOut_, 1);
    dup2(savedErr_, 2);
    close(savedOut_);
    close(savedErr_);
}

std::string CapturedOutput::Stdout() {
    Stop();
    return ReadFile(outPath_);
}

std::string CapturedOutput::StdoutAsWritten() {
    Stop(false);
    return asWritten_;
}

std::string CapturedOutput::Stderr() {
    Stop();
    return ReadFile(errPath_);
}

} // namespace pandel::test
