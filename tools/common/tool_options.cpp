// The tools' shared command-line behaviour.
#include "tools/common/tool_options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <getopt.h>
#include <system_error>

namespace pandel::tools {
namespace {

// --help / -h and --version, wherever they stand: printed, and the tool ends with 0.
void HandleHelpAndVersion(const ToolUsage& usage, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::printf("usage: %s%s", usage.synopsis, usage.details);
            std::fflush(stdout);
            std::exit(0);
        }
        if (arg == "--version") {
            std::printf("%s %s\n", usage.name, ToolVersion());
            std::fflush(stdout);
            std::exit(0);
        }
    }
}

} // namespace

const char* ToolVersion() {
    return PANDEL_VERSION;
}

void UsageError(const ToolUsage& usage, const std::string& what) {
    std::fprintf(stderr, "%s: %s\nusage: %sTry '%s --help' for more.\n", usage.name, what.c_str(),
                 usage.synopsis, usage.name);
    std::exit(kExitUsage);
}

std::int64_t NumberOption(const ToolUsage& usage, const std::string& option, const char* text,
                          std::int64_t min, std::int64_t max) {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    const bool whole = end != text && *end == '\0' && errno == 0;
    if (!whole || value < min || value > max) {
        UsageError(usage, option + " takes a whole number from " + std::to_string(min) + " to " +
                              std::to_string(max) + ", not '" + text + "'");
    }
    return value;
}

int ReadOptions(const ToolUsage& usage, int argc, char** argv,
                const std::vector<ToolOption>& options) {
    HandleHelpAndVersion(usage, argc, argv);
    // getopt_long hands back val: each option's index from kFirstId on, clear of every character.
    constexpr int kFirstId = 1000;
    std::vector<option> table;
    for (const ToolOption& known : options)
        table.push_back({known.name, known.takesValue ? required_argument : no_argument, nullptr,
                         kFirstId + static_cast<int>(table.size())});
    table.push_back({nullptr, 0, nullptr, 0});
    opterr = 0; // the messages are ours
    optind = 1;
    // '+': the options end at the first argument that is none; ':': a missing value says so.
    for (;;) {
        const int found = getopt_long(argc, argv, "+:", table.data(), nullptr);
        if (found == -1)
            return optind;
        if (found == '?')
            UsageError(usage, std::string("unknown option ") + argv[optind - 1]);
        if (found == ':')
            UsageError(usage, std::string(argv[optind - 1]) + " needs a value");
        options[static_cast<std::size_t>(found - kFirstId)].take(optarg);
    }
}

void ReadOnlyOptions(const ToolUsage& usage, int argc, char** argv,
                     const std::vector<ToolOption>& options) {
    const int first = ReadOptions(usage, argc, argv, options);
    if (first < argc)
        UsageError(usage, std::string("unknown option ") + argv[first]);
}

std::string InputFileProblem(const std::string& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status))
        return path + " does not exist";
    if (!std::filesystem::is_regular_file(status))
        return path + " is not a regular file";
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return path + " cannot be read";
    return std::string();
}

} // namespace pandel::tools
