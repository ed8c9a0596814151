// The management server's device-configuration service: the input of soapcpp2. The build turns
// it into the module's client side and devcfg-server's server side, each in a C++ namespace of
// its own; nothing generated is kept in the source tree. The SOAP header and Fault records are
// in devcfg_envelope.h.

// soapcpp2 reads these directives only as written, without a space after the slashes.
// clang-format off
//gsoap soap service name: DeviceConfig
//gsoap soap service namespace: urn:pandel:device-config
//gsoap soap service location: http://127.0.0.1:8080/DeviceConfig/Service
//gsoap soap service style: document
//gsoap soap service encoding: literal
//gsoap soap schema namespace: urn:pandel:device-config
//gsoap soap schema elementForm: qualified
//gsoap soap schema attributeForm: unqualified
//gsoap soap service method-input-header-part: Set wsa__MessageID
//gsoap soap service method-input-header-part: Set wsa__From
//gsoap soap service method-input-header-part: Set wsa__To
//gsoap soap service method-input-header-part: Set wsa__Action
//gsoap soap service method-input-header-part: Get wsa__MessageID
//gsoap soap service method-input-header-part: Get wsa__From
//gsoap soap service method-input-header-part: Get wsa__To
//gsoap soap service method-input-header-part: Get wsa__Action
// clang-format on

#import "devcfg_envelope.h"

// Report text is UTF-16 in memory and has a serializer of its own
// (soap_report_text_serializer.cpp): it is written unit by unit with the service's escaping, which
// the toolkit's string types lack.
#include "report/soap_report_text.h"
extern class PandelReportText;
extern typedef PandelReportText xsd__string_;

// r is a 32-bit integer that the server may type as xsd:long.
typedef int xsd__long;

// r is required; a pointer lets the client tell a response without it from r = 0.
struct soap__SetResponse {
    xsd__long* r 1;
};

struct soap__GetResponse {
    xsd__string_ xOut 1;
};

// clang-format off
//gsoap soap service method-action: Set ""
int soap__Set(xsd__string_ xIn, struct soap__SetResponse* response);

//gsoap soap service method-action: Get ""
int soap__Get(xsd__string_ xIn, struct soap__GetResponse* response);
// clang-format on
