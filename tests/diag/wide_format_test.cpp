// The UTF-16 formatter: what each conversion gives, and that every misuse is a format error
// (an empty result) rather than a read of the wrong argument.
#include "diag/log_module.h"
#include "diag/wide_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

namespace {

using pandel::CLogModule;

template <typename... Args> std::u16string F(const char16_t* format, const Args&... args) {
    return CLogModule::FormatString(format, args...);
}

TEST(WideFormat, Conversions) {
    const std::u16string text = u"text";
    const char16_t* nullText = nullptr;
    struct Row {
        std::u16string got;
        std::u16string expected;
    } const rows[] = {
        {F(u"no conversion"), u"no conversion"},
        {F(u"100%%"), u"100%"},
        {F(u"%d %i", 42, -42), u"42 -42"},
        {F(u"%d", INT32_MIN), u"-2147483648"},
        {F(u"%d", 0xC0000005u), u"-1073741819"}, // a 32-bit code read as printf reads it
        {F(u"%u", -1), u"4294967295"},
        {F(u"%d", std::int64_t{-5000000000}), u"-5000000000"},
        {F(u"%lu %lld %hd", 1ul, 2ll, short{3}), u"1 2 3"},
        {F(u"%x %X %#x %#X %#x", 255, 255, 255, 255, 0), u"ff FF 0xff 0XFF 0"},
        {F(u"[%02d:%02d:%02d]", 9, 5, 3), u"[09:05:03]"},
        {F(u"[%5d][%-5d][%05d][%+d][% d]", 42, 42, -42, 42, 42),
         u"[   42][42   ][-0042][+42][ 42]"},
        {F(u"[%.3d][%6.3d][%.0d]", 7, -7, 0), u"[007][  -007][]"},
        {F(u"%s|%s", u"wide", text), u"wide|text"},
        {F(u"%s", "narrow caf\xC3\xA9"), u"narrow caf\u00e9"},
        {F(u"%s", std::string("std")), u"std"},
        {F(u"%s", nullText), u"(null)"},
        {F(u"[%6s][%-6s][%.2s]", u"ab", u"ab", u"abc"), u"[    ab][ab    ][ab]"},
        {F(u"%c%c", u'O', 0x4B), u"OK"},
        {F(u"%s", u"%d %s %%"), u"%d %s %%"}, // text arguments are not formatted again
        {F(u"%d", 1, u"extra"), u"1"},
        {F(u"%1024d", 1).size() == 1024 ? u"wide field" : u"", u"wide field"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.got, row.expected);
}

TEST(WideFormat, MisuseIsAFormatError) {
    const std::u16string errors[] = {
        F(u"%d"),                   // missing argument
        F(u"%d %d", 1),             // one missing
        F(u"%s", 5),                // integer for text
        F(u"%d", u"text"),          // text for integer
        F(u"%c", u"x"),             // text for a character
        F(u"%n", 0),                // never writes through an argument
        F(u"%f", 1),                // no floating point
        F(u"%p", 1),                // nor pointers
        F(u"trailing %"),           // '%' ends the format
        F(u"%1025d", 1),            // field too wide
        F(u"%.99999999999s", u"x"), // precision too wide, without overflow
    };
    for (const std::u16string& result : errors)
        EXPECT_EQ(result, u"");
}

TEST(WideFormat, OutputIsCutAtTheLimit) {
    const std::u16string text(2000, u'x');
    const pandel::FormatArg args[] = {pandel::FormatArg(text)};
    EXPECT_EQ(pandel::FormatWide(u"ab%s", args, 1, 1023), u"ab" + std::u16string(1021, u'x'));
    EXPECT_EQ(pandel::FormatWide(u"ab%s", args, 1, 1), u"a");
    // What follows the cut is not looked at, so it cannot turn the text into an error.
    EXPECT_EQ(pandel::FormatWide(u"abc%d", args, 0, 2), u"ab");
}

} // namespace
