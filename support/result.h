// The outcome of an operation inside the tools and the console: done, or failed with a code and
// the text that says why. The library's own entry points keep the integer results of their
// callers; this is for code above them that has a reason to hand on.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace support {

class [[nodiscard]] Result {
public:
    static Result Done() { return Result(0, std::string()); }
    static Result Failed(std::string message, int32_t code = -1) { return Result(code, std::move(message)); }

    bool ok() const { return code_ == 0; }
    explicit operator bool() const { return ok(); }
    int32_t code() const { return code_; }     // 0 when done
    const std::string& message() const { return message_; }  // empty when done

private:
    Result(int32_t code, std::string message) : code_(code), message_(std::move(message)) {}

    int32_t code_;
    std::string message_;
};

}  // namespace support
