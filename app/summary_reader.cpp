#include "app/summary_reader.h"

#include <cstring>

#include "fileservice/file_service.h"

int32_t ReadByte(FileService& files, int32_t file) {
    uint8_t byte = 0;
    const int32_t read = files.FileRead(file, &byte, 1);
    if (read < 0) return kReadByteError;
    if (read == 0) return kReadByteEnd;
    return byte;
}

int32_t ReadLine(FileService& files, int32_t file, char* line) {
    int32_t stored = 0;
    bool anyByte = false;
    for (;;) {
        const int32_t b = ReadByte(files, file);
        if (b == kReadByteError) {
            line[stored] = '\0';
            return kReadLineError;
        }
        if (b == kReadByteEnd) {
            line[stored] = '\0';
            return anyByte ? kReadLineDone : kReadLineEnd;
        }
        if (b == '\n') {
            line[stored] = '\0';
            return kReadLineDone;
        }
        if (b == '\r') continue;
        anyByte = true;
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
