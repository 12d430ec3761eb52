// Where the console writes: the run's status lines and its final message to standard output,
// its own diagnostics to standard error. A line that cannot be written is dropped and counted,
// so the exit code can say that the output is not whole.
#pragma once

#include <cstdio>
#include <string>

namespace app {

class ConsoleStreams {
public:
    virtual ~ConsoleStreams() = default;
    // One line each (the line end is added). False when it could not be written.
    virtual bool Out(const std::string& line) = 0;
    virtual bool Err(const std::string& line) = 0;
    // Whether any line could not be written.
    virtual bool Failed() const = 0;
};

// Standard output and standard error. Each line is flushed at once, so a status line shows as
// the run adds it. Once a stream has failed, later lines to it are dropped without trying.
class StdioStreams : public ConsoleStreams {
public:
    StdioStreams(std::FILE* out = stdout, std::FILE* err = stderr) : out_(out), err_(err) {}
    bool Out(const std::string& line) override { return Write(out_, outFailed_, line); }
    bool Err(const std::string& line) override { return Write(err_, errFailed_, line); }
    bool Failed() const override { return outFailed_ || errFailed_; }

private:
    static bool Write(std::FILE* stream, volatile bool& failed, const std::string& line);

    std::FILE* out_;
    std::FILE* err_;
    volatile bool outFailed_ = false;  // written by the worker thread, read after it has ended
    volatile bool errFailed_ = false;
};

}  // namespace app
