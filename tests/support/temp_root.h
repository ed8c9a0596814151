// A fresh temporary directory for one test, set as PANDEL_ROOT while the test runs.
#pragma once

#include <string>

namespace pandel::test {

class TempRoot {
public:
    TempRoot();  // creates the directory and its C/ subdirectory, sets PANDEL_ROOT
    ~TempRoot(); // removes the directory tree, puts the previous PANDEL_ROOT back
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::string& path() const { return path_; }
    std::string Sub(const std::string& relative) const { return path_ + "/" + relative; }

private:
    std::string path_;
    std::string previousRoot_;
    bool hadPreviousRoot_ = false;
};

// Whole-file helpers for tests.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
void MakeDirectories(const std::string& path);

} // namespace pandel::test
