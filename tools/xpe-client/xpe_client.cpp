// The stand-in imaging client library. Each function journals its call to the file named by
// XPE_CLIENT_JOURNAL, then answers as the file named by XPE_CLIENT_SCRIPT says (read afresh at
// every call):
//   <FunctionName> <result>        return that result
//   <FunctionName> fault <kind>    commit a processor fault: segv, fpe or ill
//   <FunctionName> run <command>   run the rest of the line with the system's shell, as an
//                                  imaging library that starts a program does; then unscripted
// The first line naming a function counts. Unscripted functions succeed: 0 from
// CheckFilesExistWhenUpload and the task calls, 1 from CheckSupportNC and CheckUpdateUserExist,
// 1 adapter from GetAdapterCount (the integer it is given is left as it is).
// Journal lines: the function name, then its arguments separated by single spaces; text as UTF-8
// in double quotes (backslash, quote and control characters escaped as \\ \" \n \r \t \xNN), a
// null pointer as null, numbers in decimal. GetAdapterCount journals no argument.
#include "platform/wide_text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// No text argument of the module is near this long; a missing terminator stops here.
constexpr std::size_t kMaxTextUnits = 65536;

std::string Quoted(const char16_t* text) {
    if (text == nullptr)
        return "null";
    std::size_t length = 0;
    while (length < kMaxTextUnits && text[length] != u'\0')
        ++length;
    std::string out = "\"";
    for (unsigned char c : pandel::platform::Utf16ToUtf8(std::u16string_view(text, length))) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escaped[5];
                std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string Number(std::int32_t value) {
    return std::to_string(value);
}

void Journal(const std::string& line) {
    const char* path = std::getenv("XPE_CLIENT_JOURNAL");
    if (path == nullptr || *path == '\0')
        return;
    std::FILE* file = std::fopen(path, "ab");
    if (file == nullptr)
        return;
    const std::string whole = line + "\n";
    // One write per line: the stream's buffer holds the whole line, so concurrent writers never
    // interleave inside a line.
    std::setvbuf(file, nullptr, _IOFBF, whole.size());
    std::fwrite(whole.data(), 1, whole.size(), file);
    std::fclose(file);
}

enum class Fault { None, Segv, Fpe, Ill };

struct Scripted {
    bool present = false;
    std::int32_t result = 0;
    Fault fault = Fault::None;
    std::string command; // run before answering as unscripted
};

Scripted Lookup(const char* function) {
    const char* path = std::getenv("XPE_CLIENT_SCRIPT");
    if (path == nullptr || *path == '\0')
        return {};
    std::ifstream script(path);
    std::string line;
    while (std::getline(script, line)) {
        std::istringstream words(line);
        std::string name, value, kind;
        if (!(words >> name >> value) || name != function)
            continue;
        Scripted answer;
        answer.present = true;
        if (value == "run") {
            std::getline(words >> std::ws, answer.command);
            answer.present = false;
            return answer;
        }
        if (value == "fault") {
            words >> kind;
            if (kind == "segv")
                answer.fault = Fault::Segv;
            else if (kind == "fpe")
                answer.fault = Fault::Fpe;
            else if (kind == "ill")
                answer.fault = Fault::Ill;
            else
                answer.present = false; // an unknown kind: behave as unscripted
            return answer;
        }
        try {
            std::size_t used = 0;
            long long number = std::stoll(value, &used);
            if (used != value.size() || number < INT32_MIN || number > INT32_MAX)
                continue;
            answer.result = static_cast<std::int32_t>(number);
        } catch (const std::exception&) {
            continue;
        }
        return answer;
    }
    return {};
}

// Volatile keeps each fault out of the optimiser's reach.
[[noreturn]] void CommitFault(Fault fault) {
    switch (fault) {
    case Fault::Segv: {
        int* volatile target = nullptr;
        *target = 1;
        break;
    }
    case Fault::Fpe: {
        volatile int zero = 0;
        volatile int quotient = 1 / zero;
        (void)quotient;
        break;
    }
    case Fault::Ill:
    case Fault::None:
        break;
    }
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("ud2");
#endif
    __builtin_trap();
}

std::int32_t Answer(const char* function, const std::string& journalLine, std::int32_t unscripted) {
    Journal(journalLine);
    Scripted scripted = Lookup(function);
    if (!scripted.command.empty()) {
        const int status = std::system(scripted.command.c_str()); // the program's own outcome
        (void)status;
    }
    if (scripted.fault != Fault::None)
        CommitFault(scripted.fault);
    return scripted.present ? scripted.result : unscripted;
}

} // namespace

#define XPE_EXPORT extern "C" __attribute__((visibility("default")))

XPE_EXPORT std::int32_t CheckFilesExistWhenUpload() {
    return Answer("CheckFilesExistWhenUpload", "CheckFilesExistWhenUpload", 0);
}

XPE_EXPORT std::int32_t CheckSupportNC() {
    return Answer("CheckSupportNC", "CheckSupportNC", 1);
}

XPE_EXPORT std::int32_t CheckUpdateUserExist() {
    return Answer("CheckUpdateUserExist", "CheckUpdateUserExist", 1);
}

XPE_EXPORT std::int32_t UploadByNC(const char16_t* serverAddr, const char16_t* serverPort,
                                   const char16_t* scope, std::int32_t adapter) {
    return Answer("UploadByNC",
                  "UploadByNC " + Quoted(serverAddr) + " " + Quoted(serverPort) + " " +
                      Quoted(scope) + " " + Number(adapter),
                  0);
}

XPE_EXPORT std::int32_t UploadImgWithAdapter(std::int32_t adapter, const char16_t* scope) {
    return Answer("UploadImgWithAdapter",
                  "UploadImgWithAdapter " + Number(adapter) + " " + Quoted(scope), 0);
}

XPE_EXPORT std::int32_t RestoreByNC(const char16_t* serverAddr, const char16_t* serverPort,
                                    std::int32_t adapter) {
    return Answer(
        "RestoreByNC",
        "RestoreByNC " + Quoted(serverAddr) + " " + Quoted(serverPort) + " " + Number(adapter), 0);
}

XPE_EXPORT std::int32_t RestoreImgWithAdapter(std::int32_t adapter) {
    return Answer("RestoreImgWithAdapter", "RestoreImgWithAdapter " + Number(adapter), 0);
}

XPE_EXPORT std::int32_t GetAdapterCount(std::int32_t* /*count*/) {
    return Answer("GetAdapterCount", "GetAdapterCount", 1);
}

XPE_EXPORT std::int32_t EnableAdapter(std::int32_t adapter, std::int32_t enable) {
    return Answer("EnableAdapter", "EnableAdapter " + Number(adapter) + " " + Number(enable), 0);
}
