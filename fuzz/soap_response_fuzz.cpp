// Any bytes as the server's answer to a Set, fed to the SOAP runtime through its receive step in
// fuzzer-chosen pieces; no socket.
#include "report/soap_exchange.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const std::uint8_t* g_data = nullptr;
std::size_t g_left = 0;
std::size_t g_piece = 0; // 0: as much as the runtime asks for

std::size_t Receive(struct ::soap*, char* buffer, std::size_t length) {
    std::size_t n = g_left < length ? g_left : length;
    if (g_piece != 0 && n > g_piece)
        n = g_piece;
    std::memcpy(buffer, g_data, n);
    g_data += n;
    g_left -= n;
    return n;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0)
        return 0;
    // The first byte chooses the piece size, so answers split at every place get tried.
    g_piece = bytes[0] % 17;
    g_data = bytes + 1;
    g_left = size - 1;
    std::int32_t result = 0x5A5A5A5A;
    const int error = pandel::soap::ReceiveSetResponseFrom(Receive, &result);
    // r is stored only with success; a failure must never look like one.
    if (error != 0 && result != 0x5A5A5A5A) {
        std::fprintf(stderr, "soap fuzz: result stored on failure %d\n", error);
        std::abort();
    }
    return 0;
}
