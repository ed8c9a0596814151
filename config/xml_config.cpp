// CXmlConfig: the store's operations over its XmlDocContext.
#include "config/xml_config.h"

#include "config/xml_doc_context.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>

namespace pandel {
namespace {

// SetString's result when the path led to no value being set.
constexpr std::int32_t kNothingSet = -1;

void IgnoreGenericError(void*, const char*, ...) {}

// Keeps libxml2's messages that have no parser context (I/O, serialisation) off the host's
// standard error for one operation; the thread's previous handler is put back afterwards.
class QuietXmlErrors {
public:
    QuietXmlErrors() : handler_(xmlGenericError), handlerContext_(xmlGenericErrorContext) {
        xmlSetGenericErrorFunc(nullptr, IgnoreGenericError);
    }
    ~QuietXmlErrors() { xmlSetGenericErrorFunc(handlerContext_, handler_); }
    QuietXmlErrors(const QuietXmlErrors&) = delete;
    QuietXmlErrors& operator=(const QuietXmlErrors&) = delete;

private:
    xmlGenericErrorFunc handler_;
    void* handlerContext_;
};

bool IsTrueText(const std::u16string& text) {
    return text == u"true" || text == u"True";
}

// A name libxml2 may give an element or attribute without making the document unreadable.
bool IsXmlName(const std::string& name) {
    return !name.empty() && xmlValidateName(reinterpret_cast<const xmlChar*>(name.c_str()), 0) == 0;
}

const xmlChar* AsXml(const std::string& text) {
    return reinterpret_cast<const xmlChar*>(text.c_str());
}

// Replaces the node's value by text, literally. libxml2 reads the content of an element or an
// attribute as markup with entity references, so "a & b" would lose everything from the '&';
// the text is escaped for those kinds and handed over as it is for the others.
void SetNodeValue(xmlNodePtr node, const std::string& text) {
    switch (node->type) {
    case XML_ELEMENT_NODE:
    case XML_ATTRIBUTE_NODE:
    case XML_DOCUMENT_FRAG_NODE: {
        xmlChar* escaped = xmlEncodeSpecialChars(node->doc, AsXml(text));
        if (escaped == nullptr)
            return;
        xmlNodeSetContent(node, escaped);
        xmlFree(escaped);
        return;
    }
    case XML_NAMESPACE_DECL:
        return;
    default:
        xmlNodeSetContent(node, AsXml(text));
        return;
    }
}

// The element child that the step name[n] names: the n-th element child called name (the first
// for n of 0 or none); null when there is none.
xmlNodePtr FindElementStep(xmlNodePtr parent, const std::string& name, std::int32_t n) {
    std::int32_t wanted = n == 0 ? 1 : n;
    std::int32_t seen = 0;
    for (xmlNodePtr child = parent->children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || xmlStrcmp(child->name, AsXml(name)) != 0)
            continue;
        if (++seen == wanted)
            return child;
    }
    return nullptr;
}

template <typename T, typename Convert>
void AppendTexts(XmlDocContext& context, std::vector<T>& values, Convert convert) {
    if (context.selection == nullptr)
        return;
    int count = context.selection->nodeNr;
    for (int i = 0; i < count; ++i)
        values.push_back(convert(GetNodeText(context, i)));
}

} // namespace

CXmlConfig::CXmlConfig(const std::u16string& xml) : context_(CreateXmlDocContext(xml)) {}

CXmlConfig::~CXmlConfig() {
    DestroyXmlDocContext(context_);
}

void CXmlConfig::SetSavePath(const std::u16string& filePath) {
    filePath_ = filePath;
}

std::int32_t CXmlConfig::GetDword(const std::u16string& path, std::uint32_t& value) {
    EvaluatePath(*context_, path);
    value = static_cast<std::uint32_t>(ParseDecimal(GetNodeText(*context_, 0)));
    return 0;
}

std::int32_t CXmlConfig::GetLong(const std::u16string& path, std::int32_t& value) {
    EvaluatePath(*context_, path);
    value = ParseDecimal(GetNodeText(*context_, 0));
    return 0;
}

std::int32_t CXmlConfig::GetString(const std::u16string& path, std::u16string& value) {
    EvaluatePath(*context_, path);
    value = GetNodeText(*context_, 0);
    return 0;
}

std::int32_t CXmlConfig::GetText(const std::u16string& path, std::u16string& value) {
    return GetString(path, value);
}

std::int32_t CXmlConfig::GetFlag(const std::u16string& path, std::int32_t& value) {
    EvaluatePath(*context_, path);
    value = IsTrueText(GetNodeText(*context_, 0)) ? 1 : 0;
    return 0;
}

std::int32_t CXmlConfig::GetBool(const std::u16string& path, bool& value) {
    EvaluatePath(*context_, path);
    value = IsTrueText(GetNodeText(*context_, 0));
    return 0;
}

std::int32_t CXmlConfig::GetBoolList(const std::u16string& path, std::vector<bool>& values) {
    EvaluatePath(*context_, path);
    AppendTexts(*context_, values, IsTrueText);
    return 0;
}

std::int32_t CXmlConfig::GetStringList(const std::u16string& path,
                                       std::vector<std::u16string>& values) {
    EvaluatePath(*context_, path);
    AppendTexts(*context_, values, [](std::u16string text) { return text; });
    return 0;
}

std::int32_t CXmlConfig::GetLongList(const std::u16string& path,
                                     std::vector<std::int32_t>& values) {
    EvaluatePath(*context_, path);
    AppendTexts(*context_, values, ParseDecimal);
    return 0;
}

std::int32_t CXmlConfig::GetTextList(const std::u16string& path,
                                     std::vector<std::u16string>& values) {
    return GetStringList(path, values);
}

// Returns 0 when the value was set and kNothingSet when the path led nowhere.
std::int32_t CXmlConfig::SetString(const std::u16string& path, const std::u16string& value) {
    std::vector<std::u16string> segments = SplitPath(path);
    if (segments.empty())
        return kNothingSet;
    std::string text = WideToUtf8(value);
    QuietXmlErrors quiet;
    if (EvaluatePath(*context_, path) == kPathSelected) {
        SetNodeValue(context_->selection->nodeTab[0], text);
        // The edit may have freed selected nodes; nothing may read them any more.
        xmlXPathFreeObject(context_->lastResult);
        context_->lastResult = nullptr;
        context_->selection = nullptr;
        return 0;
    }
    xmlDocPtr document = context_->document;
    if (document == nullptr)
        return kNothingSet;
    xmlNodePtr current = xmlDocGetRootElement(document);
    if (current == nullptr) {
        std::string rootName = WideToUtf8(segments[0]);
        if (!IsXmlName(rootName))
            return kNothingSet;
        current = xmlNewDocNode(document, nullptr, AsXml(rootName), nullptr);
        if (current == nullptr)
            return kNothingSet;
        xmlDocSetRootElement(document, current);
    }
    for (std::size_t i = 1; i < segments.size(); ++i) {
        const std::u16string& segment = segments[i];
        if (segment[0] == u'@') {
            std::string name = WideToUtf8(segment.substr(1));
            if (!IsXmlName(name) || xmlSetProp(current, AsXml(name), AsXml(text)) == nullptr)
                return kNothingSet;
            return 0;
        }
        if (segment[0] == u'.') {
            SetNodeValue(current, text);
            return 0;
        }
        std::size_t bracket = segment.find(u'[');
        std::string name = WideToUtf8(segment.substr(0, bracket));
        std::int32_t n =
            bracket == std::u16string::npos ? 0 : ParseDecimal(segment.substr(bracket + 1));
        if (!IsXmlName(name))
            return kNothingSet;
        xmlNodePtr next = FindElementStep(current, name, n);
        if (next == nullptr)
            next = xmlNewChild(current, nullptr, AsXml(name), nullptr);
        if (next == nullptr)
            return kNothingSet;
        current = next;
        if (i + 1 == segments.size()) {
            SetNodeValue(current, text);
            return 0;
        }
    }
    return kNothingSet;
}

std::int32_t CXmlConfig::SetDword(const std::u16string&, std::uint32_t) {
    return kNotImplemented;
}
std::int32_t CXmlConfig::SetLong(const std::u16string&, std::int32_t) {
    return kNotImplemented;
}
std::int32_t CXmlConfig::SetFlag(const std::u16string&, std::int32_t) {
    return kNotImplemented;
}
std::int32_t CXmlConfig::SetBool(const std::u16string&, bool) {
    return kNotImplemented;
}
std::int32_t CXmlConfig::SetStringList(const std::u16string&, const std::vector<std::u16string>&) {
    return kNotImplemented;
}
std::int32_t CXmlConfig::SetLongList(const std::u16string&, const std::vector<std::int32_t>&) {
    return kNotImplemented;
}
std::int32_t CXmlConfig::SetBoolList(const std::u16string&, const std::vector<bool>&) {
    return kNotImplemented;
}
std::int32_t CXmlConfig::Load(const std::u16string&) {
    return kNotImplemented;
}
std::int32_t CXmlConfig::SaveAs(const std::u16string&) {
    return kNotImplemented;
}

std::int32_t CXmlConfig::GetCount(const std::u16string& path, std::int32_t& count) {
    EvaluatePath(*context_, path);
    count = context_->selection == nullptr ? 0 : context_->selection->nodeNr;
    return count;
}

std::int32_t CXmlConfig::Remove(const std::u16string&) {
    return kNotImplemented;
}
std::int32_t CXmlConfig::Clear() {
    return kNotImplemented;
}

// The path is narrow text in the file system's encoding (UTF-8 here).
std::int32_t CXmlConfig::Save() {
    if (context_->document == nullptr || filePath_.empty())
        return 0;
    std::string path = WideToUtf8(filePath_);
    QuietXmlErrors quiet;
    xmlSaveFile(path.c_str(), context_->document);
    return 0;
}

std::int32_t CXmlConfig::GetXml(const std::u16string& path, std::u16string& xml) {
    xml.clear();
    if (EvaluatePath(*context_, path) != kPathSelected || context_->nameMode)
        return 0;
    QuietXmlErrors quiet;
    xmlBufferPtr buffer = xmlBufferCreate();
    if (buffer == nullptr)
        return 0;
    if (xmlNodeDump(buffer, context_->document, context_->selection->nodeTab[0], 0, 0) != -1)
        xml = Utf8ToWide(xmlBufferContent(buffer));
    xmlBufferFree(buffer);
    return 0;
}

} // namespace pandel
