// A host's command object held in memory: the command's name and its body, the document as
// UTF-16 text. One object answers for all three of the module's interfaces: a host, or a host's
// test, can deliver a command without an agent behind it (the example host and pandel-host do).
#pragma once

#include "pandel/host_command.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>

namespace pandel {

class MemoryCommand final : public pandel::IHostCommand,
                            public pandel::IHostCommandBody,
                            public pandel::IHostBodyInfo {
public:
    // Told of every call the module makes: the operation's name and, for GetSize and ReadBody,
    // the size answered or offered (-1 for the others).
    using Observer = std::function<void(const char* operation, std::int32_t size)>;

    // The body gets its terminating null character unless withTerminator is false.
    MemoryCommand(std::u16string name, std::u16string body, bool withTerminator = true)
        : name_(std::move(name)), body_(std::move(body)) {
        if (withTerminator)
            body_.push_back(u'\0');
        reportedSize_ = static_cast<std::int32_t>(body_.size() * sizeof(char16_t));
    }

    // GetSize answers size instead of the body's true size in bytes.
    void ReportSize(std::int32_t size) { reportedSize_ = size; }
    void Observe(Observer observer) { observer_ = std::move(observer); }

    std::int32_t GetName(std::u16string* name) override {
        Tell("GetName", -1);
        if (name != nullptr)
            *name = name_;
        return 0;
    }
    IHostCommandBody* GetBody() override {
        Tell("GetBody", -1);
        return this;
    }
    IHostBodyInfo* GetBodyInfo() override {
        Tell("GetBodyInfo", -1);
        return this;
    }
    // Copies as much of the body as the buffer holds.
    std::int32_t ReadBody(void* buffer, std::int32_t* size) override {
        std::int32_t room = size != nullptr ? *size : 0;
        Tell("ReadBody", room);
        std::size_t copy =
            room > 0 ? std::min(body_.size() * sizeof(char16_t), std::size_t(room)) : 0;
        if (buffer != nullptr && copy > 0)
            std::memcpy(buffer, body_.data(), copy);
        return 0;
    }
    std::int32_t GetSize() override {
        Tell("GetSize", reportedSize_);
        return reportedSize_;
    }

private:
    void Tell(const char* operation, std::int32_t size) {
        if (observer_)
            observer_(operation, size);
    }

    std::u16string name_;
    std::u16string body_; // as the host holds it, its null character included when it has one
    std::int32_t reportedSize_;
    Observer observer_;
};

} // namespace pandel
