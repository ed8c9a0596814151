// What the module's DbgLog channel appends to its real log file, read back for exact checks.
// The file is the one DbgLog opened when the program started ($PANDEL_ROOT/C/runtime.log).
// Other processes of the same test program may append to it at the same time, so checks look
// for whole entries in what was appended.
#pragma once

#include "tests/support/fake_platform.h"

#include <cstdint>
#include <string>

namespace pandel::test {

class DbgLogCapture {
public:
    DbgLogCapture(); // installs a FakePlatform: entries carry its local time, 09:05:03
    bool Available() const { return available_; }
    // The bytes appended since construction or the last call.
    std::string Appended();
    // The file bytes of one DbgLog entry with this message.
    static std::string Entry(const std::u16string& message);
    ScopedFakePlatform fake;

private:
    std::string path_;
    std::size_t offset_ = 0;
    bool available_ = false;
};

// A code as the report shows it: signed decimal.
std::u16string Decimal(std::uint32_t code);

} // namespace pandel::test
