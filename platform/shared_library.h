// Loading a shared library and finding its functions by name. Compile-time only: tests load real
// libraries.
#pragma once

#include <string>

namespace pandel::platform {

// The file name this system gives the shared library called name: "libLibUpload.so" on POSIX,
// "LibUpload.dll" on Windows, for the name "LibUpload".
std::string SharedLibraryFileName(const std::string& name);

class SharedLibrary {
public:
    SharedLibrary() = default;
    ~SharedLibrary();
    SharedLibrary(SharedLibrary&& other) noexcept;
    SharedLibrary& operator=(SharedLibrary&& other) noexcept;
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Loads the library by file name (searched as the system searches) or path. An empty
    // object when it cannot be loaded; Error() then tells why.
    static SharedLibrary Open(const std::string& nameOrPath);

    bool IsOpen() const { return handle_ != nullptr; }

    // Address of the exported symbol, or null when the library lacks it.
    void* Symbol(const std::string& name) const;

    // Lets go of the library without unloading it: it stays loaded for the life of the process.
    void KeepLoaded() { handle_ = nullptr; }

    // The system's text for the last failure to open or to find a symbol on this thread.
    static std::string Error();

private:
    explicit SharedLibrary(void* handle) : handle_(handle) {}
    void* handle_ = nullptr;
};

} // namespace pandel::platform
