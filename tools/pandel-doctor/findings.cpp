// The findings and their two forms, for people and for machines.
#include "tools/pandel-doctor/findings.h"

#include "platform/wide_text.h"
#include "tools/common/json_text.h"

#include <cstdio>
#include <utility>

namespace pandel::doctor {
namespace {

// Length of the valid UTF-8 sequence at text[i], 0 when there is none.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (length == 0 || i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not text either.
    if ((lead == 0xE0 && byte(i + 1) < 0xA0) || (lead == 0xED && byte(i + 1) > 0x9F) ||
        (lead == 0xF0 && byte(i + 1) < 0x90) || (lead == 0xF4 && byte(i + 1) > 0x8F))
        return 0;
    return length;
}

std::string Hex(unsigned char c) {
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
    return escaped;
}

std::string JsonString(const std::string& text) {
    std::string out;
    pandel::tools::AppendJsonString(out, platform::Utf8ToUtf16(text));
    return out;
}

// Each mark as the text report shows it and as JSON names it, in the order of Mark.
constexpr struct {
    const char* text;
    const char* name;
} kMarkWords[] = {{"[ ok ]", "ok"}, {"[warn]", "warn"}, {"[FAIL]", "fail"}};

const char* MarkText(Mark mark) {
    return kMarkWords[static_cast<int>(mark)].text;
}

const char* MarkName(Mark mark) {
    return kMarkWords[static_cast<int>(mark)].name;
}

} // namespace

std::string Shown(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        const std::size_t length = c >= 0x80 ? Utf8SequenceLength(text, i) : 0;
        // C1 controls (U+0080..U+009F) act on terminals too.
        const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (length == 0 || c1) {
            out += Hex(c);
            ++i;
            continue;
        }
        out.append(text, i, length);
        i += length;
    }
    return out;
}

void Findings::Ok(std::string check, std::string text) {
    findings_.push_back({Mark::Ok, std::move(check), std::move(text), std::string()});
}

void Findings::Warn(std::string check, std::string text, std::string fix) {
    findings_.push_back({Mark::Warn, std::move(check), std::move(text), std::move(fix)});
}

void Findings::Fail(std::string check, std::string text, std::string fix) {
    findings_.push_back({Mark::Fail, std::move(check), std::move(text), std::move(fix)});
}

bool Findings::Ready() const {
    for (const Finding& finding : findings_) {
        if (finding.mark == Mark::Fail)
            return false;
    }
    return true;
}

std::string Findings::AsText() const {
    std::string out;
    for (const Finding& finding : findings_) {
        out += std::string(MarkText(finding.mark)) + " " + finding.check + ": " + finding.text;
        if (!finding.fix.empty())
            out += " -- fix: " + finding.fix;
        out += "\n";
    }
    out += Ready() ? "ready: a Download could run and report\n"
                   : "not ready: a Download could not run or could not report (see [FAIL])\n";
    return out;
}

std::string Findings::AsJson() const {
    std::string out =
        std::string("{\"ready\": ") + (Ready() ? "true" : "false") + ", \"findings\": [";
    for (std::size_t i = 0; i < findings_.size(); ++i) {
        const Finding& finding = findings_[i];
        out += i == 0 ? "\n  " : ",\n  ";
        out += "{\"check\": " + JsonString(finding.check) + ", \"status\": \"" +
               MarkName(finding.mark) + "\", \"text\": " + JsonString(finding.text) +
               ", \"fix\": " + JsonString(finding.fix) + "}";
    }
    return out + "\n]}\n";
}

} // namespace pandel::doctor
