// The XML store's working record and the steps its operations share: path evaluation, node
// text, path splitting and the UTF-16/UTF-8 conversions at the libxml2 boundary.
#pragma once

#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pandel {

// One per store. The selection is borrowed from the last result: it is null or a node set
// holding at least one node.
struct XmlDocContext {
    xmlDocPtr document = nullptr;           // owned; null when the text was not well-formed
    xmlNodeSetPtr selection = nullptr;      // borrowed from lastResult
    xmlXPathContextPtr xpath = nullptr;     // owned; bound to document for the store's lifetime
    xmlXPathObjectPtr lastResult = nullptr; // owned; replaced at every evaluation
    bool nameMode = false;  // the last path ended in "/name()": texts read are node names
    std::string expression; // the last path as libxml2 reads it; kept for its room
};

// Results of EvaluatePath.
inline constexpr std::int32_t kPathSelected = 0;
inline constexpr std::int32_t kPathNoContext = -1;
inline constexpr std::int32_t kPathNoNode = -2;
inline constexpr std::int32_t kPathNotEvaluable = -3;

// Parses xml (as UTF-8, whatever its declaration says; no entity substitution, no network, no
// error output) and binds an XPath context to the result. Never null; the document is null
// when the text is not well-formed.
XmlDocContext* CreateXmlDocContext(const std::u16string& xml);

// Frees the last result, the XPath context, the document and the record; null is ignored.
void DestroyXmlDocContext(XmlDocContext* context);

// Evaluates path and makes what it selects the selection. A path containing "/name()" is
// evaluated only up to that text and switches name mode on. Returns kPathSelected when at
// least one node is selected, kPathNoContext without an XPath context (nothing changes),
// kPathNoNode when the result holds no node, kPathNotEvaluable when libxml2 gives no result.
std::int32_t EvaluatePath(XmlDocContext& context, const std::u16string& path);

// Text of the index-th selected node: its name in name mode, otherwise the text of its direct
// text and CDATA children with entity references replaced (an attribute's value). Empty with
// no selection, for an index outside it, and when entity replacement runs past its bounds
// (platform/libxml_text.h).
std::u16string GetNodeText(const XmlDocContext& context, int index);

// The path's parts between '/', each stripped of U+0020 at both ends, empty parts dropped.
std::vector<std::u16string> SplitPath(const std::u16string& path);

// UTF-16 to UTF-8 (a lone surrogate becomes U+FFFD), cut at the first zero unit.
std::string WideToUtf8(const std::u16string& text);

// UTF-8 up to its terminator to UTF-16; null gives the empty string.
std::u16string Utf8ToWide(const xmlChar* text);

// The number at the start of text as _wtol reads it: white space skipped, an optional sign,
// decimal digits up to the first other character; 0 without digits. Saturates at the 32-bit
// range.
std::int32_t ParseDecimal(const std::u16string& text);

} // namespace pandel
