// Read by the SOAP runtime's header before anything else of its own (SOAPDEFS_H). The runtime
// copies a duplicate id onto itself, which strncpy leaves undefined; a copy that allows the two
// to overlap takes the C library's place, with the same result for every other copy.
#pragma once

#include <stddef.h>
#include <string.h>

#define HAVE_STRLCPY

static inline size_t pandel_soap_strlcpy(char* dst, const char* src, size_t size) {
    const size_t length = strlen(src);
    if (size > 0) {
        const size_t n = length < size - 1 ? length : size - 1;
        memmove(dst, src, n);
        dst[n] = '\0';
    }
    return length;
}
#define strlcpy pandel_soap_strlcpy
