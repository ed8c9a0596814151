// libxml2 set-up and bounded node text for the module's parsers.
#include "platform/libxml_text.h"

#include <cstring>
#include <mutex>

namespace pandel::platform::libxml {
namespace {

// References to empty entities add no bytes but can still multiply.
constexpr std::size_t kMaxEntityNodeVisits = 1u << 20;
// Entity references nest at most this deep in a document the parser accepts.
constexpr int kMaxEntityDepth = 40;

void IgnoreXPathError(void*, xmlErrorPtr) {}

class TextCollector {
public:
    TextCollector(xmlDocPtr document, bool descendants)
        : document_(document), descendants_(descendants) {}

    void Collect(const xmlNode* list, int depth) {
        for (const xmlNode* node = list; node != nullptr && !overflow_; node = node->next) {
            if (depth > 0 && ++entityVisits_ > kMaxEntityNodeVisits) {
                overflow_ = true;
                return;
            }
            switch (node->type) {
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE:
                Append(node->content, depth);
                break;
            case XML_ELEMENT_NODE:
                if (descendants_)
                    Collect(node->children, depth);
                break;
            case XML_ENTITY_REF_NODE:
                Replace(node, depth);
                break;
            default:
                break;
            }
        }
    }

    bool overflow() const { return overflow_; }
    std::string& text() { return text_; }

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
    bool descendants_;
    std::string text_;
    std::size_t entityBytes_ = 0;
    std::size_t entityVisits_ = 0;
    bool overflow_ = false;
};

} // namespace

void InitParserOnce() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

void SilenceXPathErrors(xmlXPathContextPtr context) {
    if (context != nullptr)
        context->error = IgnoreXPathError;
}

std::optional<std::string> BoundedText(xmlDocPtr document, const xmlNode* first, bool descendants) {
    TextCollector collector(document, descendants);
    collector.Collect(first, 0);
    if (collector.overflow())
        return std::nullopt;
    return std::move(collector.text());
}

} // namespace pandel::platform::libxml
