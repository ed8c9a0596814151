// The imaging library's nine functions, found by name in the loaded library.
#include "plugin/imaging_client.h"

#include "platform/platform.h"
#include "platform/shared_library.h"

#include <mutex>
#include <utility>

namespace pandel {
namespace {

// Casts the symbol to the type of the slot it fills; false when the library lacks it.
template <typename Function>
bool Import(const platform::SharedLibrary& library, const char* name, Function& slot) {
    void* symbol = library.Symbol(name);
    slot = reinterpret_cast<Function>(symbol);
    return symbol != nullptr;
}

bool ImportAll(const platform::SharedLibrary& library, ImagingClient& client) {
    const auto& names = kImagingFunctionNames;
    return Import(library, names[0], client.CheckFilesExistWhenUpload) &&
           Import(library, names[1], client.CheckSupportNC) &&
           Import(library, names[2], client.CheckUpdateUserExist) &&
           Import(library, names[3], client.UploadByNC) &&
           Import(library, names[4], client.UploadImgWithAdapter) &&
           Import(library, names[5], client.RestoreByNC) &&
           Import(library, names[6], client.RestoreImgWithAdapter) &&
           Import(library, names[7], client.GetAdapterCount) &&
           Import(library, names[8], client.EnableAdapter);
}

std::string ImagingLibraryFileName() {
    return platform::SharedLibraryFileName(kImagingLibraryName);
}

} // namespace

ImagingLibraryFinding InspectImagingLibrary() {
    ImagingLibraryFinding finding;
    platform::SharedLibrary library = platform::SharedLibrary::Open(ImagingLibraryFileName());
    if (!library.IsOpen()) {
        finding.error = platform::SharedLibrary::Error();
        return finding;
    }
    finding.loaded = true;
    finding.path = platform::Current().LoadedLibraryPath(ImagingLibraryFileName());
    for (std::size_t i = 0; i < kImagingFunctionCount; ++i)
        finding.exported[i] = library.Symbol(kImagingFunctionNames[i]) != nullptr;
    return finding;
}

const ImagingClient* LoadImagingClient() {
    // A failed load is tried again on the next use: the library may be installed meanwhile.
    static std::mutex mutex;
    static platform::SharedLibrary library;
    static ImagingClient client;
    std::lock_guard<std::mutex> hold(mutex);
    if (library.IsOpen())
        return &client;
    platform::SharedLibrary opened = platform::SharedLibrary::Open(ImagingLibraryFileName());
    if (!opened.IsOpen() || !ImportAll(opened, client))
        return nullptr;
    library = std::move(opened);
    return &client;
}

} // namespace pandel
