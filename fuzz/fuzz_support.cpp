#include "fuzz/fuzz_support.h"

#include "platform/wide_text.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace pandel::fuzz {

std::u16string TextFromBytes(const std::string& bytes) {
    if (bytes.empty() || static_cast<unsigned char>(bytes[0]) != 0xFF)
        return platform::Utf8ToUtf16(bytes);
    std::u16string text;
    for (std::size_t i = 1; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return text;
}

const std::string& ScratchDirectory() {
    static const std::string dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/pandel-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("no scratch directory");
        return pattern;
    }();
    return dir;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

void SilenceStandardOutput() {
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        std::abort();
}

} // namespace pandel::fuzz
