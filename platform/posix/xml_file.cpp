// XML files on POSIX: the file read whole, parsed and searched with libxml2.
#include "platform/xml_file.h"

#include "platform/libxml_text.h"
#include "platform/regular_file.h"
#include "platform/wide_text.h"

#include <climits>

namespace pandel::platform {
namespace {

// The node's text as a DOM without preserved white space gives it; nullopt when entity
// replacement ran past its bounds.
std::optional<std::string> NodeText(xmlDocPtr document, const xmlNode* node) {
    switch (node->type) {
    case XML_NAMESPACE_DECL: {
        auto* ns = reinterpret_cast<const xmlNs*>(node);
        return TrimXmlSpace(std::string(ns->href ? reinterpret_cast<const char*>(ns->href) : ""));
    }
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
        return TrimXmlSpace(
            std::string(node->content ? reinterpret_cast<const char*>(node->content) : ""));
    default:
        break;
    }
    std::optional<std::string> text = libxml::BoundedText(document, node->children, true);
    if (!text)
        return std::nullopt;
    return TrimXmlSpace(*text);
}

struct ParsedFile {
    xmlDocPtr document = nullptr;
    xmlXPathContextPtr xpath = nullptr;
    ~ParsedFile() {
        if (xpath != nullptr)
            xmlXPathFreeContext(xpath);
        if (document != nullptr)
            xmlFreeDoc(document);
    }
};

} // namespace

std::optional<std::vector<std::u16string>>
ReadXmlNodeTexts(const std::string& path, const std::vector<std::string>& expressions) {
    // One byte more than the largest file read tells a larger file from one of that size.
    std::optional<std::string> content = ReadRegularFile(path, kMaxXmlFileBytes + 1);
    if (!content || content->size() > kMaxXmlFileBytes ||
        content->size() > static_cast<std::size_t>(INT_MAX))
        return std::nullopt;
    libxml::InitParserOnce();
    ParsedFile file;
    file.document = xmlReadMemory(content->data(), static_cast<int>(content->size()), nullptr,
                                  nullptr, libxml::kParseOptions);
    if (file.document == nullptr)
        return std::nullopt;
    file.xpath = xmlXPathNewContext(file.document);
    if (file.xpath == nullptr)
        return std::nullopt;
    libxml::SilenceXPathErrors(file.xpath);

    std::vector<std::u16string> texts;
    for (const std::string& expression : expressions) {
        xmlXPathObjectPtr result = xmlXPathEvalExpression(
            reinterpret_cast<const xmlChar*>(expression.c_str()), file.xpath);
        std::optional<std::string> text;
        if (result != nullptr && result->nodesetval != nullptr && result->nodesetval->nodeNr > 0)
            text = NodeText(file.document, result->nodesetval->nodeTab[0]);
        if (result != nullptr)
            xmlXPathFreeObject(result);
        if (!text)
            break;
        texts.push_back(Utf8ToUtf16(*text));
    }
    return texts;
}

} // namespace pandel::platform
