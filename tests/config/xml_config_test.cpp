// The XML store's reads, path evaluation, SetString walk, serialisation and Save.
#include "config/xml_config.h"
#include "config/xml_doc_context.h"

#include "platform/wide_text.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <climits>
#include <unistd.h>

namespace platform = pandel::platform;

namespace {

using pandel::CXmlConfig;
using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;
using Texts = std::vector<std::u16string>;

std::string XmlAt(CXmlConfig& store, const std::u16string& path) {
    std::u16string xml = u"stale";
    store.GetXml(path, xml);
    return Utf16ToUtf8(xml);
}

const char16_t kDocument[] =
    u"<!DOCTYPE Root [<!ENTITY abc \"abc\">]><Root ID=\"7\"><A>one<B>two</B>three</A>"
    u"<N>12abc</N><N> -5</N><N>\t+8</N><N>x1</N><N></N><N>99999999999</N><N>-99999999999</N>"
    u"<F>True</F><F>true</F><F>TRUE</F><F>1</F><F></F><F> true</F>"
    u"<E>&abc;-&abc;</E><C><![CDATA[<raw>&]]></C><U>\u00e9\u4e2d\U0001F600</U></Root>";

TEST(XmlStoreRead, StringReadsTakeTheFirstNodesOwnText) {
    CXmlConfig store(kDocument);
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"/Root/A", u"onethree"}, // child elements contribute nothing
        {u"/Root/@ID", u"7"},      {u"/Root/A/text()", u""},
        {u"/Root/N", u"12abc"},    {u"/Root/E", u"abc-abc"},
        {u"/Root/C", u"<raw>&"},   {u"/Root/U", u"\u00e9\u4e2d\U0001F600"},
        {u"/Root/*/name()", u"A"}, {u"/Root/@ID/name()", u"ID"},
        {u"/Root/Missing", u""},   {u"((", u""},
        {u"count(/Root/N)", u""},
    };
    for (const auto& [path, expected] : cases) {
        std::u16string value = u"stale";
        std::u16string text = u"stale";
        store.GetString(path, value);
        store.GetText(path, text);
        EXPECT_EQ(value, expected) << Utf16ToUtf8(path);
        EXPECT_EQ(text, expected) << Utf16ToUtf8(path);
    }
}

TEST(XmlStoreRead, NumbersAndFlagsFollowTheirTextRules) {
    CXmlConfig store(kDocument);
    std::vector<std::int32_t> longs{42};
    store.GetLongList(u"/Root/N", longs);
    EXPECT_EQ(longs, (std::vector<std::int32_t>{42, 12, -5, 8, 0, 0, INT32_MAX, INT32_MIN}));
    std::vector<bool> bools{true};
    store.GetBoolList(u"/Root/F", bools);
    EXPECT_EQ(bools, (std::vector<bool>{true, true, true, false, false, false, false}));

    std::uint32_t dword = 99;
    std::int32_t number = 99, flag = 99;
    store.GetDword(u"/Root/N[2]", dword);
    store.GetLong(u"/Root/N[2]", number);
    store.GetFlag(u"/Root/F[2]", flag);
    EXPECT_EQ(dword, 0xFFFFFFFBu);
    EXPECT_EQ(number, -5);
    EXPECT_EQ(flag, 1);
}

TEST(XmlStoreRead, ListsAppendAndNameModeEndsWithTheNextPath) {
    CXmlConfig store(kDocument);
    Texts names{u"kept"};
    store.GetStringList(u"/Root/*/name()", names);
    store.GetTextList(u"/Root/Missing", names);
    store.GetTextList(u"((", names);
    ASSERT_EQ(names.size(), 18u);
    EXPECT_EQ(names[0], u"kept");
    EXPECT_EQ(names[1], u"A");
    EXPECT_EQ(names[17], u"U");

    EXPECT_EQ(XmlAt(store, u"/Root/A/name()"), "");
    EXPECT_EQ(XmlAt(store, u"/Root/A"), "<A>one<B>two</B>three</A>");
    std::u16string value;
    store.GetString(u"/Root/*/name()", value);
    store.GetString(u"/Root/A", value);
    EXPECT_EQ(value, u"onethree");
}

TEST(XmlStorePath, EvaluationCodesSelectionAndCount) {
    const char16_t kSmall[] = u"<Root><A/><A/></Root>";
    pandel::XmlDocContext* context = pandel::CreateXmlDocContext(kSmall);
    CXmlConfig store(kSmall);
    const struct {
        const char16_t* path;
        std::int32_t code;
        int selected;
        bool nameMode;
    } cases[] = {
        {u"/Root/A", 0, 2, false},  {u"/Root/*/name()/ignored", 0, 2, true},
        {u"/Root/B", -2, 0, false}, {u"count(/Root/A)", -2, 0, false},
        {u"'text'", -2, 0, false},  {u"((", -3, 0, false},
        {u"", -3, 0, false},        {u"/p:Root", -3, 0, false},
        {u"/name()", -3, 0, true},  {u"Root", -2, 0, false}, // no context node
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pandel::EvaluatePath(*context, c.path), c.code) << Utf16ToUtf8(c.path);
        EXPECT_EQ(context->selection ? context->selection->nodeNr : 0, c.selected);
        EXPECT_EQ(context->nameMode, c.nameMode) << Utf16ToUtf8(c.path);
        std::int32_t written = -7;
        EXPECT_EQ(store.GetCount(c.path, written), c.selected);
        EXPECT_EQ(written, c.selected);
    }
    pandel::DestroyXmlDocContext(context);
}

// Plain child paths ("/A/B") are answered by walking the tree; the same steps written with
// the child axis still go through XPath. Both must select the very same nodes, in the same order.
TEST(XmlStorePath, PlainChildPathsSelectWhatXPathSelects) {
    const char16_t* const documents[] = {
        u"<R><A><B>1</B><B>2</B></A><A/><A><B>3</B><!--c--><?p x?><B>4</B></A></R>",
        u"<R xmlns=\"urn:d\"><A><B>1</B></A></R>",
        u"<R xmlns:p=\"urn:p\"><p:A><B>1</B></p:A><A><B>2</B><p:B>3</p:B></A>"
        u"<A xmlns=\"urn:q\"><B>4</B></A></R>",
        u"<!DOCTYPE R [<!ENTITY e \"<A><B>9</B></A>\">]><R>&e;<A><B>1</B>&e;</A></R>",
        u"<R><a-b.c_d><x1>1</x1></a-b.c_d><A>text<![CDATA[<B>]]><B/>tail</A></R>",
        u"<R><A><B>1</B></A>",
    };
    const char* const paths[] = {
        "/R",       "/R/A",   "/R/A/B",        "/R/B",        "/X",
        "/R/A/B/C", "/R/p:A", "/R/a-b.c_d/x1", "/R/A/B/text", "/r/a",
    };
    for (const char16_t* text : documents) {
        pandel::XmlDocContext* context = pandel::CreateXmlDocContext(text);
        for (const char* path : paths) {
            std::string axes;
            for (const char* p = path; *p != '\0'; ++p)
                axes += *p == '/' ? std::string("/child::") : std::string(1, *p);
            const std::int32_t viaXPath = pandel::EvaluatePath(*context, Utf8ToUtf16(axes));
            std::vector<const xmlNode*> expected;
            for (int i = 0; context->selection != nullptr && i < context->selection->nodeNr; ++i)
                expected.push_back(context->selection->nodeTab[i]);
            const std::int32_t walked = pandel::EvaluatePath(*context, Utf8ToUtf16(path));
            std::vector<const xmlNode*> found;
            for (int i = 0; context->selection != nullptr && i < context->selection->nodeNr; ++i)
                found.push_back(context->selection->nodeTab[i]);
            const std::string where = Utf16ToUtf8(text) + " " + path;
            EXPECT_EQ(walked, viaXPath) << where;
            EXPECT_EQ(found, expected) << where;
        }
        pandel::DestroyXmlDocContext(context);
    }
}

TEST(XmlStoreSet, WalkOnAnEmptyRoot) {
    const struct {
        const char16_t* path;
        std::int32_t result;
        const char* xml;
    } cases[] = {
        {u"/Root/@ID", 0, "<Root ID=\"v\"/>"},
        {u"/Root/IsAlive", 0, "<Root><IsAlive>v</IsAlive></Root>"},
        {u" /Root / Server ", 0, "<Root><Server>v</Server></Root>"},
        {u"/Other/X", 0, "<Root><X>v</X></Root>"}, // the root is used whatever its name
        {u"/Root", 0, "<Root>v</Root>"},
        {u"/Root/A/B/.", 0, "<Root><A><B>v</B></A></Root>"},
        {u"/Root/A/@k/ignored", 0, "<Root><A k=\"v\"/></Root>"},
        {u"/Root/Item[3]", 0, "<Root><Item>v</Item></Root>"},
        {u"/Other", -1, "<Root/>"},
        {u"", -1, "<Root/>"},
        {u"/", -1, "<Root/>"},
        {u"/Root/text()", -1, "<Root/>"}, // not a name an element can have
        {u"/Root/@", -1, "<Root/>"},
    };
    for (const auto& c : cases) {
        CXmlConfig store(u"<Root />");
        EXPECT_EQ(store.SetString(c.path, u"v"), c.result) << Utf16ToUtf8(c.path);
        EXPECT_EQ(XmlAt(store, u"/Root"), c.xml) << Utf16ToUtf8(c.path);
    }
    CXmlConfig store(u"<Root />");
    for (const char16_t* value : {u"1", u"2"}) {
        store.SetString(u"/Root/@ID", value);
        store.SetString(u"/Root/IsAlive", value);
    }
    EXPECT_EQ(XmlAt(store, u"/Root"), "<Root ID=\"2\"><IsAlive>2</IsAlive></Root>");
}

TEST(XmlStoreSet, IndexedStepsCountElementsOfThatNameOnly) {
    const char16_t* cases[][3] = {
        // The only A is the first, not the second: one new A holds the new B.
        {u"<Root><A/></Root>", u"/Root/A[2]/B", u"<Root><A/><A><B>v</B></A></Root>"},
        {u"<Root><A/><X/><A/></Root>", u"/Root/A[2]/@k", u"<Root><A/><X/><A k=\"v\"/></Root>"},
        {u"<Root><A><B>o</B></A></Root>", u"/Root/A[0]/C", u"<Root><A><B>o</B><C>v</C></A></Root>"},
        // A text node carries the name "text" but is no element step.
        {u"<Root>hello</Root>", u"/Root/text", u"<Root>hello<text>v</text></Root>"},
    };
    for (const auto& c : cases) {
        CXmlConfig store(c[0]);
        EXPECT_EQ(store.SetString(c[1], u"v"), 0) << Utf16ToUtf8(c[1]);
        EXPECT_EQ(XmlAt(store, u"/Root"), Utf16ToUtf8(c[2]));
    }
}

TEST(XmlStoreSet, ValuesAreStoredLiterally) {
    const char16_t* values[] = {u"a & b", u"<x/>",   u"&amp;", u"&undeclared;",
                                u"\"'",   u"a\r\nb", u"]]>",   u"\u00e9\u4e2d\U0001F600"};
    // Created, found by XPath, attribute created, attribute found, text node found.
    const std::pair<const char16_t*, const char16_t*> paths[] = {
        {u"/Root/New", u"/Root/New"},
        {u"/Root/Old", u"/Root/Old"},
        {u"/Root/@new", u"/Root/@new"},
        {u"/Root/@old", u"/Root/@old"},
        {u"/Root/Old/text()", u"/Root/Old"}};
    for (const char16_t* value : values) {
        for (const auto& [set, read] : paths) {
            CXmlConfig store(u"<Root old=\"x\"><Old>x</Old></Root>");
            EXPECT_EQ(store.SetString(set, value), 0);
            std::u16string back;
            store.GetString(read, back);
            EXPECT_EQ(back, value) << Utf16ToUtf8(set) << " " << Utf16ToUtf8(value);
        }
    }
    CXmlConfig store(u"<Root/>");
    store.SetString(u"/Root/@a", u"x&\"<");
    store.SetString(u"/Root", u"a & <b>");
    EXPECT_EQ(XmlAt(store, u"/Root"), "<Root a=\"x&amp;&quot;&lt;\">a &amp; &lt;b&gt;</Root>");
}

TEST(XmlStoreXml, SerialisationAndTheUtf8Boundary) {
    CXmlConfig store(u"<?xml version=\"1.0\"?><Root ID=\"7\"><A>\u00e9</A></Root>");
    EXPECT_EQ(XmlAt(store, u"/Root/A"), "<A>\u00e9</A>");
    EXPECT_EQ(XmlAt(store, u"/Root/@ID"), " ID=\"7\"");
    EXPECT_EQ(XmlAt(store, u"/"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Root ID=\"7\"><A>\u00e9</A></Root>\n");
    EXPECT_EQ(XmlAt(store, u"/Root/Missing"), "");

    // The text reaches the parser as UTF-8, whatever its declaration says.
    for (const char16_t* document :
         {u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><R>\u00e9</R>",
          u"<?xml version=\"1.0\" encoding=\"GBK\"?><R>\u00e9</R>", u"\ufeff<R>\u00e9</R>"}) {
        CXmlConfig labelled(document);
        EXPECT_EQ(XmlAt(labelled, u"/R"), "<R>\u00e9</R>") << Utf16ToUtf8(document);
    }
}

TEST(XmlStoreSave, WritesTheDocumentOnlyWithADocumentAndAPath) {
    pandel::test::TempRoot root;
    std::string file = root.Sub("saved.xml");
    CXmlConfig store(u"<Root />");
    store.SetString(u"/Root/@ID", u"\u00e9");
    EXPECT_EQ(store.Save(), 0); // no path yet
    store.SetSavePath(Utf8ToUtf16(file));
    EXPECT_EQ(store.Save(), 0);
    // Without a declared encoding libxml2 writes ASCII and character references.
    EXPECT_EQ(pandel::test::ReadFile(file), "<?xml version=\"1.0\"?>\n<Root ID=\"&#xE9;\"/>\n");

    CXmlConfig broken(u"<Root>");
    broken.SetSavePath(Utf8ToUtf16(root.Sub("none.xml")));
    EXPECT_EQ(broken.Save(), 0);
    EXPECT_EQ(access(root.Sub("none.xml").c_str(), F_OK), -1);
}

} // namespace
