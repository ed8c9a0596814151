// Counted fault injection over any platform: per kind of call, a test names which call fails
// (the Nth, once or from then on); a failing call answers its failure value and never reaches
// the platform below, so the fake's trace does not show it.
#pragma once

#include "platform/platform.h"

#include <atomic>

namespace pandel::test {

// How many calls of one kind were made, and whether the next one fails.
class CallCounter {
public:
    // The callNumber-th call (1-based) fails; with forGood every later one too.
    void FailCall(int callNumber, bool forGood = false) {
        failing_ = callNumber;
        forGood_ = forGood;
    }
    int Calls() const { return calls_.load(); }
    bool NextFails() {
        const int call = ++calls_;
        return failing_ != 0 && (forGood_ ? call >= failing_ : call == failing_);
    }

private:
    int failing_ = 0; // 0: no call fails
    bool forGood_ = false;
    std::atomic<int> calls_{0};
};

// What a failing call answers: the empty result unless the test sets another.
template <typename Result> struct CountedFault : CallCounter {
    Result failure{};
    Result Failure() const { return failure; }
};

// A failing call without a result is simply not made.
template <> struct CountedFault<void> : CallCounter {
    void Failure() const {}
};

class FaultInjectingPlatform final : public platform::ForwardingPlatform {
public:
    explicit FaultInjectingPlatform(platform::IPlatform& next) : ForwardingPlatform(next) {
        faults.OpenNamedLock.failure = platform::kNoLock; // the one failure that is not empty
    }

    // One member per call, named as the call.
    struct Faults {
#define PANDEL_PLATFORM_CALL(Result, Name, Parameters, Arguments) CountedFault<Result> Name;
#include "platform/platform_calls.def"
#undef PANDEL_PLATFORM_CALL
    } faults;

#define PANDEL_PLATFORM_CALL(Result, Name, Parameters, Arguments)                                  \
    Result Name Parameters override {                                                              \
        if (faults.Name.NextFails())                                                               \
            return faults.Name.Failure();                                                          \
        return ForwardingPlatform::Name Arguments;                                                 \
    }
#include "platform/platform_calls.def"
#undef PANDEL_PLATFORM_CALL
};

} // namespace pandel::test
