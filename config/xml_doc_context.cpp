// The XML store's shared steps over libxml2: parsing, XPath evaluation, node text, paths.
#include "config/xml_doc_context.h"

#include "platform/wide_text.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <cstring>
#include <mutex>

namespace pandel {
namespace {

// Errors stay out of the host's standard error; entities are kept as references (replaced
// only, and bounded, when a text is read); nothing is fetched; the declared encoding is
// ignored because the text is always UTF-8 by the time it gets here.
constexpr int kParseOptions =
    XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NONET | XML_PARSE_IGNORE_ENC;

// Entity references nest at most this deep in a document the parser accepts.
constexpr int kMaxEntityDepth = 40;
// Nodes that entity replacement may visit for one text (references to empty entities add no
// bytes but can still multiply).
constexpr std::size_t kMaxEntityNodeVisits = 1u << 20;

void IgnoreXPathError(void*, xmlErrorPtr) {}

void InitXmlParserOnce() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

// The concatenated text of a node list, as libxml2's in-line substitution reads it, with entity
// replacement bounded.
class TextCollector {
public:
    explicit TextCollector(xmlDocPtr document) : document_(document) {}

    void Collect(const xmlNode* list, int depth) {
        for (const xmlNode* node = list; node != nullptr && !overflow_; node = node->next) {
            if (depth > 0 && ++entityVisits_ > kMaxEntityNodeVisits) {
                overflow_ = true;
                return;
            }
            if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
                Append(node->content, depth);
            } else if (node->type == XML_ENTITY_REF_NODE) {
                Replace(node, depth);
            }
        }
    }

    bool overflow() const { return overflow_; }
    const std::string& text() const { return text_; }

private:
    void Append(const xmlChar* content, int depth) {
        if (content == nullptr)
            return;
        std::size_t length = std::strlen(reinterpret_cast<const char*>(content));
        if (depth > 0) {
            entityBytes_ += length;
            if (entityBytes_ > kMaxEntityTextBytes) {
                overflow_ = true;
                return;
            }
        }
        text_.append(reinterpret_cast<const char*>(content), length);
    }

    void Replace(const xmlNode* reference, int depth) {
        xmlEntityPtr entity = xmlGetDocEntity(document_, reference->name);
        if (entity == nullptr) {
            Append(reference->content, depth);
            return;
        }
        if (depth >= kMaxEntityDepth) {
            overflow_ = true;
            return;
        }
        // libxml2 marks an entity whose children it is still building with -1.
        const xmlNode* children = entity->children;
        if (children == reinterpret_cast<const xmlNode*>(-1))
            return;
        Collect(children, depth + 1);
    }

    xmlDocPtr document_;
    std::string text_;
    std::size_t entityBytes_ = 0;
    std::size_t entityVisits_ = 0;
    bool overflow_ = false;
};

bool IsPathSpace(char16_t c) {
    return c == u' ';
}

bool IsDecimalSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

} // namespace

XmlDocContext* CreateXmlDocContext(const std::u16string& xml) {
    InitXmlParserOnce();
    auto* context = new XmlDocContext();
    std::string text = WideToUtf8(xml);
    if (text.size() <= static_cast<std::size_t>(INT_MAX)) {
        context->document = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr,
                                          nullptr, kParseOptions);
    }
    context->xpath = xmlXPathNewContext(context->document);
    if (context->xpath != nullptr)
        context->xpath->error = IgnoreXPathError;
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
    std::string expression = WideToUtf8(path);
    if (context.xpath == nullptr)
        return kPathNoContext;
    if (context.lastResult != nullptr) {
        xmlXPathFreeObject(context.lastResult);
        context.lastResult = nullptr;
    }
    context.selection = nullptr;
    std::size_t nameStep = expression.find(kNameStep);
    context.nameMode = nameStep != std::string::npos;
    if (context.nameMode)
        expression.resize(nameStep);
    context.lastResult =
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(expression.c_str()), context.xpath);
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
    TextCollector collector(context.document);
    collector.Collect(node->children, 0);
    if (collector.overflow())
        return {};
    return platform::Utf8ToUtf16(collector.text());
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
