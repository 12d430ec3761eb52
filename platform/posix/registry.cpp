// The registry on POSIX: the machine keys that Wine saved in its prefix's system.reg. The file
// holds one section per key, "[Software\\Vendor\\Key] stamp" followed by its values
// ("name"="text", @= for the default value, str(2): for expandable text, hex(n): and dword: for
// the rest), with backslash escapes and UTF-16 code units above 127 written as \x. A 64-bit
// prefix ("#arch=win64") keeps what 32-bit programs see of Software under Software\Wow6432Node;
// keys marked "#link" stand for the key their SymbolicLinkValue names. The file is what Wine
// last saved: a running wineserver writes it when it exits.
#include "platform/os.h"
#include "platform/posix/errors.h"
#include "platform/posix/wine_prefix.h"
#include "platform/settings.h"
#include "platform/unicode.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <new>
#include <string>
#include <vector>

namespace platform {
namespace {

constexpr uint32_t kTypeString = 1;
constexpr uint32_t kTypeExpandString = 2;
constexpr uint32_t kTypeBinary = 3;
constexpr uint32_t kTypeDword = 4;
constexpr uint32_t kTypeLink = 6;
constexpr uint32_t kTypeMultiString = 7;

struct Value {
    uint32_t type = 0;
    std::u16string text;        // for the text forms
    std::vector<uint8_t> bytes;  // for hex: and dword:
};

struct Key {
    std::map<std::string, Value> values;  // by lower-case name; "" is the default value
};

std::string RegistryFile() { return posix::WinePrefix() + "/system.reg"; }

// ---- Text forms -------------------------------------------------------------------------------

std::string Utf8Of(const std::u16string& text) { return platform::Utf8FromUtf16(text); }
std::u16string Utf16Of(const std::string& text) { return platform::Utf16FromUtf8(text); }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads an escaped text from `p` up to the unescaped `end` character; `p` is left after it.
// False when the text is not closed.
bool ParseEscaped(const char*& p, const char* limit, char end, std::u16string* out) {
    out->clear();
    while (p < limit && *p != end) {
        if (*p != '\\' || p + 1 >= limit) {
            out->push_back(static_cast<uint8_t>(*p++));
            continue;
        }
        ++p;
        const char c = *p++;
        switch (c) {
            case 'a': out->push_back(7); break;
            case 'b': out->push_back(8); break;
            case 'e': out->push_back(27); break;
            case 'f': out->push_back(12); break;
            case 'n': out->push_back(10); break;
            case 'r': out->push_back(13); break;
            case 't': out->push_back(9); break;
            case 'v': out->push_back(11); break;
            case 'x': {
                unsigned value = 0;
                int digits = 0;
                for (; digits < 4 && p < limit && HexValue(*p) >= 0; ++digits)
                    value = value * 16 + static_cast<unsigned>(HexValue(*p++));
                out->push_back(static_cast<char16_t>(value));
                break;
            }
            default:
                if (c >= '0' && c <= '7') {
                    unsigned value = static_cast<unsigned>(c - '0');
                    for (int digits = 1; digits < 3 && p < limit && *p >= '0' && *p <= '7'; ++digits)
                        value = value * 8 + static_cast<unsigned>(*p++ - '0');
                    out->push_back(static_cast<char16_t>(value));
                } else {
                    out->push_back(static_cast<uint8_t>(c));
                }
        }
    }
    if (p >= limit) return false;
    ++p;  // the end character
    return true;
}

std::string Escaped(const std::u16string& text, char quote) {
    std::string out;
    for (char16_t c : text) {
        if (c > 127) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%04x", static_cast<unsigned>(c));
            out += hex;
        } else if (c < 32) {
            char octal[8];
            std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned>(c));
            out += octal;
        } else {
            if (c == '\\' || c == static_cast<char16_t>(quote)) out += '\\';
            out += static_cast<char>(c);
        }
    }
    return out;
}

// ---- The file -----------------------------------------------------------------------------------

struct Section {
    size_t begin;  // the first line after the header
    size_t end;    // where the next section begins (or the end of the file)
    bool link = false;
};

struct RegistryText {
    std::string text;
    bool win64 = false;
    std::map<std::string, Section> sections;  // by lower-case path
};

// Splits the file into sections; each line that begins with '[' starts one.
bool Load(RegistryText* file) {
    if (!posix::ReadWholeFile(RegistryFile(), &file->text)) return false;
    const std::string& text = file->text;
    file->win64 = text.find("\n#arch=win64") != std::string::npos;
    std::string current;
    size_t position = 0;
    while (position < text.size()) {
        size_t lineEnd = text.find('\n', position);
        if (lineEnd == std::string::npos) lineEnd = text.size();
        if (text[position] == '[') {
            if (!current.empty()) file->sections[current].end = position;
            const char* p = text.data() + position + 1;
            std::u16string name;
            if (ParseEscaped(p, text.data() + lineEnd, ']', &name)) {
                current = posix::LowerCase(Utf8Of(name));
                Section& section = file->sections[current];
                section.begin = lineEnd + 1;
                section.end = text.size();
            } else {
                current.clear();
            }
        } else if (!current.empty() && text.compare(position, 5, "#link") == 0) {
            file->sections[current].link = true;
        }
        position = lineEnd + 1;
    }
    return true;
}

bool ParseHexBytes(const char*& p, const char* limit, std::vector<uint8_t>* bytes) {
    while (p < limit) {
        while (p < limit && (*p == ',' || *p == ' ' || *p == '\t' || *p == '\r')) ++p;
        if (p < limit && *p == '\\') {  // continued on the next line
            while (p < limit && *p != '\n') ++p;
            if (p < limit) ++p;
            continue;
        }
        if (p + 1 < limit && HexValue(p[0]) >= 0 && HexValue(p[1]) >= 0) {
            bytes->push_back(static_cast<uint8_t>(HexValue(p[0]) * 16 + HexValue(p[1])));
            p += 2;
            continue;
        }
        break;
    }
    return true;
}

// Reads the value lines of a section.
Key ParseValues(const RegistryText& file, const Section& section) {
    Key key;
    const char* p = file.text.data() + section.begin;
    const char* limit = file.text.data() + section.end;
    while (p < limit) {
        const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(limit - p)));
        if (!lineEnd) lineEnd = limit;
        std::u16string name;
        const char* q = p;
        bool named = false;
        if (*q == '@' && q + 1 < lineEnd && q[1] == '=') {
            q += 2;
            named = true;
        } else if (*q == '"') {
            ++q;
            named = ParseEscaped(q, lineEnd, '"', &name) && q < lineEnd && *q == '=';
            if (named) ++q;
        }
        if (named) {
            Value value;
            uint32_t type = kTypeString;
            if (std::strncmp(q, "str(", 4) == 0) {
                type = static_cast<uint32_t>(std::strtoul(q + 4, nullptr, 16));
                q = static_cast<const char*>(std::memchr(q, ':', static_cast<size_t>(lineEnd - q)));
                q = q ? q + 1 : lineEnd;
            }
            if (q < lineEnd && *q == '"') {
                ++q;
                if (ParseEscaped(q, lineEnd, '"', &value.text)) value.type = type;
            } else if (std::strncmp(q, "hex", 3) == 0) {
                value.type = kTypeBinary;
                if (q[3] == '(') value.type = static_cast<uint32_t>(std::strtoul(q + 4, nullptr, 16));
                q = static_cast<const char*>(std::memchr(q, ':', static_cast<size_t>(lineEnd - q)));
                q = q ? q + 1 : lineEnd;
                ParseHexBytes(q, limit, &value.bytes);
                lineEnd = q;
                while (lineEnd < limit && *lineEnd != '\n') ++lineEnd;
                const bool utf16 = value.type == kTypeString || value.type == kTypeExpandString ||
                                   value.type == kTypeLink || value.type == kTypeMultiString;
                if (utf16 && value.bytes.size() % 2 == 0) {
                    for (size_t i = 0; i < value.bytes.size(); i += 2)
                        value.text += static_cast<char16_t>(value.bytes[i] | (value.bytes[i + 1] << 8));
                    if (!value.text.empty() && value.text.back() == 0) value.text.pop_back();
                }
            } else if (std::strncmp(q, "dword:", 6) == 0) {
                value.type = kTypeDword;
                const uint32_t number = static_cast<uint32_t>(std::strtoul(q + 6, nullptr, 16));
                for (int i = 0; i < 4; ++i) value.bytes.push_back(static_cast<uint8_t>(number >> (8 * i)));
            }
            if (value.type != 0) key.values.emplace(posix::LowerCase(Utf8Of(name)), std::move(value));
        }
        p = lineEnd + 1;
    }
    return key;
}

std::vector<std::string> Elements(const std::string& path) {
    std::vector<std::string> elements;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) elements.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return elements;
}

std::string Joined(const std::vector<std::string>& elements, size_t count) {
    std::string path;
    for (size_t i = 0; i < count; ++i) path += (i ? "\\" : "") + elements[i];
    return path;
}

// The section path of `subKey` as a 32-bit program sees it, links followed; empty when a link
// leads out of the machine keys or round in circles.
std::string ViewPath(const RegistryText& file, const char* subKey) {
    std::vector<std::string> elements = Elements(subKey);
    if (file.win64 && !elements.empty() && posix::SameTextIgnoringCase(elements[0], "Software") &&
        !(elements.size() > 1 && posix::SameTextIgnoringCase(elements[1], "Wow6432Node")))
        elements.insert(elements.begin() + 1, "Wow6432Node");
    for (int hops = 0; hops < 16; ++hops) {
        bool followed = false;
        for (size_t count = 1; count <= elements.size() && !followed; ++count) {
            const auto found = file.sections.find(posix::LowerCase(Joined(elements, count)));
            if (found == file.sections.end() || !found->second.link) continue;
            const Key link = ParseValues(file, found->second);
            const auto target = link.values.find("symboliclinkvalue");
            if (target == link.values.end()) return std::string();
            std::string to = Utf8Of(target->second.text);
            constexpr char kMachine[] = "\\registry\\machine\\";
            if (posix::LowerCase(to.substr(0, sizeof kMachine - 1)) != kMachine) return std::string();
            std::vector<std::string> rest(elements.begin() + static_cast<std::ptrdiff_t>(count), elements.end());
            elements = Elements(to.substr(sizeof kMachine - 1));
            elements.insert(elements.end(), rest.begin(), rest.end());
            followed = true;
        }
        if (!followed) return posix::LowerCase(Joined(elements, elements.size()));
    }
    return std::string();
}

// Whether the key exists: Wine saves no section for a key that has only sub-keys.
bool KeyExists(const RegistryText& file, const std::string& path) {
    if (file.sections.count(path)) return true;
    const auto below = file.sections.lower_bound(path + "\\");
    return below != file.sections.end() && below->first.compare(0, path.size() + 1, path + "\\") == 0;
}

Key* KeyOf(RegistryKey key) { return reinterpret_cast<Key*>(key); }

}  // namespace

namespace os {

RegistryKey OpenMachineKey(const char* subKey) {
    RegistryText file;
    if (!subKey || !Load(&file)) {
        posix::Fail(kErrorFileNotFound);
        return 0;
    }
    const std::string path = ViewPath(file, subKey);
    if (path.empty() || !KeyExists(file, path)) {
        posix::Fail(kErrorFileNotFound);
        return 0;
    }
    const auto section = file.sections.find(path);
    auto* key = new (std::nothrow) Key(section == file.sections.end() ? Key() : ParseValues(file, section->second));
    if (!key) posix::Fail(kErrorNotEnoughMemory);
    return reinterpret_cast<RegistryKey>(key);
}

bool QueryKeyText(RegistryKey key, const char* name, char* buffer, uint32_t size) {
    if (!key) return posix::Fail(kErrorInvalidParameter);
    const auto found = KeyOf(key)->values.find(posix::LowerCase(name ? name : ""));
    if (found == KeyOf(key)->values.end()) return posix::Fail(kErrorFileNotFound);
    const Value& value = found->second;
    if (value.type != kTypeString && value.type != kTypeExpandString) return posix::Fail(kErrorInvalidData);
    const std::string text = Utf8Of(value.text);
    if (text.size() + 1 > size) return posix::Fail(kErrorMoreData);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace os

void CloseKey(RegistryKey key) { delete KeyOf(key); }

namespace {

constexpr char kNewRegistry[] = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n";

bool Save(const std::string& text) {
    const std::string name = RegistryFile();
    const std::string temporary = name + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!(out << text)) return posix::Fail(kErrorAccessDenied);
    }
    if (std::rename(temporary.c_str(), name.c_str()) != 0) return posix::FailWithErrno();
    return true;
}

std::string ValueLine(const char* name, const char* text) {
    const std::string quotedName = name && *name ? "\"" + Escaped(Utf16Of(name), '"') + "\"" : "@";
    return quotedName + "=\"" + Escaped(Utf16Of(text), '"') + "\"\n";
}

}  // namespace

bool os::WriteMachineKeyText(const char* subKey, const char* name, const char* text) {
    RegistryText file;
    if (!Load(&file)) {
        file.text = kNewRegistry;
        file.win64 = true;
    }
    const std::string path = ViewPath(file, subKey);
    if (path.empty()) return posix::Fail(kErrorAccessDenied);
    const std::string line = ValueLine(name, text);
    const auto found = file.sections.find(path);
    if (found == file.sections.end()) {
        std::vector<std::string> elements = Elements(subKey);
        if (file.win64 && !elements.empty() && posix::SameTextIgnoringCase(elements[0], "Software"))
            elements.insert(elements.begin() + 1, "Wow6432Node");
        std::u16string header = Utf16Of(Joined(elements, elements.size()));
        if (!file.text.empty() && file.text.back() != '\n') file.text += '\n';
        file.text += "\n[" + Escaped(header, ']') + "] 0\n" + line;
        return Save(file.text);
    }
    // Replace the value's line, or add one after the section's header lines.
    const Section& section = found->second;
    const std::string wanted = posix::LowerCase(name ? name : "");
    size_t position = section.begin;
    size_t insertAt = section.begin;
    while (position < section.end) {
        size_t lineEnd = file.text.find('\n', position);
        if (lineEnd == std::string::npos || lineEnd > section.end) lineEnd = section.end;
        const char* p = file.text.data() + position;
        const char* limit = file.text.data() + lineEnd;
        std::u16string existing;
        bool named = false;
        if (p < limit && *p == '#') insertAt = lineEnd + 1;
        if (p < limit && *p == '@') named = true;
        if (p < limit && *p == '"') {
            ++p;
            named = ParseEscaped(p, limit, '"', &existing);
        }
        if (named && posix::LowerCase(Utf8Of(existing)) == wanted) {
            file.text.replace(position, lineEnd + 1 - position, line);
            return Save(file.text);
        }
        position = lineEnd + 1;
    }
    file.text.insert(insertAt, line);
    return Save(file.text);
}

bool os::DeleteMachineKey(const char* subKey) {
    RegistryText file;
    if (!Load(&file)) return posix::Fail(kErrorFileNotFound);
    const std::string path = ViewPath(file, subKey);
    const auto found = file.sections.find(path);
    if (path.empty() || found == file.sections.end()) return posix::Fail(kErrorFileNotFound);
    const auto below = file.sections.lower_bound(path + "\\");
    if (below != file.sections.end() && below->first.compare(0, path.size() + 1, path + "\\") == 0)
        return posix::Fail(kErrorAccessDenied);
    // The section starts at its header line, which ends just before `begin`.
    const size_t header = file.text.rfind('\n', found->second.begin >= 2 ? found->second.begin - 2 : 0);
    const size_t start = header == std::string::npos ? 0 : header + 1;
    file.text.erase(start, found->second.end - start);
    return Save(file.text);
}

}  // namespace platform
