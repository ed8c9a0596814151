// XML files on Windows: the MSXML DOM document over COM, on a thread where the host has started
// COM (the module never starts it itself).
#include "platform/xml_file.h"

#include "platform/wide_text.h"
#include "platform/win32/windows_api.h"

#include <msxml.h>
#include <ole2.h>
#include <oleauto.h>

namespace pandel::platform {
namespace {

// The MSXML DOM document class and its IXMLDOMDocument interface.
constexpr CLSID kDomDocumentClass = {
    0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr IID kDomDocumentInterface = {
    0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
// In-process server and handler, local and remote server.
constexpr DWORD kClassContext = 23;

// An interface reference released when it goes.
template <typename T> class ComRef {
public:
    ComRef() = default;
    ~ComRef() {
        if (p_ != nullptr)
            p_->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    T** out() { return &p_; }
    void** outVoid() { return reinterpret_cast<void**>(&p_); }

private:
    T* p_ = nullptr;
};

class Bstr {
public:
    explicit Bstr(const std::u16string& text)
        : b_(SysAllocStringLen(win32::Wide(text), static_cast<UINT>(text.size()))) {}
    Bstr() = default;
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return b_; }
    BSTR* out() { return &b_; }
    std::u16string text() const { return win32::FromWide(b_, SysStringLen(b_)); }

private:
    BSTR b_ = nullptr;
};

// True when path names a regular file that is not larger than kMaxXmlFileBytes.
bool IsReadableSize(const std::u16string& path) {
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!GetFileAttributesExW(win32::Wide(path), GetFileExInfoStandard, &info))
        return false;
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
        return false;
    const unsigned long long size =
        (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return size <= kMaxXmlFileBytes;
}

// A new document that loads synchronously, does not validate and fetches no external entity or
// DTD; none when any of these cannot be had (COM not started on the thread, MSXML missing).
bool CreateDomDocument(ComRef<IXMLDOMDocument>& document) {
    if (FAILED(CoCreateInstance(kDomDocumentClass, nullptr, kClassContext, kDomDocumentInterface,
                                document.outVoid())) ||
        document.get() == nullptr)
        return false;
    return SUCCEEDED(document->put_async(VARIANT_FALSE)) &&
           SUCCEEDED(document->put_validateOnParse(VARIANT_FALSE)) &&
           SUCCEEDED(document->put_resolveExternals(VARIANT_FALSE));
}

// The text of the first node that expression selects; nullopt when it selects none or a call
// fails.
std::optional<std::u16string> SelectedText(IXMLDOMDocument* document,
                                           const std::string& expression) {
    Bstr query(Utf8ToUtf16(expression));
    if (query.get() == nullptr)
        return std::nullopt;
    ComRef<IXMLDOMNode> node;
    if (document->selectSingleNode(query.get(), node.out()) != S_OK || node.get() == nullptr)
        return std::nullopt;
    Bstr text;
    if (FAILED(node->get_text(text.out())))
        return std::nullopt;
    return TrimXmlSpace(text.text());
}

} // namespace

std::optional<std::vector<std::u16string>>
ReadXmlNodeTexts(const std::string& path, const std::vector<std::string>& expressions) {
    const std::u16string widePath = Utf8ToUtf16(path);
    if (widePath.empty() || widePath.find(u'\0') != std::u16string::npos ||
        !IsReadableSize(widePath))
        return std::nullopt;
    ComRef<IXMLDOMDocument> document;
    if (!CreateDomDocument(document))
        return std::nullopt;
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocStringLen(win32::Wide(widePath), static_cast<UINT>(widePath.size()));
    if (source.bstrVal == nullptr)
        return std::nullopt;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT status = document->load(source, &loaded);
    VariantClear(&source);
    if (status != S_OK || loaded != VARIANT_TRUE)
        return std::nullopt;

    std::vector<std::u16string> texts;
    for (const std::string& expression : expressions) {
        std::optional<std::u16string> text = SelectedText(document.get(), expression);
        if (!text)
            break;
        texts.push_back(std::move(*text));
    }
    return texts;
}

} // namespace pandel::platform
