// Checks a request body as an XML document with libxml2, independently of the SOAP runtime,
// which skips what it does not know (an unqualified xIn) and reads some broken documents.
#include "tools/devcfg-server/envelope_check.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <climits>
#include <cstring>
#include <memory>
#include <vector>

namespace devcfg {
namespace {

constexpr const char* kEnvelope11 = "http://schemas.xmlsoap.org/soap/envelope/";

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

bool Is(const xmlNode* node, const char* ns, const char* name) {
    return node->ns != nullptr &&
           std::strcmp(reinterpret_cast<const char*>(node->ns->href), ns) == 0 &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

std::string Name(const xmlNode* node) {
    std::string name = "{";
    if (node->ns != nullptr)
        name += reinterpret_cast<const char*>(node->ns->href);
    return name + "}" + reinterpret_cast<const char*>(node->name);
}

// Element children in order; false when non-blank text stands between them.
bool Elements(const xmlNode* parent, std::vector<const xmlNode*>* children) {
    for (const xmlNode* child = parent->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE)
            children->push_back(child);
        else if ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) &&
                 !xmlIsBlankNode(child))
            return false;
    }
    return true;
}

std::string CheckOperation(const xmlNode* operation) {
    std::vector<const xmlNode*> parts;
    if (!Elements(operation, &parts))
        return "text beside the elements of " + Name(operation);
    if (parts.empty())
        return Name(operation) + " has no xIn";
    if (parts.size() > 1)
        return Name(operation) + " holds more than xIn";
    if (!Is(parts[0], kServiceNamespace, "xIn"))
        return Name(operation) + " holds " + Name(parts[0]) + ", not xIn of " + kServiceNamespace;
    for (const xmlNode* child = parts[0]->children; child != nullptr; child = child->next)
        if (child->type == XML_ELEMENT_NODE)
            return "xIn holds an element; it is text";
    return std::string();
}

// The module writes each half of a surrogate pair as a 3-byte sequence of its own, which XML
// parsers refuse as UTF-8 while the SOAP runtime takes it. For the check each such half becomes
// U+FFFD, of the same length, so nothing else about the document changes.
std::string WithSurrogateHalvesReplaced(std::string text) {
    for (std::size_t i = 0; i + 2 < text.size(); ++i) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const auto second = static_cast<unsigned char>(text[i + 1]);
        const auto third = static_cast<unsigned char>(text[i + 2]);
        if (lead == 0xED && second >= 0xA0 && second <= 0xBF && (third & 0xC0) == 0x80) {
            text.replace(i, 3, "\xEF\xBF\xBD");
            i += 2;
        }
    }
    return text;
}

} // namespace

std::string CheckEnvelope(const std::string& raw) {
    const std::string body = WithSurrogateHalvesReplaced(raw);
    if (body.size() > INT_MAX)
        return "the request is too large";
    // No network, no entity expansion; a DTD is refused below.
    std::unique_ptr<xmlDoc, DocFree> doc(
        xmlReadMemory(body.data(), static_cast<int>(body.size()), nullptr, nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!doc)
        return "the request is not a well-formed XML document";
    if (doc->intSubset != nullptr)
        return "a SOAP message must not contain a document type declaration";
    const xmlNode* envelope = xmlDocGetRootElement(doc.get());
    if (envelope == nullptr)
        return "the request is not a well-formed XML document";
    if (!Is(envelope, kEnvelope11, "Envelope"))
        return "the document element is " + Name(envelope) + ", not a SOAP 1.1 Envelope";

    std::vector<const xmlNode*> parts;
    if (!Elements(envelope, &parts))
        return "text beside the elements of the Envelope";
    std::size_t at = 0;
    if (at < parts.size() && Is(parts[at], kEnvelope11, "Header"))
        ++at;
    if (at >= parts.size() || !Is(parts[at], kEnvelope11, "Body"))
        return "the Envelope has no Body where one belongs";
    const xmlNode* soapBody = parts[at];

    std::vector<const xmlNode*> operations;
    if (!Elements(soapBody, &operations))
        return "text beside the elements of the Body";
    if (operations.size() != 1)
        return "the Body holds " + std::to_string(operations.size()) + " elements, not one request";
    const xmlNode* operation = operations[0];
    if (!Is(operation, kServiceNamespace, "Set") && !Is(operation, kServiceNamespace, "Get"))
        return "no operation " + Name(operation) + " in this service";
    return CheckOperation(operation);
}

} // namespace devcfg
