// The XML store on hostile and broken input: bounded, silent, never a crash.
#include "config/xml_config.h"
#include "config/xml_doc_context.h"

#include "platform/wide_text.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using pandel::CXmlConfig;
using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;

std::u16string Repeat(const std::u16string& part, std::size_t times) {
    std::u16string out;
    out.reserve(part.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        out += part;
    return out;
}

std::u16string Nested(std::size_t depth) {
    return Repeat(u"<a>", depth) + Repeat(u"</a>", depth);
}

std::u16string BillionLaughs() {
    std::u16string dtd = u"<!DOCTYPE R [<!ENTITY l0 \"ha\">";
    for (int i = 1; i <= 10; ++i) {
        dtd += u"<!ENTITY l" + Utf8ToUtf16(std::to_string(i)) + u" \"" +
               Repeat(u"&l" + Utf8ToUtf16(std::to_string(i - 1)) + u";", 10) + u"\">";
    }
    return dtd + u"]><R a=\"&l10;\">&l10;</R>";
}

// One 100 kB entity referenced 20000 times: 200 kB of text that stands for 2 GB.
std::u16string WideExpansion(bool inAttribute) {
    std::u16string dtd = u"<!DOCTYPE R [<!ENTITY big \"" + Repeat(u"x", 100000) + u"\">]>";
    std::u16string refs = Repeat(u"&big;", 20000);
    return dtd + (inAttribute ? u"<R a=\"" + refs + u"\"/>" : u"<R>" + refs + u"</R>");
}

// Everything the process writes to its standard error while action runs.
std::string CaptureStderr(const std::function<void()>& action) {
    pandel::test::TempRoot root;
    std::string file = root.Sub("stderr.txt");
    int capture = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int saved = dup(2);
    dup2(capture, 2);
    action();
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(capture);
    return pandel::test::ReadFile(file);
}

// Every read of a store without a usable document gives the empty value.
void ExpectEmptyStore(CXmlConfig& store, const std::u16string& path) {
    std::uint32_t dword = 5;
    std::int32_t number = 5;
    std::int32_t flag = 5;
    bool boolean = true;
    std::u16string text = u"stale";
    std::vector<std::u16string> list{u"kept"};
    std::int32_t count = 5;
    store.GetDword(path, dword);
    store.GetLong(path, number);
    store.GetFlag(path, flag);
    store.GetBool(path, boolean);
    store.GetString(path, text);
    store.GetStringList(path, list);
    EXPECT_EQ(dword, 0u);
    EXPECT_EQ(number, 0);
    EXPECT_EQ(flag, 0);
    EXPECT_FALSE(boolean);
    EXPECT_EQ(text, u"");
    EXPECT_EQ(list, std::vector<std::u16string>{u"kept"});
    EXPECT_EQ(store.GetCount(path, count), 0);
    store.GetXml(path, text);
    EXPECT_EQ(text, u"");
}

TEST(XmlStoreBadInput, DocumentsThatGiveNoDocument) {
    const std::u16string documents[] = {
        u"",
        u"<Root>",
        u"<a></b>",
        u"text",
        u"<Root/><Root/>",
        std::u16string(u"<R>\0</R>", 8), // cut at the zero unit
        BillionLaughs(),
        Nested(100000),
    };
    for (const std::u16string& document : documents) {
        CXmlConfig store(document);
        ExpectEmptyStore(store, u"/*");
        ExpectEmptyStore(store, u"/");
        EXPECT_EQ(store.SetString(u"/Root/@a", u"v"), -1);
        EXPECT_EQ(store.SetString(u"/Root/A", u"v"), -1);
        ExpectEmptyStore(store, u"/*");
    }
}

TEST(XmlStoreBadInput, EntityExpansionIsBoundedAtReadTime) {
    for (bool inAttribute : {false, true}) {
        CXmlConfig store(WideExpansion(inAttribute));
        std::u16string text = u"stale";
        store.GetString(inAttribute ? u"/R/@a" : u"/R", text);
        EXPECT_EQ(text, u"");
        std::int32_t count = 0;
        EXPECT_EQ(store.GetCount(u"/R", count), 1); // the document itself is there
    }
    // References are not expanded by serialisation either.
    CXmlConfig store(WideExpansion(false));
    std::u16string xml;
    store.GetXml(u"/R", xml);
    EXPECT_TRUE(xml == u"<R>" + Repeat(u"&big;", 20000) + u"</R>");
}

TEST(XmlStoreBadInput, ExternalEntitiesAreNeverLoaded) {
    pandel::test::TempRoot root;
    std::string secret = root.Sub("secret.txt");
    pandel::test::WriteFile(secret, "secret");
    CXmlConfig store(u"<!DOCTYPE R [<!ENTITY ext SYSTEM \"file://" + Utf8ToUtf16(secret) +
                     u"\">]><R>a&ext;b</R>");
    std::u16string text;
    store.GetString(u"/R", text);
    EXPECT_EQ(text, u"ab");
}

TEST(XmlStoreBadInput, LargeAndDeepDocumentsThatParse) {
    std::u16string chunk = u"<I>" + Repeat(u"z", 1u << 20) + u"</I>";
    CXmlConfig large(u"<Root>" + Repeat(chunk, 50) + u"</Root>");
    std::int32_t count = 0;
    EXPECT_EQ(large.GetCount(u"/Root/I", count), 50);
    std::u16string text;
    large.GetString(u"/Root/I[50]", text);
    EXPECT_EQ(text.size(), 1u << 20);

    CXmlConfig deep(Nested(200));
    EXPECT_EQ(deep.GetCount(u"//a", count), 200);

    // SetString builds a tree far deeper than the parser would accept; serialising and
    // freeing it must not exhaust the stack.
    CXmlConfig built(u"<Root/>");
    EXPECT_EQ(built.SetString(u"/Root" + Repeat(u"/a", 100000), u"v"), 0);
    built.GetXml(u"/Root", text);
    EXPECT_TRUE(text ==
                u"<Root>" + Repeat(u"<a>", 100000) + u"v" + Repeat(u"</a>", 100000) + u"</Root>");
}

TEST(XmlStoreBadInput, OddPathsGiveTheirCodes) {
    pandel::XmlDocContext* context =
        pandel::CreateXmlDocContext(u"<Root xmlns:p=\"urn:p\"><A>x</A></Root>");
    const struct {
        std::u16string path;
        std::int32_t code;
    } cases[] = {
        {u"/Root" + Repeat(u"/A", 500000), -2}, // far longer than any buffer
        {Repeat(u"(", 100000) + u"/Root", -3},
        {u"/p:Root", -3},       // prefixes are never registered
        {u"/Root/A\xD800", -3}, // U+FFFD is no XPath name character
        {u"count(/Root)", -2},
        {u"/", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pandel::EvaluatePath(*context, c.path), c.code) << c.path.size();
    pandel::DestroyXmlDocContext(context);

    // Namespace nodes are not element nodes: their text is the URI, their name the prefix.
    CXmlConfig store(u"<Root xmlns:p=\"urn:p\"/>");
    std::vector<std::u16string> texts;
    store.GetStringList(u"/Root/namespace::p", texts);
    store.GetStringList(u"/Root/namespace::p/name()", texts);
    EXPECT_EQ(texts, (std::vector<std::u16string>{u"urn:p", u"p"}));
    EXPECT_EQ(store.SetString(u"/Root/namespace::p", u"v"), 0);
    std::u16string xml;
    store.GetXml(u"/Root/namespace::p", xml);
    EXPECT_EQ(xml, u" xmlns:p=\"urn:p\"");
}

TEST(XmlStoreBadInput, TextConversionEdges) {
    CXmlConfig cut(std::u16string(u"<R>v</R>\0<junk", 14));
    std::u16string value;
    cut.GetString(u"/R", value);
    EXPECT_EQ(value, u"v");

    CXmlConfig store(u"<Root><A>a\xD800</A></Root>");
    std::u16string text;
    store.GetString(u"/Root/A", text);
    EXPECT_EQ(text, u"a\uFFFD");
    store.SetString(u"/Root/B", u"\xDC00z\xD800");
    store.GetString(u"/Root/B", text);
    EXPECT_EQ(text, u"\uFFFDz\uFFFD");
}

TEST(XmlStoreBadInput, NothingReachesStandardError) {
    pandel::test::TempRoot root;
    std::string output = CaptureStderr([&] {
        CXmlConfig broken(u"<Root><unclosed></Root>");
        CXmlConfig laughs(BillionLaughs());
        CXmlConfig store(u"<Root>&undeclared;</Root>");
        std::u16string text;
        store.GetString(u"((", text);
        store.GetString(u"/p:Root", text);
        store.GetString(u"/Root/unknown-function()", text);
        store.SetString(u"/Root/a b", u"v");
        store.SetSavePath(Utf8ToUtf16(root.Sub("no-such-dir/file.xml")));
        store.Save();
    });
    EXPECT_EQ(output, "");
}

} // namespace
