#include "tools/hdb_dump.h"

#include <set>
#include <vector>

#include "hdb/database_manager.h"

namespace {

constexpr uint32_t kRootKey = 1;
constexpr uint32_t kNameBuffer = 65536;  // longer than any name the key header can describe
// A damaged length word must not make the listing allocate gigabytes.
constexpr uint32_t kLargestValueShown = 64u << 20;

class TreeDumper {
public:
    TreeDumper(DatabaseManager& db, int32_t database, std::string& out)
        : db_(db), database_(database), out_(out), name_(kNameBuffer) {}

    int32_t Dump() {
        DumpKey(kRootKey, 0);
        return result_;
    }

private:
    void DumpKey(uint32_t key, int depth) {
        out_.append(static_cast<size_t>(depth) * 2, ' ');
        if (db_.HdbGetKeyName(database_, key, name_.data(), kNameBuffer) < 0) {
            out_ += "<key " + std::to_string(key) + " cannot be read>\n";
            result_ = -1;
            return;
        }
        out_ += name_.data();
        // A damaged file could list a key inside its own subtree; show it, but only once.
        if (!visited_.insert(key).second) {
            out_ += " <key " + std::to_string(key) + " listed again>\n";
            result_ = -1;
            return;
        }
        AppendValue(key);
        out_ += '\n';
        for (uint32_t child : SubKeys(key)) DumpKey(child, depth + 1);
    }

    void AppendValue(uint32_t key) {
        const uint32_t size = db_.HdbGetValueSize(database_, key);
        if (size == 0) return;
        if (size > kLargestValueShown) {
            out_ += " <value of " + std::to_string(size) + " bytes not shown>";
            return;
        }
        std::vector<uint8_t> value(size);
        db_.HdbSeekValue(database_, key, 0);
        const int32_t read = db_.HdbReadValue(database_, key, value.data(), size);
        db_.HdbCloseKey(database_, key);
        if (read < 0) {
            out_ += " <value cannot be read>";
            result_ = -1;
            return;
        }
        out_ += " = " + FormatValue(value.data(), static_cast<uint32_t>(read));
    }

    // All sub-keys first, so that walking into one does not disturb the walk of its parent.
    std::vector<uint32_t> SubKeys(uint32_t key) {
        std::vector<uint32_t> keys;
        for (int64_t sub = db_.HdbFirstSubKey(database_, key); sub >= 0;
             sub = db_.HdbNextSubKey(database_, key, static_cast<uint32_t>(sub)))
            keys.push_back(static_cast<uint32_t>(sub));
        return keys;
    }

    DatabaseManager& db_;
    int32_t database_;
    std::string& out_;
    std::vector<char> name_;
    std::set<uint32_t> visited_;
    int32_t result_ = 0;
};

bool Printable(const uint8_t* bytes, uint32_t size) {
    for (uint32_t i = 0; i < size; ++i)
        if (bytes[i] < 0x20 || bytes[i] > 0x7E) return false;
    return true;
}

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
    static constexpr char kHex[] = "0123456789abcdef";
    text += '<';  // text is empty here
    text += std::to_string(size);
    text += size == 1 ? " byte>" : " bytes>";
    for (uint32_t i = 0; i < size; ++i) {
        text += ' ';
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0xF];
    }
    return text;
}

int32_t DumpKeyTree(DatabaseManager& db, int32_t database, std::string& out) {
    if (db.GetKeyCount(database) <= 0) return 0;
    return TreeDumper(db, database, out).Dump();
}
