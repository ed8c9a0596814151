// The flag each side's fault handling keeps per thread while one of its faults is being looked at
// or translated: set for a scope, cleared when the scope ends, the translator's exception too.
#pragma once

namespace pandel::platform {

class TranslatingScope {
public:
    explicit TranslatingScope(bool& translating) : translating_(translating) {
        translating_ = true;
    }
    ~TranslatingScope() { translating_ = false; }
    TranslatingScope(const TranslatingScope&) = delete;
    TranslatingScope& operator=(const TranslatingScope&) = delete;

private:
    bool& translating_;
};

} // namespace pandel::platform
