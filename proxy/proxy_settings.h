// The agent's proxy settings (Conf/ProxyInfo.xml beside the host executable: three words, host
// port and "true") and the terminal's local address list, both under cross-process named locks.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <optional>
#include <string>

namespace pandel {

inline constexpr std::size_t kEndpointBufferSize = 260;     // the address a request goes to
inline constexpr std::size_t kLocalAddressBufferSize = 260; // the From address: flag and IPs

inline constexpr std::size_t kProxyWordBufferSize = 260;

inline constexpr const char16_t* kProxyLockName = u"h_Proxylock";
inline constexpr const char16_t* kHostAddressLockName = u"h_TryGetIpLock_uuid";

// What the settings file holds, read without the lock and without printing.
struct ProxyFileContent {
    std::string path;       // where the file is looked for
    bool opened = false;    // a regular file that could be opened and read
    bool pastBound = false; // not read: its words run past the part of it that is read
    std::string words[3];   // host, port, enable word; a missing word is empty
    bool overlong = false;  // a word did not fit its buffer: the file enables nothing
    bool enabled = false;   // the proxy is used
};
ProxyFileContent ReadProxyFile();

// url (http://host:port/path) with host and port replaced; nothing when url lacks the "//", the
// ':' before its port or the '/' after it, or when the result would not fit the endpoint buffer.
std::optional<std::string> ProxiedEndpoint(const std::string& url, const std::string& host,
                                           const std::string& port);

// Appends ",a.b.c.d" for each IPv4 address of the host name, under its named lock, while the
// list still fits the local address buffer.
void AppendHostAddresses(std::string& list);

// Opens (creating when missing) the named lock; platform::kNoLock when none can be had.
platform::LockHandle OpenNamedLock(const std::u16string& name);

// True when the settings file could be opened and its third word is exactly "true".
bool IsProxyEnabled();

// When the file enables the proxy, copies word 1 into host and word 2 into port (each a buffer
// of kProxyWordBufferSize bytes) and returns true; otherwise returns false, buffers untouched.
bool ReadProxySettings(char* host, char* port);

// Rewrites endpoint (a kEndpointBufferSize-byte buffer, http://host:port/path) in place to the
// proxy's host and port when the proxy is enabled, and prints the endpoint. Always 0.
int ApplyProxyToEndpoint(char* endpoint);

// Writes the local address list ("1" or "0" for the proxy flag, then ",a.b.c.d" for each IPv4
// address of the host name) into out, a kLocalAddressBufferSize-byte buffer. Always 0.
int GetLocalAddressList(char* out);

} // namespace pandel
