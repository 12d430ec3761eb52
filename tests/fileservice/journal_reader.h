// For tests that look at the change journal: names a fresh journal for the test's lifetime and
// reads back its lines.
#pragma once

#include <string>
#include <vector>

#include "fileservice/file_service.h"
#include "test_support.h"

namespace testing_support {

class JournalScope {
public:
    JournalScope(fileservice::FileService& fs, std::string path) : fs_(fs), path_(std::move(path)) {
        fs_.SetJournalFile(path_.c_str());
    }
    ~JournalScope() { fs_.SetJournalFile(""); }
    JournalScope(const JournalScope&) = delete;
    JournalScope& operator=(const JournalScope&) = delete;

    const std::string& path() const { return path_; }
    // The journal's lines without their CR LF; a last line without one is returned as "!" + it.
    std::vector<std::string> Lines() const {
        const auto bytes = ReadBytes(path_);
        const std::string text(bytes.begin(), bytes.end());
        std::vector<std::string> lines;
        size_t at = 0;
        while (at < text.size()) {
            const size_t end = text.find("\r\n", at);
            if (end == std::string::npos) {
                lines.push_back("!" + text.substr(at));
                break;
            }
            lines.push_back(text.substr(at, end - at));
            at = end + 2;
        }
        return lines;
    }

private:
    fileservice::FileService& fs_;
    std::string path_;
};

}  // namespace testing_support
