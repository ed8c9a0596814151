// The real registry under HKEY_LOCAL_MACHINE and the named events, as the module uses them and as
// other programs on the machine see them.
#include "platform/platform.h"

#include "harness/child_process.h"
#include "platform/wide_text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <thread>

namespace platform = pandel::platform;

namespace {

using Bytes = std::vector<std::uint8_t>;
using pandel::test::RunChildTest;

const wchar_t* W(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// Each test has a key of its own: the test processes run at the same time on one registry.
std::u16string KeyOfThisTest() {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    return u"Software\\Orvane\\PandelTests\\" + std::u16string(name.begin(), name.end());
}

class RealRegistry : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, W(testKey_)); }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, W(testKey_)); }

    const std::u16string testKey_ = KeyOfThisTest();
    const std::u16string aliasKey_ = testKey_ + u"\\Tessaly2009";

    static bool KeyExists(const std::u16string& key) {
        HKEY handle = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, W(key), 0, KEY_READ, &handle) != ERROR_SUCCESS)
            return false;
        RegCloseKey(handle);
        return true;
    }

    platform::IPlatform& os = platform::Real();
};

// The round trip itself is the platform contract's (run here on the real side too); what other
// programs see of a written value is Windows' own: a REG_BINARY value of exactly these bytes.
TEST_F(RealRegistry, WrittenValuesAreBinaryValuesOfExactlyTheirBytes) {
    Bytes large(5000);
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<std::uint8_t>(i * 7 + 3);
    for (const Bytes& data : {Bytes{}, Bytes{0x02, 0x00, 0x00, 0x00, 0x00, 0x0A}, large}) {
        SCOPED_TRACE(data.size());
        ASSERT_TRUE(os.RegistryWriteValue(aliasKey_, u"Value", data));
        DWORD type = 0;
        Bytes stored(data.size() + 1);
        DWORD size = static_cast<DWORD>(stored.size());
        ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, W(aliasKey_), L"Value", RRF_RT_ANY, &type,
                               stored.data(), &size),
                  ERROR_SUCCESS);
        stored.resize(size);
        EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
        EXPECT_EQ(stored, data);
    }
}

TEST_F(RealRegistry, ValuesOfAnyTypeWrittenByOthersAreSeenAsTheirRawBytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, W(testKey_ + u"\\LogModule"), 0, nullptr, 0,
                              KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD number = 0x01020304;
    RegSetValueExW(key, L"PluginPandel", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                   sizeof number);
    RegSetValueExW(key, L"DbgPlugin", 0, REG_NONE, nullptr, 0);
    RegSetValueExW(key, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"d"), 4);
    RegCloseKey(key);
    const std::u16string logKey = testKey_ + u"\\LogModule";
    EXPECT_TRUE(os.RegistryValueExists(logKey, u"PluginPandel"));
    EXPECT_TRUE(os.RegistryValueExists(logKey, u"DbgPlugin"));
    EXPECT_FALSE(os.RegistryValueExists(logKey, u"pluginpandel\u00e9"));
    EXPECT_EQ(os.RegistryReadValue(logKey, u"PluginPandel", 6), (Bytes{4, 3, 2, 1}));
    EXPECT_EQ(os.RegistryReadValue(logKey, u"DbgPlugin", 6), Bytes{});
    // The key's default value has no name the module can give.
    EXPECT_FALSE(os.RegistryValueExists(logKey, u""));
    EXPECT_FALSE(os.RegistryReadValue(logKey, u"", 6));
}

TEST_F(RealRegistry, QueryLeavesAMissingKeyMissingWhileReadAndWriteCreateIt) {
    const std::u16string logKey = testKey_ + u"\\LogModule";
    EXPECT_FALSE(os.RegistryValueExists(logKey, u"PluginPandel"));
    EXPECT_FALSE(KeyExists(logKey));
    EXPECT_FALSE(os.RegistryReadValue(logKey, u"PluginPandel", 6));
    EXPECT_TRUE(KeyExists(logKey));
    ASSERT_TRUE(os.RegistryWriteValue(aliasKey_, u"V", Bytes{1}));
    // A subkey is not a value of its parent, and keys keep their own values.
    EXPECT_FALSE(os.RegistryValueExists(testKey_, u"Tessaly2009"));
    EXPECT_FALSE(os.RegistryValueExists(logKey, u"V"));
}

// --- Named events -----------------------------------------------------------------------------

// The event of that name as any other program opens it; null when there is none.
HANDLE OpenRawEvent(const wchar_t* name) {
    return OpenEventW(EVENT_ALL_ACCESS | READ_CONTROL, FALSE, name);
}

bool IsFree(HANDLE event) {
    if (WaitForSingleObject(event, 0) != WAIT_OBJECT_0)
        return false;
    SetEvent(event); // the probe took it: give it back
    return true;
}

TEST(RealNamedLock, NewEventIsAutoResetFreeAndOpenToEveryAccount) {
    platform::LockHandle lock = platform::Real().OpenNamedLock(u"h_Proxylock");
    ASSERT_NE(lock, platform::kNoLock);
    HANDLE raw = OpenRawEvent(L"h_Proxylock");
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(WaitForSingleObject(raw, 0), WAIT_OBJECT_0); // created signalled
    EXPECT_EQ(WaitForSingleObject(raw, 0), WAIT_TIMEOUT);  // and reset by the wait that took it
    SetEvent(raw);

    DWORD needed = 0;
    GetKernelObjectSecurity(raw, DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<std::uint64_t> storage(needed / 8 + 1);
    auto* descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(storage.data());
    ASSERT_TRUE(GetKernelObjectSecurity(raw, DACL_SECURITY_INFORMATION, descriptor,
                                        static_cast<DWORD>(storage.size() * 8), &needed));
    BOOL present = FALSE;
    BOOL defaulted = TRUE;
    PACL dacl = reinterpret_cast<PACL>(1);
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_EQ(dacl, nullptr);
    CloseHandle(raw);
    platform::Real().CloseNamedLock(lock);
}

TEST(RealNamedLock, ExistingEventIsOpenedWithItsStateAndOtherObjectsAreNoLock) {
    HANDLE taken = CreateEventW(nullptr, FALSE, FALSE, L"h_TryGetIpLock_uuid");
    ASSERT_NE(taken, nullptr);
    platform::LockHandle lock = platform::Real().OpenNamedLock(u"h_TryGetIpLock_uuid");
    ASSERT_NE(lock, platform::kNoLock);
    EXPECT_FALSE(IsFree(taken)); // opening neither made a new event nor freed this one
    SetEvent(taken);
    EXPECT_TRUE(platform::Real().WaitNamedLock(lock));
    EXPECT_FALSE(IsFree(taken));
    platform::Real().SignalNamedLock(lock);
    EXPECT_TRUE(IsFree(taken));
    platform::Real().CloseNamedLock(lock);
    CloseHandle(taken);

    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"h_PandelNotAnEvent");
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(platform::Real().OpenNamedLock(u"h_PandelNotAnEvent"), platform::kNoLock);
    CloseHandle(mutex);
    for (const std::u16string name : {u"", u".", u"..", u"a/b", u"Global\\h_Proxylock"}) {
        SCOPED_TRACE(platform::Utf16ToUtf8(name));
        EXPECT_EQ(platform::Real().OpenNamedLock(name), platform::kNoLock);
    }
}

TEST(RealNamedLock, OnlyTheHolderReleasesAndClosingAHeldLockReleasesIt) {
    platform::IPlatform& os = platform::Real();
    platform::LockHandle first = os.OpenNamedLock(u"h_Proxylock");
    platform::LockHandle second = os.OpenNamedLock(u"h_Proxylock");
    HANDLE raw = OpenRawEvent(L"h_Proxylock");
    ASSERT_NE(raw, nullptr);
    ASSERT_TRUE(os.WaitNamedLock(first));
    os.SignalNamedLock(second); // never took it: must not free it under the holder
    EXPECT_FALSE(IsFree(raw));
    os.SignalNamedLock(first);
    ASSERT_TRUE(os.WaitNamedLock(second));
    os.SignalNamedLock(first); // released already: must not free the lock the second now holds
    EXPECT_FALSE(IsFree(raw));
    os.CloseNamedLock(second); // still held: closing gives it back
    EXPECT_TRUE(IsFree(raw));
    os.CloseNamedLock(first);
    CloseHandle(raw);
}

std::wstring SyncEvent(const std::string& sync, const wchar_t* what) {
    return std::wstring(sync.begin(), sync.end()) + what;
}

// In the child: takes the lock, says so, and on the parent's word marks and releases it.
TEST(RealNamedLockChild, DISABLED_HoldProxyLock) {
    const std::string sync = pandel::test::ChildSyncName();
    ASSERT_FALSE(sync.empty());
    HANDLE held = OpenEventW(EVENT_MODIFY_STATE, FALSE, SyncEvent(sync, L"-held").c_str());
    HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, SyncEvent(sync, L"-release").c_str());
    HANDLE released = OpenEventW(EVENT_MODIFY_STATE, FALSE, SyncEvent(sync, L"-released").c_str());
    ASSERT_TRUE(held && release && released);
    platform::LockHandle lock = platform::Real().OpenNamedLock(u"h_Proxylock");
    ASSERT_TRUE(platform::Real().WaitNamedLock(lock));
    SetEvent(held);
    ASSERT_EQ(WaitForSingleObject(release, 20000), WAIT_OBJECT_0);
    Sleep(200); // gives a waiter that wrongly got through time to show it
    SetEvent(released);
    platform::Real().SignalNamedLock(lock);
    platform::Real().CloseNamedLock(lock);
}

TEST(RealNamedLock, SecondProcessWaitsUntilTheHolderReleases) {
    const std::string sync = "pandel-lock-" + std::to_string(GetCurrentProcessId());
    HANDLE held = CreateEventW(nullptr, TRUE, FALSE, SyncEvent(sync, L"-held").c_str());
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, SyncEvent(sync, L"-release").c_str());
    HANDLE released = CreateEventW(nullptr, TRUE, FALSE, SyncEvent(sync, L"-released").c_str());
    std::atomic<std::uint32_t> childExit{0};
    std::thread child([&] {
        childExit = RunChildTest("RealNamedLockChild.DISABLED_HoldProxyLock", sync, 20000);
        SetEvent(held); // a child that failed early must not leave the wait below hanging
    });
    ASSERT_EQ(WaitForSingleObject(held, 30000), WAIT_OBJECT_0);

    // Shared with the waiter, which a failure may leave behind.
    struct Waiter {
        HANDLE released;
        HANDLE acquired = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::atomic<bool> markedBeforeAcquired{false};
    };
    auto state = std::make_shared<Waiter>();
    state->released = released;
    std::thread waiter([state] {
        platform::LockHandle lock = platform::Real().OpenNamedLock(u"h_Proxylock");
        if (platform::Real().WaitNamedLock(lock)) {
            state->markedBeforeAcquired = WaitForSingleObject(state->released, 0) == WAIT_OBJECT_0;
            platform::Real().SignalNamedLock(lock);
        }
        platform::Real().CloseNamedLock(lock);
        SetEvent(state->acquired);
    });
    SetEvent(release);
    const bool waiterEnded = WaitForSingleObject(state->acquired, 30000) == WAIT_OBJECT_0;
    child.join();
    EXPECT_EQ(childExit.load(), 0u);
    if (!waiterEnded) {
        waiter.detach(); // stuck for good: the program's end takes it
        FAIL() << "the waiter never got the lock";
    }
    waiter.join();
    EXPECT_TRUE(state->markedBeforeAcquired.load()); // false: got it while the child held it
    CloseHandle(state->acquired);
    for (HANDLE h : {held, release, released})
        CloseHandle(h);
}

} // namespace
