// The one place of pandel-host that knows the plug-in's ErrObj type: a small library, linked
// against the plug-in and loaded only when a command is delivered, so that the plug-in is not
// loaded (and says nothing) before pandel-host has loaded it itself.
#pragma once

#include "plugin/host_command.h"

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define PANDEL_HOST_CATCH_EXPORT extern "C" __declspec(dllexport)
#else
#define PANDEL_HOST_CATCH_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The library's name; the platform gives its file name. It lives beside pandel-host.
inline constexpr const char* kHostCatchLibraryName = "pandel-host-catch";
inline constexpr const char* kHostCatchFunctionName = "PandelHostPostCommand";

// Calls post(command). Returns 0 with *result set when it returned, 1 when an ErrObj escaped:
// *code then holds its code and description its text (UTF-8, cut to descriptionSize with its
// terminator). Any other exception passes through.
using HostCatchFunction = int (*)(std::int32_t (*post)(pandel::IHostCommand*),
                                  pandel::IHostCommand* command, std::int32_t* result,
                                  std::int32_t* code, char* description,
                                  std::size_t descriptionSize);
