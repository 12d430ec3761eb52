// Any bytes read as a user's summary: line by line to the end, and for the user's name. Besides
// not crashing or hanging: every line is what the bytes hold between line feeds (carriage
// returns dropped, cut at the line capacity), the end comes after the last one, and the name is
// the one the first line carrying the label gives.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "app/summary_reader.h"
#include "fileservice/file_service.h"
#include "fuzz_support.h"

using namespace app;
using fileservice::FileService;
using fileservice::OpenFileCount;
using fileservice::OpenRead;

namespace {

// The lines as the reader must give them, each as the C string it leaves in its buffer.
std::vector<std::string> ExpectedLines(const uint8_t* data, size_t size) {
    std::vector<std::string> lines;
    std::string line;
    bool anyByte = false;
    for (size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\n') {
            lines.push_back(line.c_str());
            line.clear();
            anyByte = false;
        } else if (c != '\r') {
            anyByte = true;
            if (line.size() < static_cast<size_t>(kLineCapacity)) line += c;
        }
    }
    if (anyByte) lines.push_back(line.c_str());
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Scratch& scratch = fuzz::Scratch::Shared();
    const std::string path = scratch.Write("UserSummary.rtf", data, size);
    const std::vector<std::string> expected = ExpectedLines(data, size);
    {
        FileService files;
        std::vector<char> line(kLineBufferSize + 1, '\x55');
        const int32_t file = files.FileOpen(path.c_str(), OpenRead);
        fuzz::Require(file >= 0, "the summary opens");
        std::vector<std::string> lines;
        int32_t result = kReadLineDone;
        while ((result = ReadLine(files, file, line.data())) == kReadLineDone) {
            fuzz::Require(line[kLineBufferSize] == '\x55', "a line stays inside its buffer");
            fuzz::Require(std::memchr(line.data(), 0, kLineBufferSize) != nullptr, "a line is terminated");
            lines.emplace_back(line.data());
            fuzz::Require(lines.size() <= expected.size(), "no more lines than the bytes hold");
        }
        fuzz::Require(result == kReadLineEnd, "the lines end at the file's end");
        fuzz::Require(lines == expected, "each line is what the bytes hold");
        files.FileClose(file);

        // The name: from the first line that carries the label.
        const std::string* named = nullptr;
        for (const std::string& candidate : expected)
            if (candidate.find(kUserNameLabel) != std::string::npos) {
                named = &candidate;
                break;
            }
        const int32_t again = files.FileOpen(path.c_str(), OpenRead);
        fuzz::Require(again >= 0, "the summary opens again");
        const char* name = nullptr;
        const int32_t found = ReadUserName(files, again, line.data(), &name);
        files.FileClose(again);
        if (!named) {
            fuzz::Require(found == kReadLineEnd && name == nullptr, "without the label there is no name");
        } else {
            fuzz::Require(found == kReadLineDone && name != nullptr, "the label gives a name");
            fuzz::Require(name >= line.data() && name < line.data() + kLineBufferSize, "the name lies in the line");
            const size_t label = named->find(kUserNameLabel) + sizeof kUserNameLabel - 1;
            const std::string want = label < named->size() ? named->substr(label + 1) : std::string();
            fuzz::Require(want == name, "the name is what follows the label and one character");
        }
        fuzz::Require(OpenFileCount() == 0, "every file is closed again");
    }
    scratch.Clear();
    return 0;
}
