// The strict reading of a request body: a well-formed SOAP 1.1 envelope whose Body holds one
// Set or Get of the service, with exactly one xIn in the service namespace.
#pragma once

#include <string>

namespace devcfg {

constexpr const char* kServiceNamespace = "urn:pandel:device-config";

// Empty when body is such an envelope; otherwise why it is not, as a Client fault's text.
std::string CheckEnvelope(const std::string& body);

} // namespace devcfg
