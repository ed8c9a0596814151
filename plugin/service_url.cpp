// Narrowing the service URL for the report sender.
#include "plugin/service_url.h"

#include <cstring>

namespace pandel {

bool ToNarrowServiceUrl(const std::u16string& url, char (&buffer)[kServiceUrlBufferSize]) {
    std::memset(buffer, 0, sizeof buffer);
    if (url.size() >= kServiceUrlBufferSize)
        return false;
    for (char16_t unit : url) {
        if (unit >= 0x80)
            return false;
    }
    for (std::size_t i = 0; i < url.size(); ++i)
        buffer[i] = static_cast<char>(url[i]);
    return true;
}

} // namespace pandel
