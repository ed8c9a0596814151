// SOAP runtime contexts, and what the toolkit's runtime needs from the program linking it.
#include "report/soap_runtime.h"

#include <stdsoap2.h>

// The runtime refers to a global namespace table by name. Every context of this system gets
// the table of its own side in NewContext, so this one stays empty.
SOAP_NMAC struct Namespace namespaces[] = {{nullptr, nullptr, nullptr, nullptr}};

namespace pandel::soap {

struct ::soap* NewContext(const struct ::Namespace* table) {
    struct ::soap* context = soap_new();
    if (context == nullptr)
        return nullptr;
    if (soap_set_namespaces(context, table) != SOAP_OK) {
        ReleaseContext(context);
        return nullptr;
    }
    return context;
}

void ReleaseContext(struct ::soap* context) {
    if (context == nullptr)
        return;
    soap_clr_mime(context);
    soap_destroy(context);
    // What soap_end would do but for its sweep of the temporary data and the runtime's two hash
    // tables (several thousand slots), which finalising repeats anyway.
    soap_dealloc(context, nullptr);
    soap_closesock(context);
    soap_free(context); // frees the temporary data, finalises the context, then frees it
}

} // namespace pandel::soap
