#include "support/text_helpers.h"

#include <cstring>

#include "support/ascii_case.h"

namespace support {

namespace {

// Collects a filled template; every byte written counts against the limit, so the terminator
// always has its place.
class FilledText {
public:
    explicit FilledText(size_t size) : limit_(size - 1 < kFormatWorkSize - 1 ? size - 1 : kFormatWorkSize - 1) {}
    bool Full() const { return length_ >= limit_; }
    void Put(char ch) {
        if (!Full()) work_[length_++] = ch;
    }
    void PutText(const char* text) {
        for (; text && *text != '\0' && !Full(); ++text) work_[length_++] = *text;
    }
    void CopyTo(char* out) const {
        std::memcpy(out, work_, length_);
        out[length_] = '\0';
    }

private:
    char work_[kFormatWorkSize];
    size_t limit_;
    size_t length_ = 0;
};

bool IsPlaceholder(const char* p) { return p[0] == '%' && (p[1] == 's' || p[1] == 'S'); }

// Fills `text`; placeholders carry a selector character when `arguments` has more than one
// entry.
void Fill(char* text, size_t size, const char* const* arguments, int count) {
    if (!text || size == 0) return;
    FilledText filled(size);
    const char* p = text;
    while (*p != '\0' && !filled.Full()) {
        if (IsPlaceholder(p)) {
            if (count == 1) {
                filled.PutText(arguments[0]);
                p += 2;
                continue;
            }
            const char selector = p[2];
            int chosen = 0;
            if (selector == '2') chosen = 1;
            if (selector == '3' && count == 3) chosen = 2;
            filled.PutText(arguments[chosen]);
            p += selector == '\0' ? 2 : 3;
        } else if (p[0] == '%' && p[1] == '%') {
            filled.Put('%');
            p += 2;
        } else {
            filled.Put(*p++);
        }
    }
    filled.CopyTo(text);
}

int32_t ReplaceTag(char* text, size_t size, char open, char close, const char* name, const char* value) {
    if (!text || !name) return 0;
    if (!value) value = "";
    const size_t nameLength = std::strlen(name);
    const size_t valueLength = std::strlen(value);
    const size_t tagLength = nameLength + 2;
    size_t length = std::strlen(text);
    int32_t replaced = 0;
    char* p = text;
    while (*p != '\0') {
        if (*p != open) {
            ++p;
            continue;
        }
        size_t matched = 0;
        while (matched < nameLength && p[1 + matched] != '\0' && AsciiLower(p[1 + matched]) == AsciiLower(name[matched]))
            ++matched;
        if (matched < nameLength || p[1 + nameLength] != close) {
            ++p;
            continue;
        }
        const size_t newLength = length - tagLength + valueLength;
        if (newLength + 1 > size) return -1;
        const size_t tail = length - static_cast<size_t>(p - text) - tagLength + 1;  // with the terminator
        std::memmove(p + valueLength, p + tagLength, tail);
        std::memcpy(p, value, valueLength);
        length = newLength;
        p += valueLength;
        ++replaced;
    }
    return replaced;
}

}  // namespace

void FormatText(char* text, size_t size, const char* arg) {
    const char* arguments[] = {arg};
    Fill(text, size, arguments, 1);
}

void FormatText2(char* text, size_t size, const char* first, const char* second) {
    const char* arguments[] = {first, second};
    Fill(text, size, arguments, 2);
}

void FormatText3(char* text, size_t size, const char* first, const char* second, const char* third) {
    const char* arguments[] = {first, second, third};
    Fill(text, size, arguments, 3);
}

int32_t ReplaceSquareTag(char* text, size_t size, const char* name, const char* value) {
    return ReplaceTag(text, size, '[', ']', name, value);
}

int32_t ReplaceAngleTag(char* text, size_t size, const char* name, const char* value) {
    return ReplaceTag(text, size, '<', '>', name, value);
}

void StripQuotes(char* text) {
    if (!text) return;
    const size_t length = std::strlen(text);
    if (length < 2 || text[0] != '"' || text[length - 1] != '"') return;
    std::memmove(text, text + 1, length - 2);
    text[length - 2] = '\0';
}

void TrimSpaces(char* text) {
    if (!text) return;
    size_t length = std::strlen(text);
    while (length > 0 && text[length - 1] == ' ') --length;
    size_t start = 0;
    while (start < length && text[start] == ' ') ++start;
    std::memmove(text, text + start, length - start);
    text[length - start] = '\0';
}

void ToggleScramble(char* text) {
    if (!text) return;
    for (; *text != '\0'; ++text) *text = static_cast<char>(static_cast<uint8_t>(*text) ^ kToggleScrambleKey);
}

}  // namespace support
