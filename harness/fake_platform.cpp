// The fake platform's calls: each records itself in the trace and answers from the script.
#include "harness/fake_platform.h"

#include "platform/plain_names.h"
#include "platform/wide_text.h"

namespace pandel::test {

using platform::Utf16ToUtf8;

namespace {

bool IsPlainValue(const std::u16string& key, const std::u16string& name) {
    return platform::IsPlainKeyPath(key) && platform::IsPlainName(name);
}

} // namespace

void FakePlatform::Record(std::string event) {
    std::lock_guard<std::mutex> hold(mutex_);
    trace.push_back(std::move(event));
}

std::string FakePlatform::LoadedLibraryPath(const std::string& fileName) {
    Record("LoadedLibraryPath " + fileName);
    auto it = loadedLibraries.find(fileName);
    return it == loadedLibraries.end() ? std::string() : it->second;
}

std::string FakePlatform::HostExecutablePath() {
    Record("HostExecutablePath");
    return hostExecutablePath;
}

std::string FakePlatform::FixedPlacePath(const std::string& windowsPath) {
    std::string path = rootDirectory + "/";
    for (char c : windowsPath) {
        if (c != ':')
            path += (c == '\\') ? '/' : c;
    }
    return path;
}

bool FakePlatform::RegistryValueExists(const std::u16string& key, const std::u16string& name) {
    Record("RegistryValueExists " + Utf16ToUtf8(key) + " " + Utf16ToUtf8(name));
    if (!IsPlainValue(key, name))
        return false;
    return registry.count(RegistryPath(key, name)) != 0;
}

std::optional<std::vector<std::uint8_t>> FakePlatform::RegistryReadValue(const std::u16string& key,
                                                                         const std::u16string& name,
                                                                         std::size_t maxBytes) {
    Record("RegistryReadValue " + Utf16ToUtf8(key) + " " + Utf16ToUtf8(name));
    if (!IsPlainValue(key, name))
        return std::nullopt;
    auto it = registry.find(RegistryPath(key, name));
    if (it == registry.end() || it->second.size() > maxBytes)
        return std::nullopt;
    return it->second;
}

bool FakePlatform::RegistryWriteValue(const std::u16string& key, const std::u16string& name,
                                      const std::vector<std::uint8_t>& data) {
    Record("RegistryWriteValue " + Utf16ToUtf8(key) + " " + Utf16ToUtf8(name));
    if (!IsPlainValue(key, name))
        return false;
    registry[RegistryPath(key, name)] = data;
    return true;
}

platform::LockHandle FakePlatform::OpenNamedLock(const std::u16string& name) {
    Record("OpenNamedLock " + Utf16ToUtf8(name));
    if (!platform::IsPlainLockName(name))
        return platform::kNoLock;
    std::lock_guard<std::mutex> hold(mutex_);
    platform::LockHandle lock = nextLock_++;
    openLocks_[lock] = name;
    return lock;
}

std::u16string FakePlatform::LockName(platform::LockHandle lock, bool forget) {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = openLocks_.find(lock);
    if (it == openLocks_.end())
        return std::u16string();
    std::u16string name = it->second;
    if (forget)
        openLocks_.erase(it);
    return name;
}

bool FakePlatform::WaitNamedLock(platform::LockHandle lock) {
    const std::u16string name = LockName(lock);
    Record("WaitNamedLock " + Utf16ToUtf8(name));
    return lock != platform::kNoLock && !name.empty();
}

void FakePlatform::SignalNamedLock(platform::LockHandle lock) {
    Record("SignalNamedLock " + Utf16ToUtf8(LockName(lock)));
}

void FakePlatform::CloseNamedLock(platform::LockHandle lock) {
    Record("CloseNamedLock " + Utf16ToUtf8(LockName(lock, true)));
}

std::optional<std::vector<platform::AdapterAnswer>> FakePlatform::QueryAdapterPermanentAddresses() {
    Record("QueryAdapterPermanentAddresses");
    return adapters;
}

std::optional<std::string> FakePlatform::HostName() {
    Record("HostName");
    return hostName;
}

std::vector<std::string> FakePlatform::ResolveIPv4(const std::string& name) {
    Record("ResolveIPv4 " + name);
    auto it = resolver.find(name);
    return it == resolver.end() ? std::vector<std::string>() : it->second;
}

std::uint32_t FakePlatform::TickCountMs() {
    return tickCount;
}

platform::LocalTime FakePlatform::LocalTimeNow() {
    return localTime;
}

void FakePlatform::SleepMs(std::uint32_t ms) {
    Record("SleepMs " + std::to_string(ms));
    tickCount += ms;
    sleptMs += ms;
}

void FakePlatform::DebugOutput(const std::u16string& text) {
    Record("DebugOutput");
    std::lock_guard<std::mutex> hold(mutex_);
    debugLines.push_back(text);
}

} // namespace pandel::test
