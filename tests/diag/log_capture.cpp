// Reading back DbgLog's real log file.
#include "tests/diag/log_capture.h"

#include "diag/log_module.h"
#include "platform/platform.h"
#include "platform/wide_text.h"
#include "tests/support/temp_root.h"

#include <sys/stat.h>

namespace pandel::test {

DbgLogCapture::DbgLogCapture() : path_(platform::Real().FixedPlacePath(kLogFilePath)) {
    struct stat info {};
    available_ = stat(path_.c_str(), &info) == 0;
    offset_ = available_ ? static_cast<std::size_t>(info.st_size) : 0;
}

std::string DbgLogCapture::Appended() {
    std::string content = ReadFile(path_);
    std::string appended = content.size() > offset_ ? content.substr(offset_) : std::string();
    offset_ = content.size();
    return appended;
}

std::string DbgLogCapture::Entry(const std::u16string& message) {
    return "[09:05:03][DbgPlugin]INFO:" + platform::Utf16ToUtf8(message) + "\r\n";
}

std::u16string Decimal(std::uint32_t code) {
    return platform::Utf8ToUtf16(std::to_string(static_cast<std::int32_t>(code)));
}

} // namespace pandel::test
