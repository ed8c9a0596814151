// A shared object that holds the report sender as the module's library does: the SOAP runtime
// and the generated code must link into one and stay inside it.
#include "report/report_sender.h"

extern "C" __attribute__((visibility("default"))) int
ReportModuleSend(const char* url, const char16_t* report, std::int32_t* result) {
    return pandel::SendReport(url, report, result);
}
