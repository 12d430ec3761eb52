// hdbtool: looks into, checks, repairs and converts database files. See 'hdbtool --help'.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/command_line.h"
#include "tools/output_sink.h"

namespace tools {
namespace {

// A stdio stream. The first failed write is remembered with its reason; nothing more is tried.
class StreamSink : public OutputSink {
public:
    explicit StreamSink(std::FILE* stream) : stream_(stream) {}

    bool Write(std::string_view text) override {
        if (failed_) return false;
        if (std::fwrite(text.data(), 1, text.size(), stream_) != text.size()) Failed();
        return !failed_;
    }
    bool Flush() override {
        if (!failed_ && (std::fflush(stream_) != 0 || std::ferror(stream_))) Failed();
        return !failed_;
    }
    std::string FailureReason() const override { return reason_; }

private:
    void Failed() {
        failed_ = true;
        reason_ = errno != 0 ? std::strerror(errno) : "write error";
    }

    std::FILE* stream_;
    bool failed_ = false;
    std::string reason_;
};

}  // namespace
}  // namespace tools

int main(int argc, char** argv) {
    tools::StreamSink out(stdout);
    tools::StreamSink err(stderr);
    const int status = tools::RunHdbtool(argc, argv, out, err);
    err.Flush();
    return status;
}
