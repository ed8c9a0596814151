// The imaging library's nine functions, found by name in the loaded library.
#include "plugin/imaging_client.h"

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
    return Import(library, "CheckFilesExistWhenUpload", client.CheckFilesExistWhenUpload) &&
           Import(library, "CheckSupportNC", client.CheckSupportNC) &&
           Import(library, "CheckUpdateUserExist", client.CheckUpdateUserExist) &&
           Import(library, "UploadByNC", client.UploadByNC) &&
           Import(library, "UploadImgWithAdapter", client.UploadImgWithAdapter) &&
           Import(library, "RestoreByNC", client.RestoreByNC) &&
           Import(library, "RestoreImgWithAdapter", client.RestoreImgWithAdapter) &&
           Import(library, "GetAdapterCount", client.GetAdapterCount) &&
           Import(library, "EnableAdapter", client.EnableAdapter);
}

} // namespace

const ImagingClient* LoadImagingClient() {
    // A failed load is tried again on the next use: the library may be installed meanwhile.
    static std::mutex mutex;
    static platform::SharedLibrary library;
    static ImagingClient client;
    std::lock_guard<std::mutex> hold(mutex);
    if (library.IsOpen())
        return &client;
    platform::SharedLibrary opened =
        platform::SharedLibrary::Open(platform::SharedLibraryFileName(kImagingLibraryName));
    if (!opened.IsOpen() || !ImportAll(opened, client))
        return nullptr;
    library = std::move(opened);
    return &client;
}

} // namespace pandel
