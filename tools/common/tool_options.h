// The tools' shared command-line behaviour: --help on standard output with status 0, --version,
// and usage errors that name what was wrong, on standard error with status 2.
#pragma once

#include <cstdint>
#include <string>

namespace pandel::tools {

inline constexpr int kExitUsage = 2;

struct ToolUsage {
    const char* name;     // the program's name, as it prefixes every message
    const char* synopsis; // the usage lines, each ending in a line feed
    const char* details;  // what --help adds after the synopsis (may be empty)
};

// The version every tool reports, the module's own.
const char* ToolVersion();

// Handles --help / -h and --version wherever they stand: prints and exits 0. Returns otherwise.
void HandleHelpAndVersion(const ToolUsage& usage, int argc, char** argv);

// Prints "name: what", the synopsis and a pointer to --help on standard error; exits 2.
[[noreturn]] void UsageError(const ToolUsage& usage, const std::string& what);

// The whole of text as a decimal integer from min to max; a usage error naming option otherwise.
std::int64_t NumberOption(const ToolUsage& usage, const std::string& option, const char* text,
                          std::int64_t min, std::int64_t max);

// The value after option at argv[i] (i is moved onto it); a usage error when there is none.
const char* OptionValue(const ToolUsage& usage, int argc, char** argv, int& i);

// Why path cannot serve as an input file (missing, not a regular file, not readable); empty
// when it can.
std::string InputFileProblem(const std::string& path);

} // namespace pandel::tools
