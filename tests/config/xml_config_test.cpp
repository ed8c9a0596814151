// The XML store's reads, path evaluation, SetString walk, serialisation and Save.
#include "config/xml_config.h"
#include "config/xml_doc_context.h"

#include "platform/wide_text.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using pandel::CXmlConfig;
using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;

std::string XmlAt(CXmlConfig& store, const std::u16string& path) {
    std::u16string xml;
    store.GetXml(path, xml);
    return Utf16ToUtf8(xml);
}

const char16_t kDocument[] =
    u"<!DOCTYPE Root [<!ENTITY abc \"abc\">]>"
    u"<Root ID=\"7\">"
    u"<A>one<B>two</B>three</A>"
    u"<N>12abc</N><N> -5</N><N>\t+8</N><N>x1</N><N></N><N>99999999999</N><N>-99999999999</N>"
    u"<F>True</F><F>true</F><F>TRUE</F><F>1</F><F></F><F> true</F>"
    u"<E>&abc;-&abc;</E><C><![CDATA[<raw>&]]></C><U>\u00e9\u4e2d\U0001F600</U>"
    u"</Root>";

TEST(XmlStoreRead, StringReadsTakeTheFirstNodesOwnText) {
    CXmlConfig store(kDocument);
    const struct {
        const char16_t* path;
        const char16_t* text;
    } cases[] = {
        {u"/Root/A", u"onethree"}, // child elements contribute nothing
        {u"/Root/@ID", u"7"},      {u"/Root/A/text()", u""},
        {u"/Root/N", u"12abc"},    {u"/Root/E", u"abc-abc"},
        {u"/Root/C", u"<raw>&"},   {u"/Root/U", u"\u00e9\u4e2d\U0001F600"},
        {u"/Root/*/name()", u"A"}, {u"/Root/@ID/name()", u"ID"},
        {u"/Root/Missing", u""},   {u"((", u""},
        {u"count(/Root/N)", u""},
    };
    for (const auto& c : cases) {
        std::u16string value = u"stale";
        std::u16string text = u"stale";
        EXPECT_EQ(store.GetString(c.path, value), 0);
        EXPECT_EQ(store.GetText(c.path, text), 0);
        EXPECT_EQ(value, c.text) << Utf16ToUtf8(c.path);
        EXPECT_EQ(text, c.text) << Utf16ToUtf8(c.path);
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
    std::int32_t number = 99;
    std::int32_t flag = 99;
    bool boolean = true;
    store.GetDword(u"/Root/N[2]", dword);
    EXPECT_EQ(dword, 0xFFFFFFFBu);
    store.GetLong(u"/Root/N[2]", number);
    EXPECT_EQ(number, -5);
    store.GetFlag(u"/Root/F[2]", flag);
    EXPECT_EQ(flag, 1);
    // A path that selects nothing overwrites whatever the caller had put there.
    store.GetDword(u"/Root/Missing", dword);
    store.GetLong(u"/Root/Missing", number);
    store.GetFlag(u"/Root/Missing", flag);
    store.GetBool(u"/Root/Missing", boolean);
    EXPECT_EQ(dword, 0u);
    EXPECT_EQ(number, 0);
    EXPECT_EQ(flag, 0);
    EXPECT_FALSE(boolean);
}

TEST(XmlStoreRead, ListsAppendAndNameModeEndsWithTheNextPath) {
    CXmlConfig store(kDocument);
    std::vector<std::u16string> names{u"kept"};
    store.GetStringList(u"/Root/*/name()", names);
    ASSERT_EQ(names.size(), 18u);
    EXPECT_EQ(names[0], u"kept");
    EXPECT_EQ(names[1], u"A");
    EXPECT_EQ(names[17], u"U");
    store.GetTextList(u"/Root/Missing", names);
    store.GetTextList(u"((", names);
    EXPECT_EQ(names.size(), 18u);

    EXPECT_EQ(XmlAt(store, u"/Root/A/name()"), "");
    std::u16string value;
    store.GetString(u"/Root/A", value);
    EXPECT_EQ(value, u"onethree");
    EXPECT_EQ(XmlAt(store, u"/Root/A"), "<A>one<B>two</B>three</A>");
}

TEST(XmlStoreRead, CountIsReturnedAndWritten) {
    CXmlConfig store(kDocument);
    const struct {
        const char16_t* path;
        std::int32_t count;
    } cases[] = {{u"/Root/N", 7}, {u"/Root/*/name()", 17}, {u"/Root/Missing", 0},
                 {u"((", 0},      {u"count(/Root)", 0},    {u"/Root/@ID", 1}};
    for (const auto& c : cases) {
        std::int32_t written = -7;
        EXPECT_EQ(store.GetCount(c.path, written), c.count) << Utf16ToUtf8(c.path);
        EXPECT_EQ(written, c.count) << Utf16ToUtf8(c.path);
    }
}

TEST(XmlStorePath, EvaluationCodesAndSelection) {
    pandel::XmlDocContext* context = pandel::CreateXmlDocContext(u"<Root><A/><A/></Root>");
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
    }
    // Without an XPath context nothing changes, name mode included.
    pandel::EvaluatePath(*context, u"/Root/*/name()");
    xmlXPathContextPtr xpath = context->xpath;
    context->xpath = nullptr;
    EXPECT_EQ(pandel::EvaluatePath(*context, u"/Root"), -1);
    EXPECT_TRUE(context->nameMode);
    EXPECT_EQ(context->selection->nodeNr, 2);
    context->xpath = xpath;
    pandel::DestroyXmlDocContext(context);
}

TEST(XmlStorePath, SplitTrimsOnlySpacesAndDropsEmptyParts) {
    using Parts = std::vector<std::u16string>;
    EXPECT_EQ(pandel::SplitPath(u"/Root/@ID"), (Parts{u"Root", u"@ID"}));
    EXPECT_EQ(pandel::SplitPath(u" /Root / Server "), (Parts{u"Root", u"Server"}));
    EXPECT_EQ(pandel::SplitPath(u"//a// /\tb\t"), (Parts{u"a", u"\tb\t"}));
    EXPECT_EQ(pandel::SplitPath(u"/"), Parts{});
    EXPECT_EQ(pandel::SplitPath(u""), Parts{});
}

TEST(XmlStoreSet, WalkOnAnEmptyRoot) {
    const struct {
        const char16_t* path;
        std::int32_t result;
        const char* xml; // the whole document's root afterwards
    } cases[] = {
        {u"/Root/@ID", 0, "<Root ID=\"v\"/>"},
        {u"/Root/IsAlive", 0, "<Root><IsAlive>v</IsAlive></Root>"},
        {u" /Root / Server ", 0, "<Root><Server>v</Server></Root>"},
        {u"/Other/X", 0, "<Root><X>v</X></Root>"},
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
}

TEST(XmlStoreSet, RepeatedSetsReplaceTheValueFoundByXPath) {
    CXmlConfig store(u"<Root />");
    store.SetString(u"/Root/@ID", u"1");
    store.SetString(u"/Root/IsAlive", u"1");
    store.SetString(u"/Root/@ID", u"2");
    store.SetString(u"/Root/IsAlive", u"2");
    EXPECT_EQ(XmlAt(store, u"/Root"), "<Root ID=\"2\"><IsAlive>2</IsAlive></Root>");
}

TEST(XmlStoreSet, IndexedStepsCountElementsOfThatNameOnly) {
    const struct {
        const char16_t* document;
        const char16_t* path;
        const char* xml;
    } cases[] = {
        // The only A is the first, not the second: one new A holds the new B.
        {u"<Root><A/></Root>", u"/Root/A[2]/B", "<Root><A/><A><B>v</B></A></Root>"},
        {u"<Root><A/><X/><A/></Root>", u"/Root/A[2]/@k", "<Root><A/><X/><A k=\"v\"/></Root>"},
        {u"<Root><A><B>old</B></A></Root>", u"/Root/A[0]/C",
         "<Root><A><B>old</B><C>v</C></A></Root>"},
        // A text node carries the name "text" but is no element step.
        {u"<Root>hello</Root>", u"/Root/text", "<Root>hello<text>v</text></Root>"},
    };
    for (const auto& c : cases) {
        CXmlConfig store(c.document);
        EXPECT_EQ(store.SetString(c.path, u"v"), 0) << Utf16ToUtf8(c.path);
        EXPECT_EQ(XmlAt(store, u"/Root"), c.xml) << Utf16ToUtf8(c.path);
    }
}

TEST(XmlStoreSet, ValuesAreStoredLiterally) {
    const char16_t* values[] = {u"a & b", u"<x/>",   u"&amp;", u"&undeclared;",
                                u"\"'",   u"a\r\nb", u"]]>",   u"\u00e9\u4e2d\U0001F600"};
    const struct {
        const char16_t* set; // created, found by XPath, attribute created, attribute found, text
        const char16_t* read;
    } paths[] = {{u"/Root/New", u"/Root/New"},
                 {u"/Root/Old", u"/Root/Old"},
                 {u"/Root/@new", u"/Root/@new"},
                 {u"/Root/@old", u"/Root/@old"},
                 {u"/Root/Old/text()", u"/Root/Old"}};
    for (const char16_t* value : values) {
        for (const auto& path : paths) {
            CXmlConfig store(u"<Root old=\"x\"><Old>x</Old></Root>");
            EXPECT_EQ(store.SetString(path.set, value), 0);
            std::u16string back;
            store.GetString(path.read, back);
            EXPECT_EQ(back, value) << Utf16ToUtf8(path.set) << " " << Utf16ToUtf8(value);
        }
    }
    CXmlConfig store(u"<Root/>");
    store.SetString(u"/Root/@a", u"x&\"<");
    store.SetString(u"/Root", u"a & <b>");
    EXPECT_EQ(XmlAt(store, u"/Root"), "<Root a=\"x&amp;&quot;&lt;\">a &amp; &lt;b&gt;</Root>");
}

TEST(XmlStoreSet, OperationsNotImplementedChangeNothing) {
    CXmlConfig store(u"<Root a=\"1\"/>");
    pandel::IConfig& config = store;
    const std::int32_t results[] = {
        config.SetDword(u"/Root/@a", 2),
        config.SetLong(u"/Root/@a", 2),
        config.SetFlag(u"/Root/@a", 2),
        config.SetBool(u"/Root/@a", true),
        config.SetStringList(u"/Root/@a", {u"2"}),
        config.SetLongList(u"/Root/@a", {2}),
        config.SetBoolList(u"/Root/@a", {true}),
        config.Load(u"/nonexistent"),
        config.SaveAs(u"/nonexistent"),
        config.Remove(u"/Root/@a"),
        config.Clear(),
    };
    for (std::int32_t result : results)
        EXPECT_EQ(result, static_cast<std::int32_t>(0x80004001u));
    EXPECT_EQ(XmlAt(store, u"/Root"), "<Root a=\"1\"/>");
}

TEST(XmlStoreXml, SerialisationOfNodesAndTheDocument) {
    CXmlConfig store(u"<?xml version=\"1.0\"?><Root ID=\"7\"><A>\u00e9</A></Root>");
    EXPECT_EQ(XmlAt(store, u"/Root/A"), "<A>\u00e9</A>");
    EXPECT_EQ(XmlAt(store, u"/Root/@ID"), " ID=\"7\"");
    EXPECT_EQ(XmlAt(store, u"/"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Root ID=\"7\"><A>\u00e9</A></Root>\n");
    std::u16string xml = u"stale";
    store.GetXml(u"/Root/Missing", xml);
    EXPECT_EQ(xml, u"");
}

TEST(XmlStoreXml, TextIsUtf8WhateverTheDeclarationSays) {
    const char16_t* documents[] = {
        u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><R>\u00e9</R>",
        u"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><R>\u00e9</R>",
        u"<?xml version=\"1.0\" encoding=\"GBK\"?><R>\u00e9</R>",
        u"\ufeff<R>\u00e9</R>",
    };
    for (const char16_t* document : documents) {
        CXmlConfig store(document);
        std::u16string value;
        store.GetString(u"/R", value);
        EXPECT_EQ(value, u"\u00e9") << Utf16ToUtf8(document);
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
    std::string none = root.Sub("none.xml");
    broken.SetSavePath(Utf8ToUtf16(none));
    EXPECT_EQ(broken.Save(), 0);
    CXmlConfig unwritable(u"<Root/>");
    unwritable.SetSavePath(Utf8ToUtf16(root.Sub("missing-dir/x.xml")));
    EXPECT_EQ(unwritable.Save(), 0);
    EXPECT_EQ(access(none.c_str(), F_OK), -1);
}

} // namespace
