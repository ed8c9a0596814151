// The UTF-16 formatter: what the conversions give, the cut at a limit, and that every misuse is
// a format error (an empty result) rather than a read of the wrong argument.
#include "diag/log_module.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

template <typename... Args> std::u16string F(const char16_t* format, const Args&... args) {
    return pandel::CLogModule::FormatString(format, args...);
}

TEST(WideFormat, ConversionsAndErrors) {
    const char16_t* nullText = nullptr;
    const std::u16string long1030(1030, u'y');
    const pandel::FormatArg longArg(long1030);
    struct Row {
        std::u16string got;
        std::u16string expected;
    } const rows[] = {
        {F(u"%d %i %u", 42, -42, -1), u"42 -42 4294967295"},
        {F(u"%d", 0xC0000005u), u"-1073741819"}, // a 32-bit code read as printf reads it
        {F(u"%ld", std::int64_t{-5000000000}), u"-5000000000"},
        {F(u"%x %#X", 255, 255), u"ff 0XFF"},
        {F(u"[%5d][%-3d][%05d][%+d][%.3d]", 42, 4, -42, 4, 7), u"[   42][4  ][-0042][+4][007]"},
        {F(u"%s|%s|%s", u"wide", "caf\xC3\xA9", nullText), u"wide|caf\u00e9|(null)"},
        {F(u"[%4s][%.2s]%c", u"ab", u"abc", 0x4B), u"[  ab][ab]K"},
        {F(u"%s 100%%", u"%d %s"), u"%d %s 100%"}, // text arguments are not formatted again
        {F(u"%d", 1, u"extra"), u"1"},
        // Format errors: missing or mismatched arguments, conversions that are not supported
        // (%n never writes anywhere), a trailing '%', fields wider than kMaxFieldWidth.
        {F(u"%d %d", 1) + F(u"%s", 5) + F(u"%d", u"x") + F(u"%c", u"x"), u""},
        {F(u"%n", 0) + F(u"%f", 1) + F(u"%p", 1) + F(u"x %"), u""},
        {F(u"%1025d", 1) + F(u"%.99999999999s", u"x"), u""},
        {F(u"%1024d", 1).substr(1020), u"   1"},
        {pandel::FormatWide(u"ab%s%d", &longArg, 1, 1023),
         u"ab" + long1030.substr(0, 1021)}, // what follows the cut is not looked at
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.got, row.expected);
}

} // namespace
