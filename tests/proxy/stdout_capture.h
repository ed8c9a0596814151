// Captures the bytes written to file descriptor 1 (the process's standard output) while alive.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace pandel::test {

class StdoutCapture {
public:
    StdoutCapture() {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        char name[] = "/tmp/pandel-stdout-XXXXXX";
        file_ = mkstemp(name);
        unlink(name);
        if (saved_ >= 0 && file_ >= 0)
            dup2(file_, STDOUT_FILENO);
    }
    ~StdoutCapture() { Finish(); }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Puts standard output back and returns the bytes that reached the descriptor meanwhile.
    // Nothing is flushed for the caller first: text left in the stdio buffer does not count.
    std::string Finish() {
        if (done_)
            return text_;
        done_ = true;
        if (file_ >= 0) {
            char buffer[4096];
            ssize_t n;
            off_t at = 0;
            while ((n = pread(file_, buffer, sizeof buffer, at)) > 0) {
                text_.append(buffer, static_cast<std::size_t>(n));
                at += n;
            }
        }
        std::fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, STDOUT_FILENO);
            close(saved_);
        }
        if (file_ >= 0)
            close(file_);
        return text_;
    }

private:
    int saved_ = -1;
    int file_ = -1;
    bool done_ = false;
    std::string text_;
};

} // namespace pandel::test
