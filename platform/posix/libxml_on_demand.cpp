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

// Without the library there is no error handler to read: places that hold none.
xmlGenericErrorFunc* NoErrorHandler() {
    static thread_local xmlGenericErrorFunc none = nullptr;
    return &none;
}
void** NoErrorContext() {
    static thread_local void* none = nullptr;
    return &none;
}

// Every function of the library the module calls, once: its name, its result, what it gives
// without the library, its parameters and the arguments they pass on. The entries, the names
// looked up and the forwarders below all come from this list.
// clang-format off
#define PANDEL_LIBXML_CALLS(X) \
    X(xmlReadMemory, xmlDocPtr, nullptr, (const char* buffer, int size, const char* url, const char* encoding, int options), (buffer, size, url, encoding, options)) \
    X(xmlXPathNewContext, xmlXPathContextPtr, nullptr, (xmlDocPtr document), (document)) \
    X(xmlXPathFreeContext, void, void(), (xmlXPathContextPtr context), (context)) \
    X(xmlXPathEvalExpression, xmlXPathObjectPtr, nullptr, (const xmlChar* expression, xmlXPathContextPtr context), (expression, context)) \
    X(xmlXPathFreeObject, void, void(), (xmlXPathObjectPtr object), (object)) \
    X(xmlXPathNodeSetCreate, xmlNodeSetPtr, nullptr, (xmlNodePtr node), (node)) \
    X(xmlXPathNodeSetAddUnique, int, -1, (xmlNodeSetPtr nodes, xmlNodePtr node), (nodes, node)) \
    X(xmlXPathFreeNodeSet, void, void(), (xmlNodeSetPtr nodes), (nodes)) \
    X(xmlXPathWrapNodeSet, xmlXPathObjectPtr, nullptr, (xmlNodeSetPtr nodes), (nodes)) \
    X(xmlStrEqual, int, 0, (const xmlChar* first, const xmlChar* second), (first, second)) \
    X(xmlSetGenericErrorFunc, void, void(), (void* context, xmlGenericErrorFunc handler), (context, handler)) \
    X(__xmlGenericError, xmlGenericErrorFunc*, NoErrorHandler(), (void), ()) \
    X(__xmlGenericErrorContext, void**, NoErrorContext(), (void), ()) \
    X(xmlNodeSetContent, void, void(), (xmlNodePtr node, const xmlChar* content), (node, content)) \
    X(xmlFreeDoc, void, void(), (xmlDocPtr document), (document)) \
    X(xmlValidateName, int, 1, (const xmlChar* value, int space), (value, space)) \
    X(xmlStrcmp, int, 1, (const xmlChar* first, const xmlChar* second), (first, second)) \
    X(xmlSetProp, xmlAttrPtr, nullptr, (xmlNodePtr node, const xmlChar* name, const xmlChar* value), (node, name, value)) \
    X(xmlSaveFile, int, -1, (const char* filename, xmlDocPtr document), (filename, document)) \
    X(xmlNodeDump, int, -1, (xmlBufferPtr buffer, xmlDocPtr document, xmlNodePtr node, int level, int format), (buffer, document, node, level, format)) \
    X(xmlNewDocNode, xmlNodePtr, nullptr, (xmlDocPtr document, xmlNsPtr ns, const xmlChar* name, const xmlChar* content), (document, ns, name, content)) \
    X(xmlNewChild, xmlNodePtr, nullptr, (xmlNodePtr parent, xmlNsPtr ns, const xmlChar* name, const xmlChar* content), (parent, ns, name, content)) \
    X(xmlInitParser, void, void(), (void), ()) \
    X(xmlGetDocEntity, xmlEntityPtr, nullptr, (const xmlDoc* document, const xmlChar* name), (document, name)) \
    X(xmlEncodeSpecialChars, xmlChar*, nullptr, (const xmlDoc* document, const xmlChar* input), (document, input)) \
    X(xmlDocSetRootElement, xmlNodePtr, nullptr, (xmlDocPtr document, xmlNodePtr root), (document, root)) \
    X(xmlDocGetRootElement, xmlNodePtr, nullptr, (const xmlDoc* document), (document)) \
    X(xmlBufferFree, void, void(), (xmlBufferPtr buffer), (buffer)) \
    X(xmlBufferCreate, xmlBufferPtr, nullptr, (void), ()) \
    X(xmlBufferContent, const xmlChar*, nullptr, (const xmlBuffer* buffer), (buffer))
// clang-format on

// The library's entries by index: its functions, then its free function (a variable).
enum Entry {
#define PANDEL_LIBXML_ENTRY(name, result, failed, parameters, arguments) k_##name,
    PANDEL_LIBXML_CALLS(PANDEL_LIBXML_ENTRY)
#undef PANDEL_LIBXML_ENTRY
        kFree,
    kEntryCount
};

constexpr const char* kNames[kEntryCount] = {
#define PANDEL_LIBXML_NAME(name, result, failed, parameters, arguments) #name,
    PANDEL_LIBXML_CALLS(PANDEL_LIBXML_NAME)
#undef PANDEL_LIBXML_NAME
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
        pandel::platform::SharedLibrary library =
            pandel::platform::SharedLibrary::Open(kLibraryName);
        bool complete = library.IsOpen();
        for (int i = 0; i < kEntryCount && complete; ++i) {
            found.address[i] = library.Symbol(kNames[i]);
            complete = found.address[i] != nullptr;
        }
        if (!complete) {
            const std::string why = pandel::platform::SharedLibrary::Error();
            pandel::platform::native::DebugOutput(u"PluginPandel: no XML library (" +
                                                  std::u16string(why.begin(), why.end()) + u")");
            return Loaded{};
        }
        library.KeepLoaded();
        return found;
    }();
    return loaded;
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

// Each forwarder calls the library's function, or gives what it gives without the library.
#define PANDEL_LIBXML_FORWARDER(name, result, failed, parameters, arguments)                       \
    result name parameters {                                                                       \
        const auto real = reinterpret_cast<decltype(&name)>(Library().address[k_##name]);          \
        if (real == nullptr)                                                                       \
            return failed;                                                                         \
        return real arguments;                                                                     \
    }
PANDEL_LIBXML_CALLS(PANDEL_LIBXML_FORWARDER)
#undef PANDEL_LIBXML_FORWARDER

} // extern "C"
