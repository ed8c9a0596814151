// Real processor faults, made in a library built apart, turned into ErrObj by the translator.
#include "diag/err_obj.h"
#include "platform/fault.h"
#include "tests/diag/faulty.h"
#include "tests/diag/log_capture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <pthread.h>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using pandel::ErrObj;
using ::testing::HasSubstr;

void CountUnwound(void* counter) {
    ++*static_cast<int*>(counter);
}

struct Outcome {
    bool caught = false;
    std::int32_t code = 0;
    std::u16string description;
    int unwound = 0; // destructors run between the fault and the catch (two expected)
    ErrObj error{0, u"", false};
};

// Runs one fault of libfaulty below a local object of this frame and catches it.
Outcome RunFault(int kind, const void* arg) {
    Outcome outcome;
    try {
        struct Local {
            int* counter;
            ~Local() { ++*counter; }
        } local{&outcome.unwound};
        faulty_run(kind, arg, CountUnwound, &outcome.unwound);
    } catch (const ErrObj& error) {
        outcome.caught = true;
        outcome.code = error.GetCode();
        outcome.description = error.GetDescription();
        outcome.error = error;
    }
    return outcome;
}

// Runs fn on a new thread with a stack of stackBytes and waits for it.
void RunOnThread(std::size_t stackBytes, const std::function<void()>& fn) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stackBytes);
    pthread_t thread;
    auto body = [](void* f) -> void* {
        (*static_cast<const std::function<void()>*>(f))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, body, const_cast<std::function<void()>*>(&fn)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

// Runs fn in a forked child whose exit status is fn's result; the wait status, or nullopt when
// the child had not ended after 20 s (it is then killed).
std::optional<int> RunInChild(const std::function<int()>& fn) {
    std::fflush(nullptr);
    pid_t child = fork();
    if (child == 0)
        _exit(fn());
    for (int waited = 0; waited < 2000; ++waited) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child)
            return status;
        usleep(10000);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return std::nullopt;
}

// A one-page file mapped and then truncated to nothing: reading the page is a bus error.
class TruncatedMapping {
public:
    TruncatedMapping() {
        char name[] = "/tmp/pandel-faulty-XXXXXX";
        int fd = mkstemp(name);
        if (fd < 0)
            return;
        unlink(name);
        if (ftruncate(fd, 4096) == 0) {
            void* m = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
            if (m != MAP_FAILED && ftruncate(fd, 0) == 0)
                page_ = m;
        }
        close(fd);
    }
    ~TruncatedMapping() {
        if (page_ != nullptr)
            munmap(page_, 4096);
    }
    const void* page() const { return page_; }

private:
    void* page_ = nullptr;
};

class ReadOnlyPage {
public:
    ReadOnlyPage() {
        void* m = mmap(nullptr, 4096, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        page_ = m == MAP_FAILED ? nullptr : m;
    }
    ~ReadOnlyPage() {
        if (page_ != nullptr)
            munmap(page_, 4096);
    }
    const void* page() const { return page_; }

private:
    void* page_ = nullptr;
};

TEST(FaultTranslation, EveryFaultBecomesItsErrObjAndUnwindsThroughTheLibrary) {
    TruncatedMapping truncated;
    ReadOnlyPage readOnly;
    ASSERT_NE(truncated.page(), nullptr);
    ASSERT_NE(readOnly.page(), nullptr);
    struct Row {
        const char* what;
        int kind;
        const void* arg;
        std::uint32_t code;
        const char16_t* description;
    } const rows[] = {
        {"null write", kFaultyNullWrite, nullptr, 0xC0000005u, u"EXCEPTION_ACCESS_VIOLATION"},
        {"write to a read-only page", kFaultyWriteAt, readOnly.page(), 0xC0000005u,
         u"EXCEPTION_ACCESS_VIOLATION"},
        {"misaligned load", kFaultyMisalignedRead, nullptr, 0x80000002u,
         u"EXCEPTION_DATATYPE_MISALIGNMENT"},
        {"read of a truncated mapping", kFaultyReadAt, truncated.page(), 0xC0000006u,
         u"EXCEPTION_IN_PAGE_ERROR"},
        {"ud2", kFaultyIllegal, nullptr, 0xC000001Du, u"EXCEPTION_ILLEGAL_INSTRUCTION"},
        {"integer division by zero", kFaultyDivideByZero, nullptr, 0xC0000094u,
         u"EXCEPTION_INT_DIVIDE_BY_ZERO"},
        {"stack overflow", kFaultyStackOverflow, nullptr, 0xC00000FDu, u"EXCEPTION_STACK_OVERFLOW"},
    };
    // Twice through the table on one thread: every fault after the first is translated too.
    std::vector<Outcome> outcomes;
    RunOnThread(1 << 20, [&] {
        platform::InstallFaultTranslator(pandel::SeTranslator);
        for (int round = 0; round < 2; ++round) {
            for (const Row& row : rows)
                outcomes.push_back(RunFault(row.kind, row.arg));
        }
    });
    ASSERT_EQ(outcomes.size(), 2 * std::size(rows));
    pandel::test::DbgLogCapture log;
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const Row& row = rows[i % std::size(rows)];
        Outcome& outcome = outcomes[i];
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(outcome.caught);
        EXPECT_EQ(static_cast<std::uint32_t>(outcome.code), row.code);
        EXPECT_EQ(outcome.description, row.description);
        EXPECT_EQ(outcome.unwound, 2);
        if (log.Available()) {
            outcome.error.Report(0);
            EXPECT_THAT(log.Appended(),
                        HasSubstr(log.Entry(u"Err occur, Code:" + pandel::test::Decimal(row.code) +
                                            u"\t\n\t" + row.description)));
        }
    }
}

TEST(FaultTranslation, NothingHappensWithoutAFault) {
    platform::InstallFaultTranslator(pandel::SeTranslator);
    int unwound = 0;
    EXPECT_EQ(faulty_run(kFaultyNothing, nullptr, CountUnwound, &unwound), 7);
    EXPECT_EQ(unwound, 1);
}

TEST(FaultTranslation, AThreadWithoutTheTranslatorTakesTheDefaultAction) {
    std::optional<int> status = RunInChild([] {
        platform::InstallFaultTranslator(pandel::SeTranslator);
        std::thread other([] { faulty_run(kFaultyNullWrite, nullptr, nullptr, nullptr); });
        other.join();
        return 0;
    });
    ASSERT_TRUE(status.has_value());
    ASSERT_TRUE(WIFSIGNALED(*status)) << "exit status " << *status;
    EXPECT_EQ(WTERMSIG(*status), SIGSEGV);
}

// The host's own SIGSEGV handler, installed before the translator.
std::atomic<int> g_hostExit{0};
void HostHandler(int, siginfo_t*, void*) {
    _exit(g_hostExit.load());
}

int WithHostHandler(const std::function<int()>& fn) {
    struct sigaction host {};
    host.sa_sigaction = HostHandler;
    host.sa_flags = SA_SIGINFO;
    sigemptyset(&host.sa_mask);
    sigaction(SIGSEGV, &host, nullptr);
    platform::InstallFaultTranslator(pandel::SeTranslator);
    return fn();
}

TEST(FaultTranslation, TheHostsHandlerStillTakesWhatIsNotTranslated) {
    struct Case {
        const char* what;
        std::function<int()> body;
        int expectedExit;
    } const cases[] = {
        {"fault on the translating thread, then on another thread",
         [] {
             if (!RunFault(kFaultyNullWrite, nullptr).caught)
                 return 1;
             g_hostExit = 42;
             std::thread other([] { faulty_run(kFaultyNullWrite, nullptr, nullptr, nullptr); });
             other.join();
             return 2;
         },
         42},
        {"SIGSEGV sent, not raised by a fault",
         [] {
             g_hostExit = 43;
             raise(SIGSEGV);
             return 3;
         },
         43},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<int> status = RunInChild([&] { return WithHostHandler(c.body); });
        ASSERT_TRUE(status.has_value());
        ASSERT_TRUE(WIFEXITED(*status)) << "wait status " << *status;
        EXPECT_EQ(WEXITSTATUS(*status), c.expectedExit);
    }
}

} // namespace
