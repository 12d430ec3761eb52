#include "app/summary_reader.h"

#include <cstring>

#include "fileservice/file_service.h"

using fileservice::FileService;

namespace app {

int32_t ReadByte(FileService& files, int32_t file) {
    // Not initialised: it is looked at only when FileRead says it filled it. A zero stored first
    // would cost a store per byte of every summary.
    uint8_t byte;
    const int32_t read = files.FileRead(file, &byte, 1);
    if (read < 0) return kReadByteError;
    if (read == 0) return kReadByteEnd;
    return byte;
}

int32_t ReadLine(FileService& files, int32_t file, char* line) {
    // The first byte of a line is always stored, so a line has a byte exactly when `stored` is
    // not 0; no flag of its own needs updating at every byte.
    int32_t stored = 0;
    for (;;) {
        const int32_t b = ReadByte(files, file);
        if (b == kReadByteError) {
            line[stored] = '\0';
            return kReadLineError;
        }
        if (b == kReadByteEnd) {
            line[stored] = '\0';
            return stored > 0 ? kReadLineDone : kReadLineEnd;
        }
        if (b == '\n') {
            line[stored] = '\0';
            return kReadLineDone;
        }
        if (b == '\r') continue;
        if (stored < kLineCapacity) line[stored++] = static_cast<char>(b);
    }
}

const char* FindUserName(const char* line) {
    const char* label = std::strstr(line, kUserNameLabel);
    if (label == nullptr) return nullptr;
    // The character after the label is skipped whatever it is, but never the line's end.
    const char* rest = label + sizeof kUserNameLabel - 1;
    return *rest == '\0' ? rest : rest + 1;
}

int32_t ReadUserName(FileService& files, int32_t file, char* line, const char** name) {
    *name = nullptr;
    for (;;) {
        const int32_t result = ReadLine(files, file, line);
        if (result != kReadLineDone) return result;
        if ((*name = FindUserName(line)) != nullptr) return kReadLineDone;
    }
}

}  // namespace app
