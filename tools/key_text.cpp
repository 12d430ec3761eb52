#include "tools/key_text.h"

#include "platform/unicode.h"

using support::Result;

namespace tools {

namespace {

constexpr char kHex[] = "0123456789abcdef";

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The byte of two hex digits at text[at], or -1.
int HexPair(std::string_view text, size_t at) {
    if (at + 1 >= text.size()) return -1;
    const int high = HexDigit(text[at]);
    const int low = HexDigit(text[at + 1]);
    return high < 0 || low < 0 ? -1 : high << 4 | low;
}

bool Printable(uint8_t b) { return b >= 0x20 && b <= 0x7E; }

bool IsTextValue(std::string_view bytes) {
    for (const char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        if (!Printable(b) && b != '\t' && b != '\r' && b != '\n') return false;
    }
    return true;
}

Result ParseQuoted(std::string_view text, std::string& bytes) {
    if (text.size() < 2 || text.back() != '"') {
        return Result::Failed("a quoted value must end with a quotation mark");
    }
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            return Result::Failed("a quotation mark inside a value must be written \\\"");
        }
        if (c != '\\') {
            bytes += c;
            continue;
        }
        if (i + 2 >= text.size()) {
            return Result::Failed("a value ends in a lone backslash");
        }
        const char e = text[++i];
        switch (e) {
            case '\\': bytes += '\\'; break;
            case '"': bytes += '"'; break;
            case 't': bytes += '\t'; break;
            case 'r': bytes += '\r'; break;
            case 'n': bytes += '\n'; break;
            case 'x': {
                const int b = HexPair(text.substr(0, text.size() - 1), i + 1);
                if (b < 0) {
                    return Result::Failed("\\x must be followed by two hex digits");
                }
                bytes += static_cast<char>(b);
                i += 2;
                break;
            }
            default:
                return Result::Failed(std::string("unknown escape \\") + e + " in a value");
        }
    }
    return Result::Done();
}

Result ParseHex(std::string_view text, std::string& bytes) {
    for (size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        const int b = HexPair(text, i);
        if (b < 0) {
            return Result::Failed("hex: must be followed by pairs of hex digits");
        }
        bytes += static_cast<char>(b);
        i += 2;
    }
    return Result::Done();
}

}  // namespace

void AppendHexByte(std::string& out, uint8_t byte) {
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
}

void AppendPathName(std::string& out, std::string_view name) {
    for (const char c : name) {
        const auto b = static_cast<uint8_t>(c);
        if (Printable(b) && c != '%' && c != kKeyPathSeparator && c != ']') {
            out += c;
        } else {
            out += '%';
            AppendHexByte(out, b);
        }
    }
}

Result ParseKeyPath(std::string_view text, std::vector<std::string>& names) {
    names.assign(1, std::string());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == kKeyPathSeparator) {
            names.emplace_back();
        } else if (c == '%') {
            const int b = HexPair(text, i + 1);
            if (b < 0) {
                return Result::Failed("% in a key path must be followed by two hex digits");
            }
            names.back() += static_cast<char>(b);
            i += 2;
        } else {
            names.back() += c;
        }
    }
    return Result::Done();
}

void AppendValueText(std::string& out, std::string_view bytes) {
    if (IsTextValue(bytes)) {
        out += '"';
        for (const char c : bytes) {
            switch (c) {
                case '"': out += "\\\""; break;
                case '\\': out += "\\\\"; break;
                case '\t': out += "\\t"; break;
                case '\r': out += "\\r"; break;
                case '\n': out += "\\n"; break;
                default: out += c;
            }
        }
        out += '"';
        return;
    }
    out += "hex:";
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) out += ' ';
        AppendHexByte(out, static_cast<uint8_t>(bytes[i]));
    }
}

Result ParseValueText(std::string_view text, std::string& bytes) {
    bytes.clear();
    if (!text.empty() && text.front() == '"') return ParseQuoted(text, bytes);
    if (text.substr(0, 4) == "hex:") return ParseHex(text.substr(4), bytes);
    return Result::Failed("a value must be \"text\" or hex:HH HH ...");
}

void AppendJsonString(std::string& out, std::string_view bytes) {
    out += '"';
    for (const char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20 || b == 0x7F) {
            out += "\\u00";
            AppendHexByte(out, b);
        } else if (b < 0x80) {
            out += c;
        } else {
            platform::AppendUtf8(out, b);  // U+0080..U+00FF
        }
    }
    out += '"';
}

}  // namespace tools
