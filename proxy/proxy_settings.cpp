// The proxy settings file, the endpoint rewrite to the proxy and the local address list, each
// piece of shared work under its machine-wide named lock.
#include "proxy/proxy_settings.h"

#include "config/agent_config.h"
#include "platform/regular_file.h"
#include "platform/wide_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace pandel {
namespace {

// The two diagnostics are the host console's GBK bytes: "proxy unavailable", "proxy not enabled".
constexpr const char* kProxyUnavailableText = "\xB4\xFA\xC0\xED\xB2\xBB\xBF\xC9\xD3\xC3";
constexpr const char* kProxyNotEnabledText = "\xB4\xFA\xC0\xED\xCE\xB4\xBF\xAA\xC6\xF4";

constexpr const char16_t* kProxyFileDirectory = u"Conf";
constexpr const char16_t* kProxyFileName = u"ProxyInfo.xml";
constexpr const char* kEnableWord = "true";
constexpr std::size_t kProxyWordCount = 3;
constexpr std::size_t kMaxProxyWordLength = kProxyWordBufferSize - 1;
constexpr std::size_t kMaxHostNameLength = 31; // the name must fit a 32-byte buffer with its NUL
// The file is read in one piece up to this size; the three words must lie within it.
constexpr std::size_t kMaxProxyFileBytes = 64 * 1024;

// Lines on standard output are flushed at once: a host that ends abruptly must not lose them.
void PrintLine(const char* text) {
    std::puts(text);
    std::fflush(stdout);
}

// Holds a named lock for one piece of work. A lock that cannot be had leaves the work unguarded;
// the wait, signal and close then do nothing.
class NamedLockHold {
public:
    explicit NamedLockHold(const char16_t* name) : lock_(OpenNamedLock(name)) {
        platform::Current().WaitNamedLock(lock_);
    }
    ~NamedLockHold() {
        platform::Current().SignalNamedLock(lock_);
        platform::Current().CloseNamedLock(lock_);
    }
    NamedLockHold(const NamedLockHold&) = delete;
    NamedLockHold& operator=(const NamedLockHold&) = delete;

private:
    platform::LockHandle lock_;
};

std::string ProxyFilePath() {
    std::u16string dir;
    GetHostDirectory(dir);
    // The directory ends in the platform's own separator; without one the path is relative.
    const char16_t separator = dir.empty() ? u'/' : dir.back();
    return platform::Utf16ToUtf8(dir + kProxyFileDirectory + separator + kProxyFileName);
}

bool IsWordSeparator(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

struct ProxyWords {
    std::string words[kProxyWordCount]; // a missing word stays empty
    bool overlong = false;              // a word did not fit its buffer; reading stopped there
    bool reachedEnd = false;            // the text ended before a separator closed the third word
};

// Reads up to three white-space separated words. A word longer than its buffer ends the read:
// such a file cannot name a proxy that fits the endpoint.
ProxyWords ReadWords(const std::string& text) {
    ProxyWords result;
    std::size_t at = 0;
    for (std::string& word : result.words) {
        while (at < text.size() && IsWordSeparator(text[at]))
            ++at;
        const std::size_t start = at;
        while (at < text.size() && !IsWordSeparator(text[at]))
            ++at;
        if (at - start > kMaxProxyWordLength) {
            result.overlong = true;
            return result;
        }
        word.assign(text, start, at - start);
        if (at == text.size()) {
            result.reachedEnd = true;
            break;
        }
    }
    return result;
}

// A word is used as C text: a NUL byte read from the file ends it.
std::string AsText(const std::string& word) {
    return std::string(word.c_str());
}

// Reads the settings file under the proxy lock and prints why a proxy is not used. Returns the
// proxy's host and port when the file enables it.
std::optional<std::pair<std::string, std::string>> LoadProxySettings() {
    NamedLockHold hold(kProxyLockName);
    const ProxyFileContent content = ReadProxyFile();
    if (!content.opened) {
        PrintLine(kProxyUnavailableText);
        return std::nullopt;
    }
    if (!content.enabled) {
        PrintLine(kProxyNotEnabledText);
        return std::nullopt;
    }
    return std::make_pair(content.words[0], content.words[1]);
}

// The path of http://host:port/path. Nothing when the "//", the ':' before the port or the '/'
// after it is missing: such an endpoint is never rewritten. Host and port give way to the proxy's.
std::optional<std::string> EndpointPath(const std::string& url) {
    const std::size_t slashes = url.find("//");
    if (slashes == std::string::npos)
        return std::nullopt;
    const std::size_t authority = slashes + 2;
    const std::size_t pathSlash = url.find('/', authority);
    if (pathSlash == std::string::npos)
        return std::nullopt;
    const std::size_t portColon = url.find(':', authority);
    if (portColon == std::string::npos || portColon > pathSlash)
        return std::nullopt;
    return url.substr(pathSlash + 1);
}

} // namespace

ProxyFileContent ReadProxyFile() {
    ProxyFileContent content;
    content.path = ProxyFilePath();
    // Only a plain file: a directory is not a settings file, and a pipe would block the report.
    // One byte more than is read tells a longer file.
    std::optional<std::string> text =
        platform::ReadRegularFile(content.path, kMaxProxyFileBytes + 1);
    if (!text)
        return content;
    const bool cut = text->size() > kMaxProxyFileBytes;
    text->resize(std::min(text->size(), kMaxProxyFileBytes));
    ProxyWords read = ReadWords(*text);
    // Where the words run into the bound, the rest of the file could change them: such a file
    // is not read at all rather than read as something it may not say.
    if (cut && read.reachedEnd && !read.overlong) {
        content.pastBound = true;
        return content;
    }
    content.opened = true;
    for (std::size_t i = 0; i < kProxyWordCount; ++i)
        content.words[i] = AsText(read.words[i]);
    content.overlong = read.overlong;
    content.enabled = !read.overlong && content.words[2] == kEnableWord;
    return content;
}

std::optional<std::string> ProxiedEndpoint(const std::string& url, const std::string& host,
                                           const std::string& port) {
    std::optional<std::string> path = EndpointPath(url);
    if (!path)
        return std::nullopt;
    std::string rewritten = "http://" + host + ":" + port + "/" + *path;
    // Sending to a cut-off proxy address would be worse than not using the proxy.
    if (rewritten.size() >= kEndpointBufferSize)
        return std::nullopt;
    return rewritten;
}

void AppendHostAddresses(std::string& list) {
    NamedLockHold hold(kHostAddressLockName);
    platform::IPlatform& os = platform::Current();
    std::optional<std::string> hostName = os.HostName();
    if (!hostName || hostName->size() > kMaxHostNameLength)
        return;
    for (const std::string& address : os.ResolveIPv4(*hostName)) {
        // The list ends at the last address that fits whole.
        if (list.size() + 1 + address.size() >= kLocalAddressBufferSize)
            break;
        list += ',';
        list += address;
    }
}

platform::LockHandle OpenNamedLock(const std::u16string& name) {
    return platform::Current().OpenNamedLock(name);
}

bool IsProxyEnabled() {
    return LoadProxySettings().has_value();
}

bool ReadProxySettings(char* host, char* port) {
    if (host == nullptr || port == nullptr)
        return false;
    auto proxy = LoadProxySettings();
    if (!proxy)
        return false;
    // Each word is at most kMaxProxyWordLength bytes, so it fits with its NUL.
    std::memcpy(host, proxy->first.c_str(), proxy->first.size() + 1);
    std::memcpy(port, proxy->second.c_str(), proxy->second.size() + 1);
    return true;
}

int ApplyProxyToEndpoint(char* endpoint) {
    if (endpoint == nullptr)
        return 0;
    // Text that is not terminated inside its buffer is not an endpoint; leave it alone.
    const std::size_t length = strnlen(endpoint, kEndpointBufferSize);
    if (length == kEndpointBufferSize)
        return 0;
    const std::string url(endpoint, length);
    if (url.find(':') == std::string::npos)
        return 0;

    std::vector<char> host(kProxyWordBufferSize, '\0');
    std::vector<char> port(kProxyWordBufferSize, '\0');
    if (EndpointPath(url) && ReadProxySettings(host.data(), port.data())) {
        if (auto rewritten = ProxiedEndpoint(url, host.data(), port.data()))
            std::memcpy(endpoint, rewritten->c_str(), rewritten->size() + 1);
    }
    PrintLine(endpoint);
    return 0;
}

int GetLocalAddressList(char* out) {
    if (out == nullptr)
        return 0;
    std::string list = IsProxyEnabled() ? "1" : "0";
    AppendHostAddresses(list);
    std::memcpy(out, list.c_str(), list.size() + 1);
    return 0;
}

} // namespace pandel
