#include "support/path_helpers.h"

#include <cstring>

#include "platform/code_page.h"

namespace support {

const char* NextChar(const char* text) {
    if (*text == '\0') return text;
    if (platform::IsLeadByte(static_cast<uint8_t>(*text)) && text[1] != '\0') return text + 2;
    return text + 1;
}

const char* LastChar(const char* text) {
    if (!text) return nullptr;
    const char* last = text;
    for (const char* p = text; *p != '\0'; p = NextChar(p)) last = p;
    return last;
}

const char* FirstSeparator(const char* text) {
    if (!text) return nullptr;
    for (const char* p = text; *p != '\0'; p = NextChar(p))
        if (IsSeparator(*p)) return p;
    return nullptr;
}

const char* LastSeparator(const char* text) {
    if (!text) return nullptr;
    const char* found = nullptr;
    for (const char* p = text; *p != '\0'; p = NextChar(p))
        if (IsSeparator(*p)) found = p;
    return found;
}

const char* PrevChar(const char* begin, const char* pos) {
    if (!begin || !pos) return nullptr;
    const char* last = begin;
    for (const char* p = begin; p < pos && *p != '\0'; p = NextChar(p)) last = p;
    return last;
}

// Stepping back character by character meets the same character starts as one walk forward,
// so the nearest separator before `pos` is the last one the forward walk meets.
const char* PrevSeparator(const char* begin, const char* pos) {
    if (!begin || !pos || begin == pos) return nullptr;
    const char* found = nullptr;
    for (const char* p = begin; p < pos && *p != '\0'; p = NextChar(p))
        if (IsSeparator(*p)) found = p;
    return found;
}

int32_t AddTrailingSeparator(char* path, size_t size, char separator) {
    if (!path || path[0] == '\0' || IsSeparator(*LastChar(path))) return 0;
    const size_t length = std::strlen(path);
    if (length + 2 > size) return -1;
    path[length] = separator;
    path[length + 1] = '\0';
    return 0;
}

void RemoveTrailingSeparators(char* path) {
    if (!path) return;
    while (path[0] != '\0') {
        char* last = LastChar(path);
        if (!IsSeparator(*last)) return;
        *last = '\0';
    }
}

void BackslashesToSlashes(char* text) {
    if (!text) return;
    for (; *text != '\0'; ++text)
        if (*text == '\\') *text = '/';
}

void SlashesToBackslashes(char* text) {
    if (!text) return;
    for (; *text != '\0'; ++text)
        if (*text == '/') *text = '\\';
}

namespace {

// Copies [from, to) into out as far as it fits, always terminated.
void CopyCut(const char* from, const char* to, char* out, size_t size) {
    if (!out || size == 0) return;
    size_t length = static_cast<size_t>(to - from);
    if (length > size - 1) length = size - 1;
    std::memcpy(out, from, length);
    out[length] = '\0';
}

const char* ComponentEnd(const char* start) {
    const char* end = start;
    while (*end != '\0' && *end != '\\') ++end;
    return end;
}

}  // namespace

const char* NextComponent(const char* src, char* out, size_t size) {
    if (!src) return nullptr;
    while (*src == '\\') ++src;
    if (*src == '\0') return nullptr;
    const char* end = ComponentEnd(src);
    CopyCut(src, end, out, size);
    return *end == '\\' ? end + 1 : end;
}

const char* PrevComponent(const char* begin, const char* pos, char* out, size_t size) {
    if (!begin || !pos || pos == begin) return nullptr;
    const char* p = pos;
    while (p > begin && p[-1] == '\\') --p;
    if (p == begin) return nullptr;
    const char* backslash = p - 1;
    while (backslash > begin && *backslash != '\\') --backslash;
    const char* start = *backslash == '\\' ? backslash + 1 : begin;
    CopyCut(start, ComponentEnd(start), out, size);
    return backslash;
}

namespace {

// Appends text to a work buffer of kCombineWorkSize bytes; false when it does not fit.
bool Append(char* work, size_t& length, const char* text, size_t count) {
    if (length + count >= kCombineWorkSize) return false;
    std::memcpy(work + length, text, count);
    length += count;
    work[length] = '\0';
    return true;
}

// How much of a path is its root, which ".." cannot remove: a drive ("C:" or "C:\") or the
// leading separators.
size_t RootLength(const char* path) {
    const unsigned char first = static_cast<unsigned char>(path[0]);
    if (((first | 0x20) >= 'a' && (first | 0x20) <= 'z') && path[1] == ':') return IsSeparator(path[2]) ? 3 : 2;
    size_t length = 0;
    while (IsSeparator(path[length])) ++length;
    return length;
}

bool EndsComponent(char ch) { return ch == '\0' || IsSeparator(ch); }

// Resolves the "." and ".." components of `work` into `out` (kCombineWorkSize bytes).
bool ResolveDots(const char* work, char* out) {
    size_t length = 0;
    bool dropSeparator = false;  // after a ".." that reached the root or the start
    out[0] = '\0';
    for (const char* p = work; *p != '\0';) {
        if (IsSeparator(*p) && p[1] == '.' && p[2] == '.' && EndsComponent(p[3])) {
            const size_t root = RootLength(out);
            if (length <= root) return false;
            const char* separator = LastSeparator(out + root);
            length = separator ? static_cast<size_t>(separator - out) : root;
            out[length] = '\0';
            dropSeparator = length == root;
            p += 3;
            continue;
        }
        if (IsSeparator(*p) && p[1] == '.' && EndsComponent(p[2])) {
            p += 2;
            continue;
        }
        if (dropSeparator && IsSeparator(*p)) {
            dropSeparator = false;
            ++p;
            continue;
        }
        dropSeparator = false;
        const char* next = NextChar(p);
        const size_t count = static_cast<size_t>(next - p);
        std::memcpy(out + length, p, count);  // out is as large as work, and never longer
        length += count;
        out[length] = '\0';
        p = next;
    }
    return true;
}

}  // namespace

int32_t CombinePath(const char* base, const char* relative, char* out, size_t size) {
    if (!out || size == 0) return -1;
    out[0] = '\0';
    if (!base || !relative) return -1;
    char work[kCombineWorkSize];
    size_t length = 0;
    work[0] = '\0';
    if (!IsSeparator(relative[0]) && base[0] != '\0') {
        const char* first = FirstSeparator(relative);
        const char separator = first && *first == '\\' ? '\\' : '/';
        if (!Append(work, length, base, std::strlen(base)) || !Append(work, length, &separator, 1)) return -1;
    }
    if (!Append(work, length, relative, std::strlen(relative))) return -1;
    if (work[0] == '.' && work[1] == '.' && EndsComponent(work[2])) return -1;

    char resolved[kCombineWorkSize];
    if (!ResolveDots(work, resolved)) return -1;
    const size_t resolvedLength = std::strlen(resolved);
    if (resolvedLength + 1 > size) return -1;
    std::memcpy(out, resolved, resolvedLength + 1);
    return 0;
}

}  // namespace support
