// Marks the few types that a host built apart from the module must see: their type information
// and virtual tables are exported from the shared library, everything else stays hidden. On
// Windows a host that only declares them resolves them through the library's import library.
#pragma once

#if defined(_WIN32)
#define PANDEL_VISIBLE __declspec(dllexport)
#else
#define PANDEL_VISIBLE __attribute__((visibility("default")))
#endif
