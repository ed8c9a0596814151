// The benchmarks' server on 127.0.0.1: the tests' loopback server answering every request at once
// with one fixed SetResponse, keeping only the last request, so that a loop of any length holds
// no growing state.
#pragma once

#include "harness/loopback_server.h"

#include <string>

namespace pandel::bench {

class AnsweringServer : public test::LoopbackServer {
public:
    AnsweringServer();

    // The answer's exact bytes: HTTP 200 with a SetResponse holding r = 0.
    static const std::string& Answer();
};

} // namespace pandel::bench
