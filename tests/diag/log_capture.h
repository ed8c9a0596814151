// Reads back what the module's DbgLog channel appends to the log file it opened at start
// ($PANDEL_ROOT/C/runtime.log). Other processes of the same test program may append at the same
// time, so checks look for whole entries in what was appended. Entries carry the fake
// platform's local time, 09:05:03.
#pragma once

#include "diag/log_module.h"
#include "harness/fake_platform.h"
#include "platform/wide_text.h"
#include "tests/support/temp_root.h"

#include <string>

namespace pandel::test {

class DbgLogCapture {
public:
    DbgLogCapture() : path_(platform::Real().FixedPlacePath(kLogFilePath)) {
        std::string content = ReadFile(path_);
        offset_ = content.size();
    }
    // The bytes appended since construction or the last call.
    std::string Appended() {
        std::string content = ReadFile(path_);
        std::string appended = content.size() > offset_ ? content.substr(offset_) : "";
        offset_ = content.size();
        return appended;
    }
    static std::string Entry(const std::u16string& message) {
        return "[09:05:03][DbgPlugin]INFO:" + platform::Utf16ToUtf8(message) + "\r\n";
    }
    ScopedFakePlatform fake;

private:
    std::string path_;
    std::size_t offset_ = 0;
};

} // namespace pandel::test
