#include "platform/wide_text.h"

#include <gtest/gtest.h>

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

} // namespace
