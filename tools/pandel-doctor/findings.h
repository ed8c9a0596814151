// What pandel-doctor found: one line per finding, with a mark, the explanation and the fix.
#pragma once

#include <string>
#include <vector>

namespace pandel::doctor {

enum class Mark {
    Ok,   // as it should be
    Warn, // works, but not as an operator would expect
    Fail, // a Download cannot run or cannot report
};

struct Finding {
    Mark mark = Mark::Ok;
    std::string check; // what was looked at: "agent.xml", "proxy", "lock h_Proxylock", ...
    std::string text;  // what was found and what it means
    std::string fix;   // what to do, when not ok
};

class Findings {
public:
    void Ok(std::string check, std::string text);
    void Warn(std::string check, std::string text, std::string fix);
    void Fail(std::string check, std::string text, std::string fix);

    // True when no finding failed: a Download could run and report.
    bool Ready() const;

    // "[ ok ] check: text" per finding, "-- fix: ..." appended when not ok, then the verdict.
    std::string AsText() const;
    // {"ready": ..., "findings": [{"check", "status", "text", "fix"}, ...]}
    std::string AsJson() const;

private:
    std::vector<Finding> findings_;
};

// text with every byte that a terminal would act on, and every byte of invalid UTF-8, written
// as \xNN: file contents shown as they are, never as control sequences.
std::string Shown(const std::string& text);

} // namespace pandel::doctor
