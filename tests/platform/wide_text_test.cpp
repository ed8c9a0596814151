#include "platform/wide_text.h"

#include <gtest/gtest.h>

namespace platform = pandel::platform;

namespace {

using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;

TEST(WideText, RoundTripsEveryLengthOfSequence) {
    const std::u16string text = u"A\u00E9\u4E2D\U0001F600z";
    const std::string utf8 = "A\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80z";
    EXPECT_EQ(Utf16ToUtf8(text), utf8);
    EXPECT_EQ(Utf8ToUtf16(utf8), text);
}

TEST(WideText, LoneSurrogatesBecomeReplacementCharacter) {
    const std::string kFffd = "\xEF\xBF\xBD";
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), kFffd);
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', char16_t(0xDC00), u'b'}), "a" + kFffd + "b");
    // A high surrogate followed by a non-surrogate is lone too; the next unit survives.
    EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xDBFF), u'x'}), kFffd + "x");
}

TEST(WideText, MalformedUtf8BecomesReplacementCharacter) {
    const std::u16string r(1, char16_t(0xFFFD));
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), r + r);                 // overlong
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), r + r + r);         // encoded surrogate
    EXPECT_EQ(Utf8ToUtf16("a\xE4\xB8"), u"a" + r + r);         // truncated at the end
    EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), r + r + r + r); // beyond U+10FFFF
    EXPECT_EQ(Utf8ToUtf16(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

// Every sequence of up to three units from the boundaries of each encoded length and of the
// surrogate ranges: the conversion sizes its output before filling it, so each mix must come
// back whole, with exactly the lone surrogates replaced.
TEST(WideText, EveryShortMixOfBoundaryUnitsRoundTrips) {
    const char16_t units[] = {0x0000, 0x0041, 0x007F, 0x0080, 0x07FF, 0x0800, 0xD7FF,
                              0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF};
    const std::size_t n = sizeof units / sizeof units[0];
    auto high = [](char16_t u) { return u >= 0xD800 && u <= 0xDBFF; };
    auto low = [](char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; };
    for (std::size_t length = 0; length <= 3; ++length) {
        std::size_t combinations = 1;
        for (std::size_t k = 0; k < length; ++k)
            combinations *= n;
        for (std::size_t index = 0; index < combinations; ++index) {
            std::u16string text;
            for (std::size_t k = 0, rest = index; k < length; ++k, rest /= n)
                text.push_back(units[rest % n]);
            std::u16string expected = text;
            for (std::size_t i = 0; i < expected.size(); ++i) {
                if (high(expected[i]) && i + 1 < expected.size() && low(expected[i + 1]))
                    ++i;
                else if (high(expected[i]) || low(expected[i]))
                    expected[i] = 0xFFFD;
            }
            const std::string utf8 = Utf16ToUtf8(text);
            ASSERT_EQ(Utf8ToUtf16(utf8), expected) << "mix " << index << " of length " << length;
            ASSERT_EQ(Utf16ToUtf8(expected), utf8);
        }
    }
}

// Every sequence of up to four bytes from the lead, continuation and invalid ranges: whatever
// comes out is well-formed UTF-16 that converts back to itself, and never longer than the input.
TEST(WideText, EveryShortMixOfBoundaryBytesGivesStableText) {
    const unsigned char bytes[] = {0x00, 0x41, 0x7F, 0x80, 0x90, 0xA0, 0xBF, 0xC0, 0xC2,
                                   0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
    const std::size_t n = sizeof bytes;
    for (std::size_t length = 0; length <= 4; ++length) {
        std::size_t combinations = 1;
        for (std::size_t k = 0; k < length; ++k)
            combinations *= n;
        for (std::size_t index = 0; index < combinations; ++index) {
            std::string text;
            for (std::size_t k = 0, rest = index; k < length; ++k, rest /= n)
                text.push_back(static_cast<char>(bytes[rest % n]));
            const std::u16string wide = Utf8ToUtf16(text);
            ASSERT_LE(wide.size(), text.size());
            ASSERT_EQ(Utf8ToUtf16(Utf16ToUtf8(wide)), wide) << "mix " << index;
        }
    }
}

} // namespace
