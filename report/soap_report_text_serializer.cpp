// The SOAP runtime's serializer for report text (PandelReportText). Built once for each side
// generated from the service definition: the build names that side's generated header
// (PANDEL_SOAP_H_FILE) and C++ namespace (PANDEL_SOAP_NAMESPACE).
#include "report/soap_report_text.h"

#include <stdsoap2.h>

#include SOAP_XSTRINGIFY(PANDEL_SOAP_H_FILE)

#include <cstring>

#define PANDEL_SOAP_JOIN_(a, b, c) a##b##c
#define PANDEL_SOAP_JOIN(a, b, c) PANDEL_SOAP_JOIN_(a, b, c)
#define PANDEL_REPORT_TEXT_TYPE PANDEL_SOAP_JOIN(SOAP_TYPE_, PANDEL_SOAP_NAMESPACE, _xsd__string_)

namespace PANDEL_SOAP_NAMESPACE {

namespace {

// Units are encoded into this much stack at a time before going to the runtime's output.
constexpr std::size_t kEncodeChunkBytes = 512;

} // namespace

void soap_default_xsd__string_(struct soap*, PandelReportText* text) {
    text->units = nullptr;
}

void soap_serialize_xsd__string_(struct soap*, const PandelReportText*) {}

int soap_out_xsd__string_(struct soap* soap, const char* tag, int id, const PandelReportText* text,
                          const char* type) {
    if (soap_element_begin_out(soap, tag, soap_embedded_id(soap, id, text, PANDEL_REPORT_TEXT_TYPE),
                               type))
        return soap->error;
    char chunk[kEncodeChunkBytes];
    std::size_t used = 0;
    for (const char16_t* unit = text->units; unit != nullptr && *unit != u'\0'; ++unit) {
        if (used + pandel::soap::kMaxEncodedUnitBytes > sizeof chunk) {
            if (soap_send_raw(soap, chunk, used))
                return soap->error;
            used = 0;
        }
        used += pandel::soap::EncodeReportUnit(*unit, chunk + used);
    }
    if (used > 0 && soap_send_raw(soap, chunk, used))
        return soap->error;
    return soap_element_end_out(soap, tag);
}

PandelReportText* soap_in_xsd__string_(struct soap* soap, const char* tag, PandelReportText* text,
                                       const char* type) {
    wchar_t* wide = nullptr;
    if (soap_inwstring(soap, tag, &wide, type, PANDEL_REPORT_TEXT_TYPE, 1, 0, -1, nullptr) ==
        nullptr)
        return nullptr;
    if (text == nullptr) {
        text = soap_instantiate_xsd__string_(soap, -1, nullptr, nullptr, nullptr);
        if (text == nullptr)
            return nullptr;
    }
    const std::u16string units = pandel::soap::ReportUnitsFromWide(wide);
    auto* copy = static_cast<char16_t*>(soap_malloc(soap, (units.size() + 1) * sizeof(char16_t)));
    if (copy == nullptr) {
        soap->error = SOAP_EOM;
        return nullptr;
    }
    std::memcpy(copy, units.c_str(), (units.size() + 1) * sizeof(char16_t));
    text->units = copy;
    return text;
}

} // namespace PANDEL_SOAP_NAMESPACE
