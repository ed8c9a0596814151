// Real processor faults, made in a library built apart, turned into ErrObj by the translator.
#include "diag/se_translator.h"
#include "pandel/err_obj.h"
#include "tests/diag/faulty.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using pandel::ErrObj;

void CountUnwound(void* counter) {
    ++*static_cast<int*>(counter);
}

struct Outcome {
    bool caught = false;
    std::uint32_t code = 0;
    std::u16string description;
    int unwound = 0; // destructors run between the fault and the catch
};

// One fault of libfaulty below a local object of this frame.
Outcome RunFault(int kind, const void* arg = nullptr) {
    Outcome outcome;
    try {
        struct Local {
            int& counter;
            ~Local() { ++counter; }
        } local{outcome.unwound};
        faulty_run(kind, arg, CountUnwound, &outcome.unwound);
    } catch (const ErrObj& error) {
        outcome = {true, static_cast<std::uint32_t>(error.GetCode()), error.GetDescription(),
                   outcome.unwound};
    }
    return outcome;
}

// A page of a file that was truncated after mapping: reading it is a bus error.
const void* TruncatedPage() {
    char name[] = "/tmp/pandel-faulty-XXXXXX";
    int fd = mkstemp(name);
    unlink(name);
    void* page = MAP_FAILED;
    if (fd >= 0 && ftruncate(fd, 4096) == 0)
        page = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
    if (fd >= 0 && ftruncate(fd, 0) != 0)
        page = MAP_FAILED;
    close(fd);
    return page == MAP_FAILED ? nullptr : page;
}

TEST(FaultTranslation, EveryFaultBecomesItsErrObjAndUnwindsThroughTheLibrary) {
    const void* truncated = TruncatedPage();
    ASSERT_NE(truncated, nullptr);
    struct Row {
        int kind;
        const void* arg;
        std::uint32_t code;
        const char16_t* description;
    } const rows[] = {
        {kFaultyNullWrite, nullptr, 0xC0000005u, u"EXCEPTION_ACCESS_VIOLATION"},
        {kFaultyMisalignedRead, nullptr, 0x80000002u, u"EXCEPTION_DATATYPE_MISALIGNMENT"},
        {kFaultyReadAt, truncated, 0xC0000006u, u"EXCEPTION_IN_PAGE_ERROR"},
        {kFaultyIllegal, nullptr, 0xC000001Du, u"EXCEPTION_ILLEGAL_INSTRUCTION"},
        {kFaultyDivideByZero, nullptr, 0xC0000094u, u"EXCEPTION_INT_DIVIDE_BY_ZERO"},
        {kFaultyStackOverflow, nullptr, 0xC00000FDu, u"EXCEPTION_STACK_OVERFLOW"},
    };
    // Twice through the table on one new thread: each fault after the first is translated too.
    std::vector<Outcome> outcomes;
    std::thread([&] {
        pandel::InstallSeTranslator();
        for (int round = 0; round < 2; ++round) {
            for (const Row& row : rows)
                outcomes.push_back(RunFault(row.kind, row.arg));
        }
        outcomes.push_back(RunFault(kFaultyNothing));
    }).join();
    ASSERT_EQ(outcomes.size(), 2 * std::size(rows) + 1);
    for (std::size_t i = 0; i + 1 < outcomes.size(); ++i) {
        const Row& row = rows[i % std::size(rows)];
        SCOPED_TRACE(testing::Message() << "fault " << i);
        EXPECT_TRUE(outcomes[i].caught);
        EXPECT_EQ(outcomes[i].code, row.code);
        EXPECT_EQ(outcomes[i].description, row.description);
        EXPECT_EQ(outcomes[i].unwound, 2);
    }
    EXPECT_FALSE(outcomes.back().caught);
    EXPECT_EQ(outcomes.back().unwound, 2);
    munmap(const_cast<void*>(truncated), 4096);
}

// The host's own SIGSEGV handler, installed before the translator.
void HostHandler(int, siginfo_t*, void*) {
    _exit(42);
}

// Runs body in a forked child that installed a host handler (or the default) and then the
// translator;
// the child's wait status, or -1 when it had not ended after 20 s.
int RunInChild(bool hostHandler, const std::function<void()>& body) {
    pid_t child = fork();
    if (child == 0) {
        struct sigaction host {};
        host.sa_sigaction = HostHandler;
        host.sa_flags = SA_SIGINFO;
        if (!hostHandler)
            host.sa_handler = SIG_DFL; // whatever the test program had (a sanitizer's handler)
        sigaction(SIGSEGV, &host, nullptr);
        pandel::InstallSeTranslator();
        body();
        _exit(0);
    }
    for (int i = 0; i < 2000; ++i) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child)
            return status;
        usleep(10000);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return -1;
}

TEST(FaultTranslation, WhatIsNotTranslatedKeepsThePreviousAction) {
    auto faultOnAnotherThread = [] {
        if (!RunFault(kFaultyNullWrite).caught)
            _exit(1);
        std::thread([] { faulty_run(kFaultyNullWrite, nullptr, nullptr, nullptr); }).join();
    };
    struct Case {
        const char* what;
        bool hostHandler;
        std::function<void()> body;
        int status; // as waitpid gives it
    } const cases[] = {
        {"other thread, default action", false, faultOnAnotherThread, SIGSEGV},
        {"other thread, host handler", true, faultOnAnotherThread, 42 << 8},
        {"SIGSEGV sent, not a fault", true, [] { raise(SIGSEGV); }, 42 << 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(RunInChild(c.hostHandler, c.body) & 0xFFFF & ~0x80, c.status);
    }
}

} // namespace
