// The imaging client library's nine functions, imported by name from its shared library
// (libXPePandelClient.so, XPePandelClient.dll).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace pandel {

// The imaging library's name; the platform gives its file name, which the loader searches for.
inline constexpr const char* kImagingLibraryName = "XPePandelClient";

// Text arguments are NUL-terminated UTF-16; scope may be null.
struct ImagingClient {
    std::int32_t (*CheckFilesExistWhenUpload)();
    std::int32_t (*CheckSupportNC)();
    std::int32_t (*CheckUpdateUserExist)();
    std::int32_t (*UploadByNC)(const char16_t* serverAddr, const char16_t* serverPort,
                               const char16_t* scope, std::int32_t adapter);
    std::int32_t (*UploadImgWithAdapter)(std::int32_t adapter, const char16_t* scope);
    std::int32_t (*RestoreByNC)(const char16_t* serverAddr, const char16_t* serverPort,
                                std::int32_t adapter);
    std::int32_t (*RestoreImgWithAdapter)(std::int32_t adapter);
    std::int32_t (*GetAdapterCount)(std::int32_t* count);
    std::int32_t (*EnableAdapter)(std::int32_t adapter, std::int32_t enable);
};

// The nine functions' names, in the order of ImagingClient's members.
inline constexpr std::size_t kImagingFunctionCount = 9;
inline constexpr std::array<const char*, kImagingFunctionCount> kImagingFunctionNames = {
    "CheckFilesExistWhenUpload",
    "CheckSupportNC",
    "CheckUpdateUserExist",
    "UploadByNC",
    "UploadImgWithAdapter",
    "RestoreByNC",
    "RestoreImgWithAdapter",
    "GetAdapterCount",
    "EnableAdapter"};

// The imaging library as the module would load it now.
struct ImagingLibraryFinding {
    bool loaded = false;
    std::string path;                                   // where the loader found it, when loaded
    std::string error;                                  // the loader's reason, when not loaded
    std::array<bool, kImagingFunctionCount> exported{}; // per kImagingFunctionNames
};
ImagingLibraryFinding InspectImagingLibrary();

// The imaging library's functions, imported on first use and kept while the module is loaded;
// null when the library or one of its functions cannot be found (the next call tries again).
const ImagingClient* LoadImagingClient();

} // namespace pandel
