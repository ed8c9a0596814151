// One SendReport against its floor, both in this program on the same server: the floor is a
// minimal blocking client sending the very bytes SendReport sent, preceded by only the calls each
// report must make (the two lock cycles, the proxy file read, the standard output line, the host
// name and its resolution), in the same order. Two cases: a loopback URL with no proxy file, and
// a remote URL redirected by a proxy file to the server.
//
//   report_bench [--pairs N]                the comparisons, N pairs each (default 15)
//   report_bench --side I module|baseline N one side of the I-th comparison, N times
#include "bench/answering_server.h"
#include "bench/paired.h"
#include "bench/raw_client.h"
#include "proxy/proxy_settings.h"
#include "report/report_sender.h"
#include "report/soap_runtime.h"

#include <benchmark/benchmark.h>
#include <stdsoap2.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using pandel::bench::AnsweringServer;
using pandel::bench::RawExchange;

const std::u16string kReport =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\"?><Root><TaskStatusResponse><ScheduleId>42"
    u"</ScheduleId><Progress>101</Progress><ErrorInfo></ErrorInfo></TaskStatusResponse></Root>";
// Never contacted: the proxy file sends the request to the loopback server instead.
constexpr const char* kRemoteUrl = "http://devcfg.invalid:8080/DeviceManager/DeviceConfig";
constexpr const char* kProxyUnavailableLine = "\xB4\xFA\xC0\xED\xB2\xBB\xBF\xC9\xD3\xC3\n";

struct Stage {
    std::unique_ptr<AnsweringServer> server;
    std::string url;
    std::string request;      // what SendReport sent to the loopback URL, byte for byte
    std::string proxyRequest; // what it sent through the proxy
    std::string proxyFile;    // Conf/ProxyInfo.xml beside this program
    std::string proxyWords;   // its content
    std::string proxyLock;
    std::string hostLock;
};
Stage* stage = nullptr;

void WriteProxyFile() {
    std::ofstream(stage->proxyFile, std::ios::binary) << stage->proxyWords;
}

void RemoveProxyFile() {
    unlink(stage->proxyFile.c_str());
}

// The floor's lock cycle: open the lock file, take it, do the work, release, close.
template <typename Work> void UnderLock(const std::string& path, Work work) {
    const int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    flock(fd, LOCK_EX);
    work();
    flock(fd, LOCK_UN);
    close(fd);
}

// The floor's read of the proxy file: one open, one read, one close. Returns the bytes read.
long ReadProxyFile() {
    const int fd = open(stage->proxyFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    char words[1024];
    const long n = read(fd, words, sizeof words);
    close(fd);
    return n;
}

void WriteLine(const char* text, std::size_t length) {
    if (write(STDOUT_FILENO, text, length) < 0)
        std::abort();
}

// The host name and its IPv4 addresses in the resolver's order, as each report builds them.
std::string FloorAddressList(char flag) {
    std::string list(1, flag);
    UnderLock(stage->hostLock, [&] {
        char name[32] = {};
        if (gethostname(name, sizeof name) != 0)
            return;
        hostent entry{};
        hostent* found = nullptr;
        char scratch[2048];
        int error = 0;
        if (gethostbyname_r(name, &entry, scratch, sizeof scratch, &found, &error) != 0 ||
            found == nullptr)
            return;
        for (char** a = found->h_addr_list; *a != nullptr; ++a) {
            char text[INET_ADDRSTRLEN];
            list += ',';
            list += inet_ntop(AF_INET, *a, text, sizeof text);
        }
    });
    return list;
}

// Loopback URL, no proxy file: the proxy lock held while the file fails to open and the line
// says so, the address list under its lock, then the exchange.
long FloorLoopback() {
    UnderLock(stage->proxyLock, [] {
        if (ReadProxyFile() < 0)
            WriteLine(kProxyUnavailableLine, std::strlen(kProxyUnavailableLine));
    });
    benchmark::DoNotOptimize(FloorAddressList('0'));
    return RawExchange(stage->server->port(), stage->request);
}

// Remote URL and a proxy file that enables the proxy: the file read under its lock for the
// rewrite, the rewritten endpoint printed, the file read again for the address list's flag.
long FloorProxy() {
    UnderLock(stage->proxyLock, [] { benchmark::DoNotOptimize(ReadProxyFile()); });
    const std::string endpoint = stage->url + "\n";
    WriteLine(endpoint.data(), endpoint.size());
    UnderLock(stage->proxyLock, [] { benchmark::DoNotOptimize(ReadProxyFile()); });
    benchmark::DoNotOptimize(FloorAddressList('1'));
    return RawExchange(stage->server->port(), stage->proxyRequest);
}

const long kAnswerBytes = static_cast<long>(AnsweringServer::Answer().size());

bool SendLoopback() {
    std::int32_t r = -1;
    return pandel::SendReport(stage->url.c_str(), kReport.c_str(), &r) == 0;
}

bool SendRemoteThroughProxy() {
    std::int32_t r = -1;
    return pandel::SendReport(kRemoteUrl, kReport.c_str(), &r) == 0;
}

bool Raw() {
    return RawExchange(stage->server->port(), stage->request) == kAnswerBytes;
}

// Two steps of every report measured alone: the local address list (the proxy file under its
// lock, the host name and its addresses under theirs) and a runtime context made and released.
bool LocalAddressList() {
    char list[pandel::kLocalAddressBufferSize] = {};
    pandel::GetLocalAddressList(list);
    benchmark::DoNotOptimize(list);
    return list[0] != '\0';
}

bool SoapContext() {
    static const Namespace table[] = {
        {"SOAP-ENV", "http://schemas.xmlsoap.org/soap/envelope/", nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr}};
    struct soap* context = pandel::soap::NewContext(table);
    pandel::soap::ReleaseContext(context);
    return context != nullptr;
}

std::vector<pandel::bench::Comparison> Comparisons() {
    return {
        {"SendReport, loopback URL, no proxy file",
         SendLoopback,
         [] { return FloorLoopback() == kAnswerBytes; },
         1.20,
         {},
         {}},
        {"SendReport, proxy file and remote URL", SendRemoteThroughProxy,
         [] { return FloorProxy() == kAnswerBytes; }, 1.25, WriteProxyFile, RemoveProxyFile},
        {"the floor, loopback", [] { return FloorLoopback() == kAnswerBytes; }, Raw, 0, {}, {}},
        {"SendReport, loopback, against raw", SendLoopback, Raw, 0, {}, {}},
        {"local address list alone", LocalAddressList, {}, 0, {}, {}},
        {"runtime context alone", SoapContext, {}, 0, {}, {}},
    };
}

std::string ExecutableDirectory() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    std::string exe(path, static_cast<std::size_t>(n));
    return exe.substr(0, exe.find_last_of('/'));
}

} // namespace

int main(int argc, char** argv) {
    char root[] = "/tmp/pandel-bench-XXXXXX";
    if (mkdtemp(root) == nullptr)
        return 1;
    setenv("PANDEL_ROOT", root, 1); // the named locks live under it

    Stage s;
    s.server = std::make_unique<AnsweringServer>();
    s.url = s.server->Url();
    const std::string confDir = ExecutableDirectory() + "/Conf";
    mkdir(confDir.c_str(), 0755);
    s.proxyFile = confDir + "/ProxyInfo.xml";
    s.proxyWords = "127.0.0.1 " + std::to_string(s.server->port()) + " true\n";
    s.proxyLock = std::string(root) + "/locks/h_Proxylock";
    s.hostLock = std::string(root) + "/locks/h_TryGetIpLock_uuid";
    stage = &s;
    RemoveProxyFile();

    // The floor sends what SendReport sent; a difference in the bytes would void the comparison.
    std::int32_t r = -1;
    const int first = pandel::SendReport(s.url.c_str(), kReport.c_str(), &r);
    s.request = s.server->LastRequest();
    WriteProxyFile();
    const int proxied = pandel::SendReport(kRemoteUrl, kReport.c_str(), &r);
    s.proxyRequest = s.server->LastRequest();
    RemoveProxyFile();
    if (first != 0 || proxied != 0 || s.request.empty() || s.proxyRequest.empty()) {
        std::fprintf(stderr, "report_bench: the first SendReport failed (%d, %d)\n", first,
                     proxied);
        return 1;
    }

    const int status = pandel::bench::RunCommandLine(Comparisons(), argc, argv);
    RemoveProxyFile();
    stage = nullptr;
    rmdir(confDir.c_str());
    const std::string cleanup = std::string("rm -rf '") + root + "'";
    return std::system(cleanup.c_str()) == 0 ? status : 1;
}
