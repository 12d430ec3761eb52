#include "tools/hdb_dump.h"

#include <vector>

#include "hdb/key_tree_reader.h"
#include "tools/key_text.h"
#include "tools/output_sink.h"
#include "tools/tree_walk.h"

using hdb::DatabaseManager;
using hdb::KeyTreeVisitor;
using hdb::WalkedKey;

namespace tools {

namespace {

// A damaged length word must not make the listing allocate gigabytes.
constexpr uint32_t kLargestValueShown = 64u << 20;

bool Printable(const uint8_t* bytes, uint32_t size) {
    for (uint32_t i = 0; i < size; ++i)
        if (bytes[i] < 0x20 || bytes[i] > 0x7E) return false;
    return true;
}

class TextDumper : public KeyTreeVisitor {
public:
    explicit TextDumper(OutputSink& out) : out_(out) {}

    bool OnKey(const WalkedKey& key) override {
        line_.clear();
        Indent(key.depth);
        if (key.fault == WalkedKey::Unreadable) {
            line_ += "<key " + std::to_string(key.id) + " cannot be read>\n";
            return out_.Write(line_);
        }
        AppendPathName(line_, key.name);
        if (key.fault == WalkedKey::ListedAgain) {
            line_ += " <key " + std::to_string(key.id) + " listed again>\n";
            return out_.Write(line_);
        }
        if (key.fault == WalkedKey::ValueNotShown) {
            line_ += " <value of " + std::to_string(key.valueSize) + " bytes not shown>";
        } else if (key.fault == WalkedKey::ValueUnreadable) {
            line_ += " <value cannot be read>";
        } else if (key.valueSize > 0) {
            line_ += " = ";
            line_ += FormatValue(reinterpret_cast<const uint8_t*>(key.value.data()), key.valueSize);
        }
        if (key.subKeysCut) line_ += " <not all sub-keys can be read>";
        line_ += '\n';
        return out_.Write(line_);
    }

private:
    void Indent(uint32_t depth) {
        const uint32_t level = depth - 1;
        if (level <= kDumpIndentDepth) {
            line_.append(static_cast<size_t>(level) * 2, ' ');
            return;
        }
        line_.append(static_cast<size_t>(kDumpIndentDepth) * 2, ' ');
        line_ += "[depth " + std::to_string(depth) + "] ";
    }

    OutputSink& out_;
    std::string line_;
};

class JsonDumper : public KeyTreeVisitor {
public:
    explicit JsonDumper(OutputSink& out) : out_(out) {}

    bool Begin() { return out_.Write("{\"keys\": ["); }
    bool End() { return out_.Write("\n]}\n"); }

    bool OnKey(const WalkedKey& key) override {
        line_.clear();
        line_ += firstInList_ ? "\n" : ",\n";
        firstInList_ = false;
        if (key.fault == WalkedKey::Unreadable || key.fault == WalkedKey::ListedAgain) {
            line_ += "{\"id\": " + std::to_string(key.id) + ", \"error\": \"";
            line_ += key.fault == WalkedKey::Unreadable ? "cannot be read" : "listed again";
            line_ += "\"}";
            return out_.Write(line_);
        }
        line_ += "{\"id\": " + std::to_string(key.id) + ", \"name\": ";
        AppendJsonString(line_, key.name);
        line_ += ", \"size\": " + std::to_string(key.valueSize);
        if (key.fault == WalkedKey::ValueNotShown) {
            line_ += ", \"error\": \"value not shown\"";
        } else if (key.fault == WalkedKey::ValueUnreadable) {
            line_ += ", \"error\": \"value cannot be read\"";
        } else if (Printable(reinterpret_cast<const uint8_t*>(key.value.data()), key.valueSize)) {
            line_ += ", \"text\": ";
            AppendJsonString(line_, key.value);
        } else {
            line_ += ", \"hex\": \"";
            for (const char c : key.value) AppendHexByte(line_, static_cast<uint8_t>(c));
            line_ += '"';
        }
        if (key.subKeysCut) line_ += ", \"subkeysCut\": true";
        line_ += ", \"subkeys\": [";
        firstInList_ = true;
        return out_.Write(line_);
    }

    bool OnLeave(const WalkedKey&) override {
        firstInList_ = false;
        return out_.Write("]}");
    }

private:
    OutputSink& out_;
    std::string line_;
    bool firstInList_ = true;
};

}  // namespace

std::string FormatValue(const uint8_t* bytes, uint32_t size) {
    std::string text;
    if (size == 0) return text;
    if (Printable(bytes, size)) {
        text += '"';
        for (uint32_t i = 0; i < size; ++i) {
            if (bytes[i] == '"' || bytes[i] == '\\') text += '\\';
            text += static_cast<char>(bytes[i]);
        }
        text += '"';
        return text;
    }
    text += '<';  // text is empty here
    text += std::to_string(size);
    text += size == 1 ? " byte>" : " bytes>";
    for (uint32_t i = 0; i < size; ++i) {
        text += ' ';
        AppendHexByte(text, bytes[i]);
    }
    return text;
}

int32_t DumpKeyTree(DatabaseManager& db, int32_t database, OutputSink& out, WalkCount* count) {
    TextDumper dumper(out);
    return WalkDatabaseTree(db, database, dumper, kLargestValueShown, count);
}

int32_t DumpKeyTree(DatabaseManager& db, int32_t database, std::string& out) {
    StringSink sink;
    const int32_t result = DumpKeyTree(db, database, sink);
    out += sink.text();
    return result;
}

int32_t DumpKeyTreeJson(DatabaseManager& db, int32_t database, OutputSink& out, WalkCount* count) {
    JsonDumper dumper(out);
    if (!dumper.Begin()) return -1;
    const int32_t result = WalkDatabaseTree(db, database, dumper, kLargestValueShown, count);
    return dumper.End() ? result : -1;
}

}  // namespace tools
