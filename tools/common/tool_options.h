// The tools' shared command-line behaviour: --help on standard output with status 0, --version,
// and usage errors that name what was wrong, on standard error with status 2.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pandel::tools {

inline constexpr int kExitUsage = 2;

struct ToolUsage {
    const char* name;     // the program's name, as it prefixes every message
    const char* synopsis; // the usage lines, each ending in a line feed
    const char* details;  // what --help adds after the synopsis (may be empty)
};

// The version every tool reports, the module's own.
const char* ToolVersion();

// Prints "name: what", the synopsis and a pointer to --help on standard error; exits 2.
[[noreturn]] void UsageError(const ToolUsage& usage, const std::string& what);

// The whole of text as a decimal integer from min to max; a usage error naming option otherwise.
std::int64_t NumberOption(const ToolUsage& usage, const std::string& option, const char* text,
                          std::int64_t min, std::int64_t max);

// One option a tool takes: "--name" alone, or "--name VALUE" / "--name=VALUE", and what to do
// with it (value is null for a flag).
struct ToolOption {
    const char* name; // without the dashes
    bool takesValue;
    std::function<void(const char* value)> take;
};

// Handles --help / -h and --version wherever they stand (prints, exits 0), then reads the
// options at the front of argv with getopt_long, handing each to its take; an unknown option, or
// one without its value, is a usage error. Returns the index of the first argument that is no
// option.
int ReadOptions(const ToolUsage& usage, int argc, char** argv,
                const std::vector<ToolOption>& options);

// The same for a tool that takes options only: any other argument is a usage error.
void ReadOnlyOptions(const ToolUsage& usage, int argc, char** argv,
                     const std::vector<ToolOption>& options);

// Why path cannot serve as an input file (missing, not a regular file, not readable); empty
// when it can.
std::string InputFileProblem(const std::string& path);

} // namespace pandel::tools
