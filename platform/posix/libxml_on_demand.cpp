// libxml2 for the shipped library, loaded at the first XML call instead of with the module.
// Debian's libxml2 brings ICU, zlib and lzma with it, and loading them costs a host several
// times what loading the module itself does, whether or not a command ever reaches an XML
// store. The module's own code calls the functions below as it would call libxml2; each is
// a local symbol of the module (the export map keeps everything else local) that forwards to
// the library, loaded once and kept. Should the library be missing, the
// calls fail as with unusable input: no document, no context, no node.
#include "platform/debug_out.h"
#include "platform/shared_library.h"

#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <string>

namespace {

constexpr const char* kLibraryName = "libxml2.so.2";

// The functions the module calls, and the library's free function, by their names in it.
enum Entry {
    kReadMemory,
    kXPathNewContext,
    kXPathFreeContext,
    kXPathEvalExpression,
    kXPathFreeObject,
    kXPathNodeSetCreate,
    kXPathNodeSetAddUnique,
    kXPathFreeNodeSet,
    kXPathWrapNodeSet,
    kStrEqual,
    kSetGenericErrorFunc,
    kGenericError,
    kGenericErrorContext,
    kNodeSetContent,
    kFreeDoc,
    kValidateName,
    kStrcmp,
    kSetProp,
    kSaveFile,
    kNodeDump,
    kNewDocNode,
    kNewChild,
    kInitParser,
    kGetDocEntity,
    kEncodeSpecialChars,
    kDocSetRootElement,
    kDocGetRootElement,
    kBufferFree,
    kBufferCreate,
    kBufferContent,
    kFree,
    kEntryCount
};

constexpr const char* kNames[kEntryCount] = {"xmlReadMemory",
                                             "xmlXPathNewContext",
                                             "xmlXPathFreeContext",
                                             "xmlXPathEvalExpression",
                                             "xmlXPathFreeObject",
                                             "xmlXPathNodeSetCreate",
                                             "xmlXPathNodeSetAddUnique",
                                             "xmlXPathFreeNodeSet",
                                             "xmlXPathWrapNodeSet",
                                             "xmlStrEqual",
                                             "xmlSetGenericErrorFunc",
                                             "__xmlGenericError",
                                             "__xmlGenericErrorContext",
                                             "xmlNodeSetContent",
                                             "xmlFreeDoc",
                                             "xmlValidateName",
                                             "xmlStrcmp",
                                             "xmlSetProp",
                                             "xmlSaveFile",
                                             "xmlNodeDump",
                                             "xmlNewDocNode",
                                             "xmlNewChild",
                                             "xmlInitParser",
                                             "xmlGetDocEntity",
                                             "xmlEncodeSpecialChars",
                                             "xmlDocSetRootElement",
                                             "xmlDocGetRootElement",
                                             "xmlBufferFree",
                                             "xmlBufferCreate",
                                             "xmlBufferContent",
                                             "xmlFree"};

struct Loaded {
    void* address[kEntryCount] = {};
};

// Loaded once and never unloaded, not even with the module: libxml2 keeps state for each thread
// that used it, with a destructor that runs when such a thread ends, which may be after the
// module is gone. A module loaded again finds it loaded.
const Loaded& Library() {
    static const Loaded loaded = [] {
        Loaded found;
        platform::SharedLibrary library = platform::SharedLibrary::Open(kLibraryName);
        bool complete = library.IsOpen();
        for (int i = 0; i < kEntryCount && complete; ++i) {
            found.address[i] = library.Symbol(kNames[i]);
            complete = found.address[i] != nullptr;
        }
        if (!complete) {
            const std::string why = platform::SharedLibrary::Error();
            platform::native::DebugOutput(u"PluginPandel: no XML library (" +
                                          std::u16string(why.begin(), why.end()) + u")");
            return Loaded{};
        }
        library.KeepLoaded();
        return found;
    }();
    return loaded;
}

template <typename Function> Function Real(Entry entry) {
    return reinterpret_cast<Function>(Library().address[entry]);
}

// The result of the library's function, or failed when there is no library.
template <typename Function, typename Result, typename... Args>
Result Forward(Entry entry, Result failed, Args... args) {
    const Function real = Real<Function>(entry);
    return real != nullptr ? real(args...) : failed;
}

template <typename Function, typename... Args> void ForwardVoid(Entry entry, Args... args) {
    const Function real = Real<Function>(entry);
    if (real != nullptr)
        real(args...);
}

void FreeThroughLibrary(void* memory) {
    const auto* libraryFree = static_cast<xmlFreeFunc*>(Library().address[kFree]);
    if (libraryFree != nullptr && memory != nullptr)
        (*libraryFree)(memory);
}

} // namespace

extern "C" {

// Memory that the library handed out goes back through the library's own free function.
xmlFreeFunc xmlFree = FreeThroughLibrary;

xmlDocPtr xmlReadMemory(const char* buffer, int size, const char* url, const char* encoding,
                        int options) {
    return Forward<decltype(&xmlReadMemory)>(kReadMemory, xmlDocPtr{}, buffer, size, url, encoding,
                                             options);
}

xmlXPathContextPtr xmlXPathNewContext(xmlDocPtr document) {
    return Forward<decltype(&xmlXPathNewContext)>(kXPathNewContext, xmlXPathContextPtr{}, document);
}

void xmlXPathFreeContext(xmlXPathContextPtr context) {
    ForwardVoid<decltype(&xmlXPathFreeContext)>(kXPathFreeContext, context);
}

xmlXPathObjectPtr xmlXPathEvalExpression(const xmlChar* expression, xmlXPathContextPtr context) {
    return Forward<decltype(&xmlXPathEvalExpression)>(kXPathEvalExpression, xmlXPathObjectPtr{},
                                                      expression, context);
}

void xmlXPathFreeObject(xmlXPathObjectPtr object) {
    ForwardVoid<decltype(&xmlXPathFreeObject)>(kXPathFreeObject, object);
}

xmlNodeSetPtr xmlXPathNodeSetCreate(xmlNodePtr node) {
    return Forward<decltype(&xmlXPathNodeSetCreate)>(kXPathNodeSetCreate, xmlNodeSetPtr{}, node);
}

int xmlXPathNodeSetAddUnique(xmlNodeSetPtr nodes, xmlNodePtr node) {
    return Forward<decltype(&xmlXPathNodeSetAddUnique)>(kXPathNodeSetAddUnique, -1, nodes, node);
}

void xmlXPathFreeNodeSet(xmlNodeSetPtr nodes) {
    ForwardVoid<decltype(&xmlXPathFreeNodeSet)>(kXPathFreeNodeSet, nodes);
}

xmlXPathObjectPtr xmlXPathWrapNodeSet(xmlNodeSetPtr nodes) {
    return Forward<decltype(&xmlXPathWrapNodeSet)>(kXPathWrapNodeSet, xmlXPathObjectPtr{}, nodes);
}

int xmlStrEqual(const xmlChar* first, const xmlChar* second) {
    return Forward<decltype(&xmlStrEqual)>(kStrEqual, 0, first, second);
}

void xmlSetGenericErrorFunc(void* context, xmlGenericErrorFunc handler) {
    ForwardVoid<decltype(&xmlSetGenericErrorFunc)>(kSetGenericErrorFunc, context, handler);
}

// Without the library there is no handler to read: a place that holds none.
xmlGenericErrorFunc* __xmlGenericError(void) {
    static thread_local xmlGenericErrorFunc none = nullptr;
    return Forward<decltype(&__xmlGenericError)>(kGenericError, &none);
}

void** __xmlGenericErrorContext(void) {
    static thread_local void* none = nullptr;
    return Forward<decltype(&__xmlGenericErrorContext)>(kGenericErrorContext, &none);
}

void xmlNodeSetContent(xmlNodePtr node, const xmlChar* content) {
    ForwardVoid<decltype(&xmlNodeSetContent)>(kNodeSetContent, node, content);
}

void xmlFreeDoc(xmlDocPtr document) {
    ForwardVoid<decltype(&xmlFreeDoc)>(kFreeDoc, document);
}

int xmlValidateName(const xmlChar* value, int space) {
    return Forward<decltype(&xmlValidateName)>(kValidateName, 1, value, space);
}

int xmlStrcmp(const xmlChar* first, const xmlChar* second) {
    return Forward<decltype(&xmlStrcmp)>(kStrcmp, 1, first, second);
}

xmlAttrPtr xmlSetProp(xmlNodePtr node, const xmlChar* name, const xmlChar* value) {
    return Forward<decltype(&xmlSetProp)>(kSetProp, xmlAttrPtr{}, node, name, value);
}

int xmlSaveFile(const char* filename, xmlDocPtr document) {
    return Forward<decltype(&xmlSaveFile)>(kSaveFile, -1, filename, document);
}

int xmlNodeDump(xmlBufferPtr buffer, xmlDocPtr document, xmlNodePtr node, int level, int format) {
    return Forward<decltype(&xmlNodeDump)>(kNodeDump, -1, buffer, document, node, level, format);
}

xmlNodePtr xmlNewDocNode(xmlDocPtr document, xmlNsPtr ns, const xmlChar* name,
                         const xmlChar* content) {
    return Forward<decltype(&xmlNewDocNode)>(kNewDocNode, xmlNodePtr{}, document, ns, name,
                                             content);
}

xmlNodePtr xmlNewChild(xmlNodePtr parent, xmlNsPtr ns, const xmlChar* name,
                       const xmlChar* content) {
    return Forward<decltype(&xmlNewChild)>(kNewChild, xmlNodePtr{}, parent, ns, name, content);
}

void xmlInitParser(void) {
    ForwardVoid<decltype(&xmlInitParser)>(kInitParser);
}

xmlEntityPtr xmlGetDocEntity(const xmlDoc* document, const xmlChar* name) {
    return Forward<decltype(&xmlGetDocEntity)>(kGetDocEntity, xmlEntityPtr{}, document, name);
}

xmlChar* xmlEncodeSpecialChars(const xmlDoc* document, const xmlChar* input) {
    return Forward<decltype(&xmlEncodeSpecialChars)>(
        kEncodeSpecialChars, static_cast<xmlChar*>(nullptr), document, input);
}

xmlNodePtr xmlDocSetRootElement(xmlDocPtr document, xmlNodePtr root) {
    return Forward<decltype(&xmlDocSetRootElement)>(kDocSetRootElement, xmlNodePtr{}, document,
                                                    root);
}

xmlNodePtr xmlDocGetRootElement(const xmlDoc* document) {
    return Forward<decltype(&xmlDocGetRootElement)>(kDocGetRootElement, xmlNodePtr{}, document);
}

void xmlBufferFree(xmlBufferPtr buffer) {
    ForwardVoid<decltype(&xmlBufferFree)>(kBufferFree, buffer);
}

xmlBufferPtr xmlBufferCreate(void) {
    return Forward<decltype(&xmlBufferCreate)>(kBufferCreate, xmlBufferPtr{});
}

const xmlChar* xmlBufferContent(const xmlBuffer* buffer) {
    return Forward<decltype(&xmlBufferContent)>(kBufferContent,
                                                static_cast<const xmlChar*>(nullptr), buffer);
}

} // extern "C"
