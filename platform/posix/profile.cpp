// Initialisation files on POSIX, read as GetPrivateProfileStringA reads them (checked against
// Wine on a table of files): lines end at CR or LF; blanks (and Ctrl-Z) around lines, names and
// values do not count; "[name]" starts a section, its name running to the last ']' of the line;
// "key=value" lines belong to the section above them; a line without '=' names a key without a
// value, which reads as missing. There are no comments as such: a line ";key=x" is the key
// ";key". Names compare without regard to case, and the first section and the first key of a
// name win. A value loses one pair of surrounding quotes (' or "). A file that begins with a
// UTF-16 byte order mark is read as UTF-16, a UTF-8 mark is skipped.
#include "platform/code_page.h"
#include "platform/platform.h"
#include "platform/os.h"
#include "platform/posix/errors.h"
#include "platform/posix/wine_prefix.h"
#include "platform/settings.h"
#include "platform/unicode.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0x1A; }

std::string Trimmed(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::string WithoutQuotes(const std::string& text) {
    if (text.size() >= 2 && (text[0] == '"' || text[0] == '\'') && text.back() == text[0])
        return text.substr(1, text.size() - 2);
    return text;
}

// UTF-16 (either byte order) as UTF-8; an odd last byte is dropped.
std::string FromUtf16(const std::string& bytes, bool bigEndian) {
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto a = static_cast<uint8_t>(bytes[i]), b = static_cast<uint8_t>(bytes[i + 1]);
        units += static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
    }
    return platform::Utf8FromUtf16(units);
}

// Text in the ANSI code page, as this system's names want it: UTF-8. A byte the code page leaves
// undefined becomes the character of the same number, as Windows maps it.
std::string FromCodePage(const std::string& bytes, uint32_t codePage) {
    bool ascii = true;
    for (const char c : bytes) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) return bytes;
    std::string out;
    iconv_t convert = iconv_open("UTF-8", ("CP" + std::to_string(codePage)).c_str());
    if (convert == reinterpret_cast<iconv_t>(-1)) convert = iconv_open("UTF-8", "CP1252");
    size_t at = 0;
    while (at < bytes.size()) {
        char buffer[256];
        char* input = const_cast<char*>(bytes.data() + at);
        size_t inputLeft = bytes.size() - at;
        char* output = buffer;
        size_t outputLeft = sizeof buffer;
        const size_t converted = convert == reinterpret_cast<iconv_t>(-1)
                                     ? static_cast<size_t>(-1)
                                     : iconv(convert, &input, &inputLeft, &output, &outputLeft);
        const int error = errno;
        out.append(buffer, static_cast<size_t>(output - buffer));
        at = bytes.size() - inputLeft;
        if (converted != static_cast<size_t>(-1) || inputLeft == 0) break;
        if (convert != reinterpret_cast<iconv_t>(-1) && error == E2BIG) continue;
        AppendUtf8(out, static_cast<unsigned char>(bytes[at]));
        ++at;
    }
    if (convert != reinterpret_cast<iconv_t>(-1)) iconv_close(convert);
    return out;
}

// The file's text as UTF-8: by its byte-order mark, else in the ANSI code page.
std::string Decoded(const std::string& content) {
    if (content.compare(0, 2, "\xFF\xFE") == 0) return FromUtf16(content.substr(2), false);
    if (content.compare(0, 2, "\xFE\xFF") == 0) return FromUtf16(content.substr(2), true);
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0) return content.substr(3);
    return FromCodePage(content, ActiveCodePage());
}

// Finds the value of `key` in `section`; false when the section, the key or its value is missing.
bool FindValue(const std::string& text, const std::string& section, const std::string& key, std::string* value) {
    bool inSection = false, sectionSeen = false;
    size_t position = 0;
    while (position < text.size()) {
        size_t end = text.find_first_of("\r\n", position);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trimmed(text.substr(position, end - position));
        position = end + 1;
        if (line.empty()) continue;
        const size_t close = line[0] == '[' ? line.rfind(']') : std::string::npos;
        if (close != std::string::npos) {
            if (inSection) return false;  // the first section of the name has ended
            inSection = !sectionSeen && posix::SameTextIgnoringCase(Trimmed(line.substr(1, close - 1)), section);
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        if (!inSection) continue;
        const size_t equals = line.find('=');
        const std::string name = Trimmed(line.substr(0, equals));
        if (!posix::SameTextIgnoringCase(name, key)) continue;
        if (equals == std::string::npos) return false;
        *value = Trimmed(line.substr(equals + 1));
        return true;
    }
    return false;
}

uint32_t CopyOut(const std::string& text, char* out, uint32_t size) {
    if (!out || size == 0) return 0;
    const uint32_t length = static_cast<uint32_t>(text.size() < size - 1 ? text.size() : size - 1);
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
    return length;
}

std::string DefaultOf(const char* defaultText) {
    std::string text = defaultText ? defaultText : "";
    while (!text.empty() && IsBlank(text.back())) text.pop_back();
    return WithoutQuotes(text);
}

}  // namespace

namespace os {

uint32_t ProfileDefault(const char* defaultText, char* out, uint32_t size) {
    return CopyOut(DefaultOf(defaultText), out, size);
}

uint32_t ReadProfileString(const char* section, const char* key, const char* defaultText, char* out, uint32_t size,
                           const char* fileName) {
    std::string content, value;
    if (!fileName || !section || !key) return CopyOut(DefaultOf(defaultText), out, size);
    const bool bare = std::strpbrk(fileName, "\\/") == nullptr;
    const std::string path = bare ? HostPath(("C:\\windows\\" + std::string(fileName)).c_str()) : HostPath(fileName);
    if (!posix::ReadWholeFile(path, &content) || !FindValue(Decoded(content), section, key, &value)) {
        posix::Fail(kErrorFileNotFound);
        return CopyOut(DefaultOf(defaultText), out, size);
    }
    return CopyOut(WithoutQuotes(value), out, size);
}

}  // namespace os
}  // namespace platform
