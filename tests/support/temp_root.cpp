// Temporary roots and file helpers for tests (tests may use the system directly).
#include "tests/support/temp_root.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace pandel::test {

namespace fs = std::filesystem;

#ifdef _WIN32
namespace {
// The three POSIX calls used below, for the Windows build of the tests.
int setenv(const char* name, const char* value, int) {
    return _putenv_s(name, value);
}
int unsetenv(const char* name) {
    return _putenv_s(name, ""); // an empty value removes the variable
}
char* mkdtemp(char* pattern) {
    std::string text(pattern);
    const std::size_t xs = text.rfind("XXXXXX");
    if (xs == std::string::npos)
        return nullptr;
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (std::size_t i = 0; i < 6; ++i)
            text[xs + i] = "abcdefghijklmnopqrstuvwxyz0123456789"[random() % 36];
        std::error_code error;
        if (fs::create_directory(text, error)) {
            text.copy(pattern, text.size());
            return pattern;
        }
    }
    return nullptr;
}
} // namespace
#endif

TempRoot::TempRoot() {
    const char* previous = std::getenv("PANDEL_ROOT");
    if (previous != nullptr) {
        hadPreviousRoot_ = true;
        previousRoot_ = previous;
    }
    std::string pattern = (fs::temp_directory_path() / "pandel-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    fs::create_directories(path_ + "/C");
    setenv("PANDEL_ROOT", path_.c_str(), 1);
}

TempRoot::~TempRoot() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
    if (hadPreviousRoot_)
        setenv("PANDEL_ROOT", previousRoot_.c_str(), 1);
    else
        unsetenv("PANDEL_ROOT");
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    fs::path p(path);
    if (p.has_parent_path())
        fs::create_directories(p.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

void MakeDirectories(const std::string& path) {
    fs::create_directories(path);
}

} // namespace pandel::test
