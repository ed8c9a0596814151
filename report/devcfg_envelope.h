// The SOAP envelope records of the device-configuration service: the input of soapcpp2 for the
// code both sides share. The runtime reaches the header and Fault code by fixed global names,
// so this part is generated outside any C++ namespace, once per program.
//
// wsa_2004_08.h is the toolkit's WS-Addressing 2004/08 declarations (import/wsa.h), copied at
// build time without their own SOAP header record, their Fault one-way operation and their
// second, 2005/08, input namespace: the service's header is the five fields below, none of them
// mustUnderstand, and only the 2004/08 namespace is understood on input.

#import "wsa_2004_08.h"

struct SOAP_ENV__Header {
    _wsa__MessageID wsa__MessageID 0;
    _wsa__From* wsa__From 0;
    _wsa__ReplyTo* wsa__ReplyTo 0;
    _wsa__To wsa__To 0;
    _wsa__Action wsa__Action 0;
};
