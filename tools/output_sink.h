// Where a tool's output goes. A write that fails makes the sink failed; the walks that write to
// it stop at the next key, so a full disk ends a long listing at once.
#pragma once

#include <string>
#include <string_view>

namespace tools {

class OutputSink {
public:
    virtual ~OutputSink() = default;
    // False when the output could not be written (now or earlier).
    virtual bool Write(std::string_view text) = 0;
    // Pushes out what is buffered. False when any of the output was lost.
    virtual bool Flush() { return true; }
    // Why the output was lost, for the message.
    virtual std::string FailureReason() const { return "write error"; }
};

class StringSink : public OutputSink {
public:
    bool Write(std::string_view text) override {
        text_.append(text);
        return true;
    }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

}  // namespace tools
