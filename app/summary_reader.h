// Reading a user's UserSummary.rtf: plain bytes, one line at a time, looking for the line that
// names the user. The rich-text markup is not interpreted.
#pragma once

#include <cstdint>

namespace fileservice {
class FileService;
}  // namespace fileservice

namespace app {

// A line holds at most 4,095 characters and its terminating zero. A longer line keeps its first
// 4,095 characters; the rest of it is read and dropped, so the next line starts where it should.
constexpr int32_t kLineCapacity = 4095;
constexpr int32_t kLineBufferSize = kLineCapacity + 1;

constexpr int32_t kReadLineDone = 0;
constexpr int32_t kReadLineEnd = 2;
constexpr int32_t kReadLineError = -1;  // a read failed: the file's end is not known

constexpr int32_t kReadByteEnd = -1;
constexpr int32_t kReadByteError = -2;

constexpr char kUserNameLabel[] = "User Name:";

// The next byte of the open file `file` as 0..255, kReadByteEnd at the end, kReadByteError
// when the read failed. One FileRead of one byte per call.
int32_t ReadByte(fileservice::FileService& files, int32_t file);

// Reads the next line into `line` (kLineBufferSize bytes) without its line feed and with every
// carriage return dropped, then a terminating zero. kReadLineDone when a line was read (possibly
// empty), kReadLineEnd when the file ended before any byte of a new line, kReadLineError when a
// read failed (what was read of the line is in `line`, but it may not be all of it).
int32_t ReadLine(fileservice::FileService& files, int32_t file, char* line);

// The user name in `line` (zero-terminated): whatever follows the label and the one character
// after it. Null when the line has no label; an empty text when nothing follows.
const char* FindUserName(const char* line);

// Reads lines of `file` into `line` until one carries the label; lines after it are not read.
// kReadLineDone with *name the user name (inside `line`); kReadLineEnd when the file ends
// without such a line; kReadLineError when a read failed first. *name is null unless found.
int32_t ReadUserName(fileservice::FileService& files, int32_t file, char* line, const char** name);

}  // namespace app
