// Shared libraries on POSIX: dlopen and dlsym.
#include "platform/shared_library.h"

#include <dlfcn.h>
#include <utility>

namespace pandel::platform {

std::string SharedLibraryFileName(const std::string& name) {
    return "lib" + name + ".so";
}

SharedLibrary::~SharedLibrary() {
    if (handle_ != nullptr)
        dlclose(handle_);
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
    if (this != &other) {
        if (handle_ != nullptr)
            dlclose(handle_);
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

SharedLibrary SharedLibrary::Open(const std::string& nameOrPath) {
    return SharedLibrary(dlopen(nameOrPath.c_str(), RTLD_NOW | RTLD_LOCAL));
}

void* SharedLibrary::Symbol(const std::string& name) const {
    return handle_ != nullptr ? dlsym(handle_, name.c_str()) : nullptr;
}

std::string SharedLibrary::Error() {
    const char* text = dlerror();
    return text != nullptr ? text : "";
}

} // namespace pandel::platform
