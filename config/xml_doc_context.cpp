// The XML store's shared steps over libxml2: parsing, XPath evaluation, node text, paths.
#include "config/xml_doc_context.h"

#include "platform/libxml_text.h"
#include "platform/wide_text.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xpathInternals.h>

#include <algorithm>
#include <climits>

namespace pandel {
namespace {

// The declared encoding is ignored: the text is always UTF-8 by the time it gets here.
constexpr int kParseOptions = platform::libxml::kParseOptions | XML_PARSE_IGNORE_ENC;

bool IsPathSpace(char16_t c) {
    return c == u' ';
}

bool IsDecimalSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

bool IsNameStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool IsNameRest(char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// Whether the expression is nothing but child steps from the root with plain names
// ("/Download/FileType"): ASCII names, no prefix, no white space, no predicate, axis or
// function. Every path the module itself reads is one.
bool IsPlainChildPath(const std::string& expression) {
    std::size_t i = 0;
    const std::size_t size = expression.size();
    if (size == 0)
        return false;
    while (i < size) {
        if (expression[i] != '/' || i + 1 >= size || !IsNameStart(expression[i + 1]))
            return false;
        i += 2;
        while (i < size && IsNameRest(expression[i]))
            ++i;
    }
    return true;
}

// What XPath selects for a plain child path, found by walking the tree instead of compiling
// and running the expression: for each step, the element children without a namespace whose
// name is the step's (XPath's test for an unprefixed name), taken parent by parent, which is
// document order. Each node is met once, so the set takes it without looking for a duplicate
// (which would cost the square of the siblings). A result as xmlXPathEvalExpression gives it;
// null when out of memory.
xmlXPathObjectPtr SelectChildPath(xmlDocPtr document, const std::string& expression) {
    std::vector<xmlNodePtr> current{reinterpret_cast<xmlNodePtr>(document)};
    std::vector<xmlNodePtr> next;
    std::string name;
    for (std::size_t i = 1; i <= expression.size(); i += name.size() + 1) {
        const std::size_t end = std::min(expression.find('/', i), expression.size());
        name.assign(expression, i, end - i);
        const auto* wanted = reinterpret_cast<const xmlChar*>(name.c_str());
        next.clear();
        for (xmlNodePtr parent : current) {
            for (xmlNodePtr child = parent->children; child != nullptr; child = child->next) {
                if (child->type == XML_ELEMENT_NODE && child->ns == nullptr &&
                    xmlStrEqual(child->name, wanted))
                    next.push_back(child);
            }
        }
        current.swap(next);
        if (current.empty())
            break;
    }
    xmlNodeSetPtr nodes = xmlXPathNodeSetCreate(nullptr);
    if (nodes == nullptr)
        return nullptr;
    for (xmlNodePtr node : current) {
        if (xmlXPathNodeSetAddUnique(nodes, node) != 0) {
            xmlXPathFreeNodeSet(nodes);
            return nullptr;
        }
    }
    xmlXPathObjectPtr result = xmlXPathWrapNodeSet(nodes);
    if (result == nullptr)
        xmlXPathFreeNodeSet(nodes);
    return result;
}

} // namespace

XmlDocContext* CreateXmlDocContext(const std::u16string& xml) {
    platform::libxml::InitParserOnce();
    auto* context = new XmlDocContext();
    std::string text = WideToUtf8(xml);
    if (text.size() <= static_cast<std::size_t>(INT_MAX)) {
        context->document = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr,
                                          nullptr, kParseOptions);
    }
    context->xpath = xmlXPathNewContext(context->document);
    platform::libxml::SilenceXPathErrors(context->xpath);
    return context;
}

void DestroyXmlDocContext(XmlDocContext* context) {
    if (context == nullptr)
        return;
    if (context->lastResult != nullptr)
        xmlXPathFreeObject(context->lastResult);
    if (context->xpath != nullptr)
        xmlXPathFreeContext(context->xpath);
    if (context->document != nullptr)
        xmlFreeDoc(context->document);
    delete context;
}

std::int32_t EvaluatePath(XmlDocContext& context, const std::u16string& path) {
    static constexpr char kNameStep[] = "/name()";
    if (context.xpath == nullptr)
        return kPathNoContext;
    std::string& expression = context.expression;
    platform::Utf16ToUtf8(path, &expression);
    const std::size_t zero = expression.find('\0');
    if (zero != std::string::npos)
        expression.resize(zero);
    if (context.lastResult != nullptr) {
        xmlXPathFreeObject(context.lastResult);
        context.lastResult = nullptr;
    }
    context.selection = nullptr;
    std::size_t nameStep = expression.find(kNameStep);
    context.nameMode = nameStep != std::string::npos;
    if (context.nameMode)
        expression.resize(nameStep);
    if (context.document != nullptr && IsPlainChildPath(expression))
        context.lastResult = SelectChildPath(context.document, expression);
    else
        context.lastResult = xmlXPathEvalExpression(
            reinterpret_cast<const xmlChar*>(expression.c_str()), context.xpath);
    if (context.lastResult == nullptr)
        return kPathNotEvaluable;
    xmlNodeSetPtr nodes = context.lastResult->nodesetval;
    if (nodes != nullptr && nodes->nodeNr > 0) {
        context.selection = nodes;
        return kPathSelected;
    }
    xmlXPathFreeObject(context.lastResult);
    context.lastResult = nullptr;
    return kPathNoNode;
}

std::u16string GetNodeText(const XmlDocContext& context, int index) {
    if (context.selection == nullptr || index < 0 || index >= context.selection->nodeNr)
        return {};
    const xmlNode* node = context.selection->nodeTab[index];
    if (node == nullptr)
        return {};
    // A namespace node is an xmlNs, not an xmlNode: only its type is laid out alike.
    if (node->type == XML_NAMESPACE_DECL) {
        auto* ns = reinterpret_cast<const xmlNs*>(node);
        return Utf8ToWide(context.nameMode ? ns->prefix : ns->href);
    }
    if (context.nameMode)
        return Utf8ToWide(node->name);
    // The common case, one text child, needs no collecting.
    const xmlNode* child = node->children;
    if (child != nullptr && child->next == nullptr && child->type == XML_TEXT_NODE)
        return Utf8ToWide(child->content);
    std::optional<std::string> text =
        platform::libxml::BoundedText(context.document, node->children, false);
    return text ? platform::Utf8ToUtf16(*text) : std::u16string();
}

std::vector<std::u16string> SplitPath(const std::u16string& path) {
    std::vector<std::u16string> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'/', start);
        if (end == std::u16string::npos)
            end = path.size();
        std::size_t first = start;
        std::size_t last = end;
        while (first < last && IsPathSpace(path[first]))
            ++first;
        while (last > first && IsPathSpace(path[last - 1]))
            --last;
        if (last > first)
            segments.push_back(path.substr(first, last - first));
        start = end + 1;
    }
    return segments;
}

std::string WideToUtf8(const std::u16string& text) {
    std::string utf8 = platform::Utf16ToUtf8(text);
    std::size_t zero = utf8.find('\0');
    if (zero != std::string::npos)
        utf8.resize(zero);
    return utf8;
}

std::u16string Utf8ToWide(const xmlChar* text) {
    if (text == nullptr)
        return {};
    return platform::Utf8ToUtf16(reinterpret_cast<const char*>(text));
}

std::int32_t ParseDecimal(const std::u16string& text) {
    std::size_t i = 0;
    while (i < text.size() && IsDecimalSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // Accumulated past the 32-bit range only as far as saturation needs.
    constexpr std::int64_t kLimit = std::int64_t{INT32_MAX} + 1;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > kLimit)
            value = kLimit;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        return INT32_MAX;
    return static_cast<std::int32_t>(value);
}

} // namespace pandel
