// The XML store on hostile and broken input: bounded, silent, never a crash.
#include "config/xml_config.h"
#include "config/xml_doc_context.h"

#include "platform/wide_text.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

using pandel::CXmlConfig;
using pandel::platform::Utf8ToUtf16;

std::u16string Repeat(const std::u16string& part, std::size_t times) {
    std::u16string out;
    out.reserve(part.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        out += part;
    return out;
}

std::u16string BillionLaughs() {
    std::u16string dtd = u"<!DOCTYPE R [<!ENTITY l0 \"ha\">";
    for (int i = 1; i <= 10; ++i) {
        dtd += u"<!ENTITY l" + Utf8ToUtf16(std::to_string(i)) + u" \"" +
               Repeat(u"&l" + Utf8ToUtf16(std::to_string(i - 1)) + u";", 10) + u"\">";
    }
    return dtd + u"]><R a=\"&l10;\">&l10;</R>";
}

TEST(XmlStoreBadInput, DocumentsThatGiveNoDocument) {
    const std::u16string documents[] = {u"",
                                        u"<Root>",
                                        u"<a></b>",
                                        u"text",
                                        u"<Root/><Root/>",
                                        std::u16string(u"<R>\0</R>", 8), // cut at the zero unit
                                        BillionLaughs(),
                                        Repeat(u"<a>", 100000) + Repeat(u"</a>", 100000)};
    for (const std::u16string& document : documents) {
        CXmlConfig store(document);
        std::uint32_t dword = 5;
        bool boolean = true;
        std::u16string text = u"stale", xml = u"stale";
        std::vector<std::u16string> list{u"kept"};
        std::int32_t count = 5;
        store.GetDword(u"/*", dword);
        store.GetBool(u"/*", boolean);
        store.GetString(u"/", text);
        store.GetStringList(u"//*", list);
        store.GetXml(u"/", xml);
        EXPECT_EQ(store.GetCount(u"/*", count), 0);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(dword, 0u);
        EXPECT_FALSE(boolean);
        EXPECT_EQ(text + xml, u"");
        EXPECT_EQ(list.size(), 1u);
        EXPECT_EQ(store.SetString(u"/Root/@a", u"v") + store.SetString(u"/Root/A", u"v"), -2);
        EXPECT_EQ(store.GetCount(u"//*", count), 0);
    }
}

TEST(XmlStoreBadInput, EntityExpansionIsBoundedAtReadTime) {
    // One 100 kB entity referenced 20000 times: 200 kB of text that stand for 2 GB.
    std::u16string dtd = u"<!DOCTYPE R [<!ENTITY big \"" + Repeat(u"x", 100000) + u"\">]>";
    std::u16string refs = Repeat(u"&big;", 20000);
    CXmlConfig content(dtd + u"<R>" + refs + u"</R>");
    CXmlConfig attribute(dtd + u"<R a=\"" + refs + u"\"/>");
    std::u16string text = u"stale", value = u"stale", xml;
    content.GetString(u"/R", text);
    attribute.GetString(u"/R/@a", value);
    EXPECT_EQ(text + value, u"");
    content.GetXml(u"/R", xml); // references stay references
    EXPECT_TRUE(xml == u"<R>" + refs + u"</R>");

    pandel::test::TempRoot root;
    std::string secret = root.Sub("secret.txt");
    pandel::test::WriteFile(secret, "secret");
    CXmlConfig external(u"<!DOCTYPE R [<!ENTITY ext SYSTEM \"file://" + Utf8ToUtf16(secret) +
                        u"\">]><R>a&ext;b</R>");
    external.GetString(u"/R", text);
    EXPECT_EQ(text, u"ab"); // never loaded
}

TEST(XmlStoreBadInput, LargeAndDeepDocuments) {
    std::u16string chunk = u"<I>" + Repeat(u"z", 1u << 20) + u"</I>";
    CXmlConfig large(u"<Root>" + Repeat(chunk, 50) + u"</Root>");
    std::int32_t count = 0;
    EXPECT_EQ(large.GetCount(u"/Root/I", count), 50);
    std::u16string text;
    large.GetString(u"/Root/I[50]", text);
    EXPECT_EQ(text.size(), 1u << 20);

    // SetString builds a tree far deeper than the parser accepts; serialising and freeing it
    // must not exhaust the stack.
    CXmlConfig built(u"<Root/>");
    EXPECT_EQ(built.SetString(u"/Root" + Repeat(u"/a", 100000), u"v"), 0);
    built.GetXml(u"/Root", text);
    EXPECT_TRUE(text ==
                u"<Root>" + Repeat(u"<a>", 100000) + u"v" + Repeat(u"</a>", 100000) + u"</Root>");
}

TEST(XmlStoreBadInput, OddPathsAndTexts) {
    pandel::XmlDocContext* context = pandel::CreateXmlDocContext(u"<Root><A>x</A></Root>");
    const std::pair<std::u16string, std::int32_t> cases[] = {
        {u"/Root" + Repeat(u"/A", 500000), -2}, // far longer than any buffer
        {Repeat(u"(", 100000) + u"/Root", -3},
        {u"/p:Root", -3},       // prefixes are never registered
        {u"/Root/A\xD800", -3}, // U+FFFD is no XPath name character
        {u"count(/Root)", -2},
        {u"/", 0},
    };
    for (const auto& [path, code] : cases)
        EXPECT_EQ(pandel::EvaluatePath(*context, path), code) << path.size();
    pandel::DestroyXmlDocContext(context);

    // Namespace nodes are no element nodes: their text is the URI, their name the prefix.
    CXmlConfig store(u"<Root xmlns:p=\"urn:p\"><A>a\xD800</A></Root>");
    std::vector<std::u16string> texts;
    store.GetStringList(u"/Root/namespace::p", texts);
    store.GetStringList(u"/Root/namespace::p/name()", texts);
    store.GetStringList(u"/Root/A", texts);
    store.SetString(u"/Root/B", u"\xDC00z\xD800");
    store.GetStringList(u"/Root/B", texts);
    EXPECT_EQ(texts, (std::vector<std::u16string>{u"urn:p", u"p", u"a\uFFFD", u"\uFFFDz\uFFFD"}));
    EXPECT_EQ(store.SetString(u"/Root/namespace::p", u"v"), 0);
    std::u16string xml;
    store.GetXml(u"/Root/namespace::p", xml);
    EXPECT_EQ(xml, u" xmlns:p=\"urn:p\"");
}

TEST(XmlStoreBadInput, NothingReachesStandardError) {
    pandel::test::TempRoot root;
    std::string file = root.Sub("stderr.txt");
    int capture = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int saved = dup(2);
    dup2(capture, 2);
    {
        CXmlConfig broken(u"<Root><unclosed></Root>");
        CXmlConfig laughs(BillionLaughs());
        CXmlConfig undeclared(u"<Root>&undeclared;</Root>");
        CXmlConfig store(u"<Root/>");
        std::u16string text;
        for (const char16_t* path : {u"((", u"/p:Root", u"/Root/unknown-function()"})
            store.GetString(path, text);
        store.SetString(u"/Root/a b", u"v");
        store.SetSavePath(Utf8ToUtf16(root.Sub("no-such-dir/file.xml")));
        store.Save();
    }
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(capture);
    EXPECT_EQ(pandel::test::ReadFile(file), "");
}

} // namespace
