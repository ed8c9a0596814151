// The registry and named-lock calls behave the same on the real POSIX platform and on the fake
// that the module's tests use; then what only the real one can show: files, processes, resolver.
#include "platform/platform.h"

#include "harness/fake_platform.h"
#include "platform/wide_text.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#if defined(_WIN32)
#include <winsock2.h> // and windows.h
#else
#include "harness/child_process.h"
#include <fcntl.h>

#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace platform = pandel::platform;

namespace {

namespace fs = std::filesystem;
using pandel::test::FakePlatform;
using pandel::test::ReadFile;
using pandel::test::TempRoot;
using Bytes = std::vector<std::uint8_t>;

constexpr const char16_t* kAliasKey = u"Software\\Orvane\\Tessaly2009";
constexpr const char16_t* kLogKey = u"Software\\Orvane\\LogModule";

enum class Side { kReal, kFake };

class PlatformContract : public ::testing::TestWithParam<Side> {
protected:
#if defined(_WIN32)
    // The real registry outlives the test: each case starts and ends without the keys it uses.
    void SetUp() override {
        RemoveRealKeys();
    }
    void TearDown() override {
        RemoveRealKeys();
    }
    void RemoveRealKeys() {
        if (GetParam() != Side::kReal)
            return;
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Orvane\\Tessaly2009");
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Orvane\\LogModule");
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Orvane", L"Parent");
    }
#endif
    platform::IPlatform& os() {
        if (GetParam() == Side::kReal)
            return platform::Real();
        return fake_;
    }

    TempRoot root_;
    FakePlatform fake_;
};

INSTANTIATE_TEST_SUITE_P(Sides, PlatformContract, ::testing::Values(Side::kReal, Side::kFake),
                         [](const auto& info) {
                             return std::string(info.param == Side::kReal ? "Real" : "Fake");
                         });

TEST_P(PlatformContract, MissingValueNeitherExistsNorReads) {
    EXPECT_FALSE(os().RegistryValueExists(kAliasKey, u"02000000000A"));
    EXPECT_FALSE(os().RegistryReadValue(kAliasKey, u"02000000000A", 6).has_value());
    // Reading created the key, but still no value.
    EXPECT_FALSE(os().RegistryValueExists(kAliasKey, u"02000000000A"));
}

TEST_P(PlatformContract, ValuesRoundTripWithinTheirSizeLimit) {
    Bytes large(5000);
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const struct {
        const char* what;
        std::u16string name;
        Bytes data;
    } cases[] = {
        {"empty", u"Empty", {}},
        {"six bytes with zeros", u"02000000000B", {0x02, 0x00, 0x00, 0x00, 0x00, 0x0A}},
        {"larger than one read", u"Large", large},
        {"non-ASCII name", u"\u540d\u524d", {0xFF}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(os().RegistryWriteValue(kAliasKey, c.name, c.data));
        EXPECT_TRUE(os().RegistryValueExists(kAliasKey, c.name));
        EXPECT_EQ(os().RegistryReadValue(kAliasKey, c.name, c.data.size()), c.data);
        EXPECT_EQ(os().RegistryReadValue(kAliasKey, c.name, c.data.size() + 100), c.data);
        if (!c.data.empty()) {
            EXPECT_FALSE(os().RegistryReadValue(kAliasKey, c.name, c.data.size() - 1));
        }
    }
}

TEST_P(PlatformContract, OverwriteReplacesTheWholeValue) {
    ASSERT_TRUE(os().RegistryWriteValue(kAliasKey, u"V", Bytes(10, 0x11)));
    ASSERT_TRUE(os().RegistryWriteValue(kAliasKey, u"V", Bytes{1, 2, 3}));
    EXPECT_EQ(os().RegistryReadValue(kAliasKey, u"V", 10), (Bytes{1, 2, 3}));
}

TEST_P(PlatformContract, KeysKeepTheirOwnValues) {
    ASSERT_TRUE(os().RegistryWriteValue(kAliasKey, u"Same", Bytes{1}));
    ASSERT_TRUE(os().RegistryWriteValue(kLogKey, u"Same", Bytes{2}));
    ASSERT_TRUE(os().RegistryWriteValue(u"Software\\Orvane", u"Parent", Bytes{3}));
    EXPECT_EQ(os().RegistryReadValue(kAliasKey, u"Same", 1), Bytes{1});
    EXPECT_EQ(os().RegistryReadValue(kLogKey, u"Same", 1), Bytes{2});
    EXPECT_FALSE(os().RegistryValueExists(kAliasKey, u"Parent"));
    EXPECT_FALSE(os().RegistryValueExists(u"Software\\Orvane", u"Same"));
}

TEST_P(PlatformContract, NamesThatWouldLeaveTheKeyAreRefused) {
    const struct {
        std::u16string key;
        std::u16string name;
    } cases[] = {
        {kAliasKey, u""},
        {kAliasKey, u"."},
        {kAliasKey, u".."},
        {kAliasKey, u"a/b"},
        {kAliasKey, u"/etc"},
        {kAliasKey, std::u16string(u"a\0b", 3)},
        {u"Software\\..\\..\\..", u"x"},
        {u"Software\\.", u"x"},
        {u"Software/Orvane", u"x"},
        {u"\\Software", u"x"},
        {u"Software\\\\Orvane", u"x"},
        {u"Software\\", u"x"},
        {u"Software\\Orvane" + std::u16string(u"\0x", 2), u"x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::Utf16ToUtf8(c.key) + " | " + platform::Utf16ToUtf8(c.name));
        EXPECT_FALSE(os().RegistryWriteValue(c.key, c.name, Bytes{1}));
        EXPECT_FALSE(os().RegistryValueExists(c.key, c.name));
        EXPECT_FALSE(os().RegistryReadValue(c.key, c.name, 16).has_value());
    }
    // In particular the cut-short names were not written in their place.
    EXPECT_FALSE(os().RegistryValueExists(kAliasKey, u"a"));
}

TEST_P(PlatformContract, NamedLockIsTakenReleasedAndTakenAgain) {
    platform::LockHandle proxy = os().OpenNamedLock(u"h_Proxylock");
    platform::LockHandle address = os().OpenNamedLock(u"h_TryGetIpLock_uuid");
    ASSERT_NE(proxy, platform::kNoLock);
    ASSERT_NE(address, platform::kNoLock);
    EXPECT_NE(proxy, address);
    // Different names are different locks: holding one does not stop taking the other.
    EXPECT_TRUE(os().WaitNamedLock(proxy));
    EXPECT_TRUE(os().WaitNamedLock(address));
    os().SignalNamedLock(address);
    os().SignalNamedLock(proxy);
    EXPECT_TRUE(os().WaitNamedLock(proxy));
    os().SignalNamedLock(proxy);
    os().CloseNamedLock(proxy);
    os().CloseNamedLock(address);
}

TEST_P(PlatformContract, ClosingAHeldLockReleasesIt) {
    platform::LockHandle first = os().OpenNamedLock(u"h_Proxylock");
    ASSERT_TRUE(os().WaitNamedLock(first));
    os().CloseNamedLock(first);
    platform::LockHandle second = os().OpenNamedLock(u"h_Proxylock");
    EXPECT_TRUE(os().WaitNamedLock(second)); // a lock left held would block here for good
    os().SignalNamedLock(second);
    os().CloseNamedLock(second);
}

TEST_P(PlatformContract, MissingLockIsNeitherWaitedNorReleased) {
    EXPECT_FALSE(os().WaitNamedLock(platform::kNoLock));
    os().SignalNamedLock(platform::kNoLock);
    os().CloseNamedLock(platform::kNoLock);
    for (const std::u16string name : {u"", u".", u"..", u"a/b", u"../h_Proxylock"}) {
        SCOPED_TRACE(platform::Utf16ToUtf8(name));
        EXPECT_EQ(os().OpenNamedLock(name), platform::kNoLock);
    }
}

// --- The real platform only ---------------------------------------------------------------

// The registry's value files and the lock files of the POSIX platform; the Windows registry and
// named events have their own cases in tests/win32.
#if !defined(_WIN32)

std::string RegistryFile(const TempRoot& root, const std::string& key, const std::string& name) {
    return root.Sub("registry/HKEY_LOCAL_MACHINE/" + key + "/" + name);
}

TEST(RealRegistry, ValueIsAFileOfRawBytesAtTheKeyPath) {
    TempRoot root;
    const Bytes identity{0x02, 0x00, 0x00, 0x00, 0x00, 0x0A};
    ASSERT_TRUE(platform::Real().RegistryWriteValue(kAliasKey, u"02000000000B", identity));
    const std::string dir = root.Sub("registry/HKEY_LOCAL_MACHINE/Software/Orvane/Tessaly2009");
    EXPECT_EQ(ReadFile(dir + "/02000000000B"), std::string("\x02\0\0\0\0\x0A", 6));
    // The temporary file of the write is gone: the key holds the value alone.
    std::vector<std::string> entries;
    for (const auto& entry : fs::directory_iterator(dir))
        entries.push_back(entry.path().filename().string());
    EXPECT_EQ(entries, std::vector<std::string>{"02000000000B"});
}

TEST(RealRegistry, ValueWrittenByHandIsReadAndNonAsciiNamesAreUtf8) {
    TempRoot root;
    pandel::test::WriteFile(RegistryFile(root, "Software/Orvane/LogModule", "DbgPlugin"), "");
    EXPECT_TRUE(platform::Real().RegistryValueExists(kLogKey, u"DbgPlugin"));
    EXPECT_FALSE(platform::Real().RegistryValueExists(kLogKey, u"dbgplugin"));
    ASSERT_TRUE(platform::Real().RegistryWriteValue(u"Software\\\u540d", u"\u524d", Bytes{7}));
    EXPECT_EQ(ReadFile(RegistryFile(root, "Software/\xE5\x90\x8D", "\xE5\x89\x8D")), "\x07");
}

TEST(RealRegistry, QueryLeavesAMissingKeyMissingWhileReadCreatesIt) {
    TempRoot root;
    const std::string dir = root.Sub("registry/HKEY_LOCAL_MACHINE/Software/Orvane/LogModule");
    EXPECT_FALSE(platform::Real().RegistryValueExists(kLogKey, u"PluginPandel"));
    EXPECT_FALSE(fs::exists(dir));
    EXPECT_FALSE(platform::Real().RegistryReadValue(kLogKey, u"PluginPandel", 6).has_value());
    EXPECT_TRUE(fs::is_directory(dir));
}

TEST(RealRegistry, ASubkeyIsNotAValue) {
    TempRoot root;
    ASSERT_TRUE(platform::Real().RegistryWriteValue(kAliasKey, u"V", Bytes{1}));
    EXPECT_FALSE(platform::Real().RegistryValueExists(u"Software\\Orvane", u"Tessaly2009"));
    EXPECT_FALSE(platform::Real().RegistryReadValue(u"Software\\Orvane", u"Tessaly2009", 64));
    EXPECT_FALSE(platform::Real().RegistryWriteValue(u"Software\\Orvane", u"Tessaly2009", {}));
    EXPECT_EQ(platform::Real().RegistryReadValue(kAliasKey, u"V", 1), Bytes{1});
}

char ReadByte(int fd) {
    char c = 0;
    while (read(fd, &c, 1) < 0 && errno == EINTR) {
    }
    return c;
}

void WriteByte(int fd, char c) {
    while (write(fd, &c, 1) < 0 && errno == EINTR) {
    }
}

// True when some process holds the lock file: a probe that does not wait.
bool LockFileIsHeld(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

class RealNamedLock : public ::testing::Test {
protected:
    // A failed assertion must not leave the holder behind, holding the test's output open.
    void TearDown() override {
        if (holder_ > 0 && waitpid(holder_, nullptr, WNOHANG) == 0) {
            kill(holder_, SIGKILL);
            waitpid(holder_, nullptr, 0);
        }
    }

    // Starts a child that takes the lock, says 'H', then waits for a byte from the parent: on
    // 'R' it writes the release marker and lets go.
    pid_t StartHolder() {
        if (pipe(toHolder_) != 0 || pipe(fromHolder_) != 0)
            return -1;
        pid_t pid = fork();
        if (pid == 0) {
            alarm(30);
            platform::LockHandle lock = platform::Real().OpenNamedLock(u"h_Proxylock");
            if (!platform::Real().WaitNamedLock(lock))
                _exit(2);
            WriteByte(fromHolder_[1], 'H');
            if (ReadByte(toHolder_[0]) == 'R') {
                usleep(200 * 1000); // gives a waiter that wrongly got through time to show it
                pandel::test::WriteFile(marker_, "released");
                platform::Real().SignalNamedLock(lock);
            }
            platform::Real().CloseNamedLock(lock);
            _exit(0);
        }
        holder_ = pid;
        return pid;
    }

    TempRoot root_;
    std::string lockFile_ = root_.Sub("locks/h_Proxylock");
    std::string marker_ = root_.Sub("released");
    pid_t holder_ = -1;
    int toHolder_[2] = {-1, -1};
    int fromHolder_[2] = {-1, -1};
};

TEST_F(RealNamedLock, SecondProcessWaitsUntilTheHolderReleases) {
    pid_t holder = StartHolder();
    ASSERT_GT(holder, 0);
    ASSERT_EQ(ReadByte(fromHolder_[0]), 'H');
    EXPECT_TRUE(LockFileIsHeld(lockFile_));

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t waiter = fork();
    if (waiter == 0) {
        alarm(20);
        platform::LockHandle lock = platform::Real().OpenNamedLock(u"h_Proxylock");
        WriteByte(ready[1], 'W');
        if (!platform::Real().WaitNamedLock(lock))
            _exit(2);
        _exit(fs::exists(marker_) ? 0 : 3); // 3: got the lock while the holder still had it
    }
    ASSERT_EQ(ReadByte(ready[0]), 'W');
    WriteByte(toHolder_[1], 'R');
    int status = 0;
    ASSERT_EQ(waitpid(waiter, &status, 0), waiter);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    ASSERT_EQ(waitpid(holder, &status, 0), holder);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(RealNamedLock, HolderKilledReleasesTheLock) {
    pid_t holder = StartHolder();
    ASSERT_GT(holder, 0);
    ASSERT_EQ(ReadByte(fromHolder_[0]), 'H');
    ASSERT_TRUE(LockFileIsHeld(lockFile_));
    kill(holder, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(holder, &status, 0), holder);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_FALSE(LockFileIsHeld(lockFile_));
    const auto waiter = [] {
        platform::LockHandle lock = platform::Real().OpenNamedLock(u"h_Proxylock");
        return platform::Real().WaitNamedLock(lock) ? 0 : 2;
    };
    EXPECT_EQ(pandel::test::RunForked(waiter, 20000).exitCode, 0);
}

TEST_F(RealNamedLock, LockFileIsSharedByEveryAccountWhateverTheUmask) {
    ASSERT_FALSE(fs::exists(root_.Sub("locks")));
    const mode_t previous = umask(077);
    platform::LockHandle lock = platform::Real().OpenNamedLock(u"h_TryGetIpLock_uuid");
    umask(previous);
    ASSERT_NE(lock, platform::kNoLock);
    struct stat info;
    ASSERT_EQ(stat(root_.Sub("locks/h_TryGetIpLock_uuid").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u); // flock needs no more than reading
    ASSERT_EQ(stat(root_.Sub("locks").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 01777u);
    // The handle does not leak into programs the process starts.
    EXPECT_NE(fcntl(static_cast<int>(lock), F_GETFD) & FD_CLOEXEC, 0);
    platform::Real().CloseNamedLock(lock);
}

TEST_F(RealNamedLock, SymbolicLinkInPlaceOfTheLockFileIsRefused) {
    pandel::test::MakeDirectories(root_.Sub("locks"));
    pandel::test::WriteFile(root_.Sub("target"), "keep");
    ASSERT_EQ(symlink(root_.Sub("target").c_str(), lockFile_.c_str()), 0);
    EXPECT_EQ(platform::Real().OpenNamedLock(u"h_Proxylock"), platform::kNoLock);
}

// Any account may plant a FIFO there; opening one for reading would wait for a writer for ever.
TEST_F(RealNamedLock, FifoInPlaceOfTheLockFileIsRefusedAtOnce) {
    pandel::test::MakeDirectories(root_.Sub("locks"));
    ASSERT_EQ(mkfifo(lockFile_.c_str(), 0666), 0);
    EXPECT_EQ(platform::Real().OpenNamedLock(u"h_Proxylock"), platform::kNoLock);
}

// getaddrinfo would sort the addresses by its own preference (127.0.0.1 first); the list keeps
// the order the resolver gives. In a mount and host-name namespace of a child's own (root), with
// a hosts file of the test's.
TEST(RealHost, AddressesComeInTheResolversOrder) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to bind a hosts file of the test's own";
    pandel::test::TempRoot root;
    pandel::test::WriteFile(root.Sub("hosts"), "127.0.0.2 pandel-order\n"
                                               "127.0.0.1 pandel-order\n"
                                               "127.0.0.3 pandel-order\n");
    pandel::test::WriteFile(root.Sub("host.conf"), "multi on\n");
    const std::string hosts = root.Sub("hosts");
    const std::string hostConf = root.Sub("host.conf");
    const pandel::test::ProcessResult child = pandel::test::RunForked(
        [&] {
            if (unshare(CLONE_NEWNS | CLONE_NEWUTS) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0 ||
                mount(hostConf.c_str(), "/etc/host.conf", nullptr, MS_BIND, nullptr) != 0 ||
                sethostname("pandel-order", 12) != 0)
                return 10;
            const std::vector<std::string> expected = {"127.0.0.2", "127.0.0.1", "127.0.0.3"};
            const std::optional<std::string> name = platform::Real().HostName();
            return name && platform::Real().ResolveIPv4(*name) == expected ? 0 : 1;
        },
        10000);
    if (child.exitCode == 10)
        GTEST_SKIP() << "no mount and host-name namespace can be made here";
    EXPECT_FALSE(child.timedOut);
    EXPECT_EQ(child.exitCode, 0) << "not 127.0.0.2, 127.0.0.1, 127.0.0.3 in that order";
}

#endif

TEST(RealHost, HostNameIsTheSystemsAndNumericAddressesResolveOnce) {
#if defined(_WIN32)
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
#endif
    char expected[256] = {};
    ASSERT_EQ(gethostname(expected, sizeof expected - 1), 0);
    EXPECT_EQ(platform::Real().HostName(), std::string(expected));
    // One entry per address: the resolver's answer for every socket type is not repeated.
    EXPECT_EQ(platform::Real().ResolveIPv4("127.0.0.1"), std::vector<std::string>{"127.0.0.1"});
    EXPECT_EQ(platform::Real().ResolveIPv4("127.1.2.3"), std::vector<std::string>{"127.1.2.3"});
    EXPECT_TRUE(platform::Real().ResolveIPv4("::1").empty()); // IPv4 only
}

} // namespace
