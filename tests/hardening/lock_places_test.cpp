// What a local account can plant at the lock places, which any account may write: a FIFO or a
// directory is no lock, and the report goes on without it at once; a hard link to a file of
// someone else's is locked but never changed; a lock file another account made still locks,
// whatever the kernel's protected_regular says.
#include "harness/child_process.h"
#include "harness/loopback_server.h"
#include "report/report_sender.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/report/report_test_support.h"
#include "tests/support/temp_root.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace pandel::test {
namespace {

TEST(LockPlaces, AnythingButAPlainFileAtALockPlaceNeverHoldsAReport) {
    struct Plant {
        const char* name;
        int (*make)(const char* path);
    };
    const Plant plants[] = {
        {"FIFO", [](const char* path) { return mkfifo(path, 0666); }},
        {"directory", [](const char* path) { return mkdir(path, 0777); }},
    };
    for (const Plant& plant : plants) {
        SCOPED_TRACE(plant.name);
        TempRoot root;
        MakeDirectories(root.Sub("locks"));
        for (const char* lock : {"locks/h_Proxylock", "locks/h_TryGetIpLock_uuid"})
            ASSERT_EQ(plant.make(root.Sub(lock).c_str()), 0);
        LoopbackServer server(LoopbackServer::SetResponse(4));
        const std::string url = LoopbackUrl(server.port());
        // In a child: a report that blocked for ever would take the test program with it. It
        // takes a fraction of a second; the bound only tells a block from a slow machine.
        const ProcessResult child = RunForked(
            [&url] {
                std::int32_t slot = 0;
                return SendReport(url.c_str(), u"report", &slot) == 0 && slot == 4 ? 0 : 1;
            },
            10000);
        ASSERT_FALSE(child.timedOut) << "the report blocked at the lock place";
        EXPECT_EQ(child.exitCode, 0);
        EXPECT_EQ(server.WaitForRequests(1), 1u);
    }
}

constexpr const char* kLockPlaces[] = {"locks/h_Proxylock", "locks/h_TryGetIpLock_uuid"};
const char* const kAdapterUpload = "<FileType>7</FileType><Command>upload</Command>"
                                   "<ScheduleId>42</ScheduleId><StartMode>2</StartMode>";

struct FileState {
    unsigned mode = 0;
    unsigned owner = 0;
    std::string content;
    bool operator==(const FileState& other) const {
        return mode == other.mode && owner == other.owner && content == other.content;
    }
};

FileState StateOf(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return {};
    return {static_cast<unsigned>(info.st_mode & 07777), static_cast<unsigned>(info.st_uid),
            ReadFile(path)};
}

class PlantedLockFiles : public EndToEnd {
protected:
    void SetUp() override {
        EndToEnd::SetUp();
        MakeDirectories(root_.Sub("locks"));
        ASSERT_EQ(chmod(root_.Sub("locks").c_str(), 01777), 0);
    }

    ProcessResult Doctor() {
        return RunProcess({Build("tools/pandel-doctor/pandel-doctor"), "--agent-dir", agentDir_},
                          {{"PANDEL_ROOT", root_.path()}}, 60000);
    }
};

// A local account links a file it may write (or, without the kernel's hard-link protection, any
// file on the disk) in at a lock place: a report and the doctor take it as the lock, and leave
// its mode, owner and bytes as they were (they used to make it 0666).
TEST_F(PlantedLockFiles, HardLinksToOtherFilesAreLockedButNeverChanged) {
    const struct {
        const char* name;
        unsigned mode;
    } targets[] = {{"group-writable file", 0660}, {"setuid program", 04755}};
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string target = root_.Sub(targets[i].name);
        WriteFile(target, std::string("the bytes of a ") + targets[i].name);
        ASSERT_EQ(chmod(target.c_str(), targets[i].mode), 0);
        ASSERT_EQ(link(target.c_str(), root_.Sub(kLockPlaces[i]).c_str()), 0);
    }
    const FileState before[] = {StateOf(root_.Sub(targets[0].name)),
                                StateOf(root_.Sub(targets[1].name))};

    const ProcessResult run = Post("Download", Download(kAdapterUpload));
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(server_->WaitForRequests(1), 1u);
    const ProcessResult doctor = Doctor();
    EXPECT_NE(doctor.out.find("lock h_Proxylock: free"), std::string::npos) << doctor.out;
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(targets[i].name);
        EXPECT_TRUE(StateOf(root_.Sub(targets[i].name)) == before[i])
            << std::oct << StateOf(root_.Sub(targets[i].name)).mode;
    }
}

// The kernel's fs.protected_regular, set for the test's duration when it can be, else played by
// a preloaded library in the host process (told which level by the environment).
class ProtectedRegular {
public:
    static constexpr const char* kSetting = "/proc/sys/fs/protected_regular";

    ProtectedRegular() {
        std::ifstream in(kSetting);
        real_ = static_cast<bool>(in >> previous_) && Write(previous_);
    }
    ~ProtectedRegular() {
        if (real_)
            Write(previous_);
    }
    ProtectedRegular(const ProtectedRegular&) = delete;
    ProtectedRegular& operator=(const ProtectedRegular&) = delete;

    bool Real() const { return real_; }
    // The level in force for the host's next run: the environment it needs for that.
    std::map<std::string, std::string> Set(int level) {
        if (real_ && Write(level))
            return {};
        return {{"LD_PRELOAD", PANDEL_PROTECTED_REGULAR_SHIM},
                {"PANDEL_PROTECTED_REGULAR", std::to_string(level)}};
    }

private:
    static bool Write(int level) {
        std::ofstream out(kSetting);
        out << level << "\n";
        out.flush();
        return static_cast<bool>(out);
    }
    int previous_ = 0;
    bool real_ = false;
};

// An unprivileged account (here nobody's uid) made both lock files first, as a pandel-doctor
// run of its own does. With protected_regular 1 or 2 the kernel refuses even root an O_CREAT
// open of such a file; the lock must still be had, so a report waits while another process
// holds it, and goes out once it is let go.
TEST_F(PlantedLockFiles, LockFilesOfAnotherAccountStillLockUnderProtectedRegular) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give the lock files to another account";
    constexpr uid_t kOtherAccount = 65534;
    for (const char* place : kLockPlaces) {
        WriteFile(root_.Sub(place), "");
        ASSERT_EQ(chmod(root_.Sub(place).c_str(), 0644), 0);
        ASSERT_EQ(chown(root_.Sub(place).c_str(), kOtherAccount, kOtherAccount), 0);
    }
    ProtectedRegular setting;
    if (!setting.Real())
        std::printf("fs.protected_regular cannot be set here: its refusal is emulated in the "
                    "host process\n");
    for (int level : {0, 1, 2}) {
        SCOPED_TRACE("protected_regular " + std::to_string(level));
        hostEnv_ = setting.Set(level);
        const std::size_t before = server_->Requests().size();
        const int held = open(root_.Sub(kLockPlaces[0]).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(held, 0);
        ASSERT_EQ(flock(held, LOCK_EX), 0);
        ProcessResult run;
        std::thread host([&] { run = Post("Download", Download(kAdapterUpload)); });
        // A lock that could not be had would let the report out in a fraction of a second.
        const bool waited = server_->WaitForRequests(before + 1, 1500) == before;
        close(held);
        host.join();
        EXPECT_TRUE(waited) << "the report did not wait for the held lock";
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_EQ(server_->WaitForRequests(before + 1), before + 1);
        for (const char* place : kLockPlaces)
            EXPECT_TRUE(StateOf(root_.Sub(place)) == (FileState{0644, kOtherAccount, ""}));
    }
}

} // namespace
} // namespace pandel::test
