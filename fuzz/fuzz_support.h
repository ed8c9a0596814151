// What the fuzz targets share: turning bytes into the module's text, and a scratch directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pandel::fuzz {

// Text from fuzzer bytes. Input that starts with 0xFF is raw UTF-16LE after that byte (lone
// surrogates, NULs and all); anything else is UTF-8, so seeds stay readable.
std::u16string TextFromBytes(const std::string& bytes);

// A fresh directory under $TMPDIR (or /tmp) for this process, made once; ends without '/'.
const std::string& ScratchDirectory();

// Writes bytes to path whole, replacing the file; false when that failed.
bool WriteFile(const std::string& path, const std::string& bytes);

// Sends standard output to /dev/null: the module prints endpoints and proxy diagnostics.
void SilenceStandardOutput();

} // namespace pandel::fuzz
