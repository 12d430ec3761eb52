#include "tools/text_form.h"

#include <limits>
#include <unordered_map>

#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "hdb/key_tree_reader.h"
#include "tools/key_text.h"
#include "tools/output_sink.h"
#include "tools/raw_database.h"
#include "tools/structure_scan.h"
#include "tools/tree_walk.h"

using support::Result;
using fileservice::FileService;
using namespace hdb;

namespace tools {

namespace {

constexpr char kAppValueWord[] = "app-value ";
constexpr char kAttributesWord[] = " attributes ";
constexpr char kValueMark[] = " = ";

class Exporter : public KeyTreeVisitor {
public:
    Exporter(OutputSink& out, std::vector<std::string>& errors) : out_(out), errors_(errors) {}

    bool OnKey(const WalkedKey& key) override {
        // The path of the key's parent is what the stack holds up to its depth.
        const size_t parentEnd = key.depth >= 2 && key.depth - 2 < ends_.size() ? ends_[key.depth - 2] : 0;
        path_.resize(key.depth == 1 ? 0 : parentEnd);
        ends_.resize(key.depth - 1);
        if (key.fault == WalkedKey::Unreadable) {
            errors_.push_back(Under() + "key " + std::to_string(key.id) + " cannot be read; it is left out with everything below it");
            return true;
        }
        if (key.fault == WalkedKey::ListedAgain) {
            errors_.push_back(Under() + "key " + std::to_string(key.id) + " is listed a second time; it is written once");
            return true;
        }
        if (key.depth > 1) path_ += kKeyPathSeparator;
        // A name holds no zero byte (keys are made from zero-ended names); a damaged one that
        // does is written as the engine's lookups see it, up to the zero.
        const size_t zero = key.name.find('\0');
        AppendPathName(path_, std::string_view(key.name).substr(0, zero));
        ends_.push_back(path_.size());
        if (zero != std::string::npos) errors_.push_back("[" + path_ + "]: its name holds a zero byte; it is written cut there");

        line_ = "[";
        line_ += path_;
        line_ += ']';
        if (key.attr1 != 0 || key.attr2 != 0)
            line_ += kAttributesWord + std::to_string(key.attr1) + " " + std::to_string(key.attr2);
        if (key.fault == WalkedKey::ValueUnreadable || key.fault == WalkedKey::ValueNotShown) {
            errors_.push_back("[" + path_ + "]: its value of " + std::to_string(key.valueSize) +
                              " bytes cannot be read; the key is written without it");
        } else if (!key.value.empty()) {
            line_ += kValueMark;
            AppendValueText(line_, key.value);
        }
        if (key.subKeysCut) errors_.push_back("[" + path_ + "]: not all of its sub-keys can be read");
        line_ += '\n';
        return out_.Write(line_);
    }

private:
    std::string Under() const { return path_.empty() ? std::string() : "[" + path_ + "]: "; }

    OutputSink& out_;
    std::vector<std::string>& errors_;
    std::string path_;
    std::vector<size_t> ends_;  // where each level's name ends in path_
    std::string line_;
};

bool ParseNumber(std::string_view text, int64_t low, int64_t high, int64_t& value) {
    if (text.empty() || text.size() > 12) return false;
    size_t i = 0;
    const bool negative = text[0] == '-';
    if (negative) ++i;
    if (i == text.size()) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    value = negative ? -v : v;
    return value >= low && value <= high;
}

// The names of a path joined by zero bytes, which no name holds: the key of the path table.
std::string PathKey(const std::vector<std::string>& names, size_t count) {
    std::string key;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) key += '\0';
        key += names[i];
    }
    return key;
}

std::string SourcePath(const KeySource& source, size_t index) {
    std::vector<size_t> chain;
    for (int64_t at = static_cast<int64_t>(index); at >= 0; at = source.parent(static_cast<size_t>(at)))
        chain.push_back(static_cast<size_t>(at));
    std::string path = "[";
    for (size_t i = chain.size(); i-- > 0;) {
        AppendPathName(path, source.name(chain[i]));
        if (i > 0) path += kKeyPathSeparator;
    }
    return path + "]";
}

int64_t CreateNamedKey(DatabaseManager& db, int32_t database, uint32_t parent, const std::string& name) {
    if (name.size() <= kMaxNameAtCreate) return db.HdbCreateKey(database, parent, name.c_str());
    const int64_t key = db.HdbCreateKey(database, parent, "");
    if (key < 0) return -1;
    return db.HdbRenameKey(database, static_cast<uint32_t>(key), name.c_str()) == 0 ? key : -1;
}

// Writes every key of `source` into the open, empty database; `ids` gets the key id of each.
// "" or what failed.
Result WriteKeys(DatabaseManager& db, int32_t database, KeySource& source, std::vector<uint32_t>& ids) {
    ids.assign(source.count(), 0);
    std::string value;
    // The parent stays open while its sub-keys are added, so that each addition finds its list
    // where the last one left it.
    int64_t openParent = -1;
    auto closeParent = [&] {
        if (openParent >= 0) db.HdbCloseKey(database, static_cast<uint32_t>(openParent));
        openParent = -1;
    };
    for (size_t i = 0; i < source.count(); ++i) {
        const int64_t parentIndex = source.parent(i);
        const uint32_t parent = parentIndex < 0 ? kRootKey : ids[static_cast<size_t>(parentIndex)];
        if (parentIndex >= 0 && openParent != parent) {
            closeParent();
            if (db.HdbOpenKey(database, parent) == 0) openParent = parent;
        }
        const int64_t key = CreateNamedKey(db, database, parent, source.name(i));
        if (key < 0) {
            closeParent();
            return Result::Failed("cannot create the key " + SourcePath(source, i));
        }
        const auto id = static_cast<uint32_t>(key);
        ids[i] = id;
        bool written = (source.attr1(i) == 0 || db.HdbSetKeyAttr1(database, id, source.attr1(i)) == 0) &&
                       (source.attr2(i) == 0 || db.HdbSetKeyAttr2(database, id, source.attr2(i)) == 0);
        if (written && !source.value(i, value)) {
            db.HdbCloseKey(database, id);
            closeParent();
            return Result::Failed("cannot read the value of " + SourcePath(source, i));
        }
        if (written && !value.empty())
            written = value.size() <= std::numeric_limits<int32_t>::max() &&
                      db.HdbWriteValue(database, id, value.data(), static_cast<uint32_t>(value.size())) ==
                          static_cast<int32_t>(value.size());
        db.HdbCloseKey(database, id);
        if (!written) {
            closeParent();
            return Result::Failed("cannot write the key " + SourcePath(source, i));
        }
    }
    closeParent();
    return Result::Done();
}

// Reads the new file back and compares every key with its source: the engine reports no
// failure of its own when it writes a key back or closes the file, so a lost write shows only
// here.
Result CheckWritten(FileService& files, const char* path, KeySource& source, const std::vector<uint32_t>& ids) {
    RawDatabase raw(files);
    if (raw.Open(path) != 0) return Result::Failed("the new database cannot be read back: " + raw.error());
    const ScanResult scan = ScanStructure(raw, false);
    const std::string notWhole = "the new database was not written whole";
    if (scan.readFailed || !scan.problems.empty() || scan.keys.size() != source.count() ||
        scan.header.appValue != source.appValue())
        return Result::Failed(notWhole);
    std::unordered_map<uint32_t, size_t> written;
    for (size_t i = 0; i < scan.keys.size(); ++i) written[scan.keys[i].id] = i;
    std::string want, got;
    for (size_t i = 0; i < source.count(); ++i) {
        const auto at = written.find(ids[i]);
        if (at == written.end()) return Result::Failed(notWhole);
        const ScannedKey& key = scan.keys[at->second];
        const int64_t parent = source.parent(i);
        const bool placed = parent < 0 ? key.parent < 0
                                       : key.parent >= 0 && scan.keys[static_cast<size_t>(key.parent)].id ==
                                                                ids[static_cast<size_t>(parent)];
        if (!placed || key.lost || key.name != source.name(i) || key.attr1 != source.attr1(i) ||
            key.attr2 != source.attr2(i) || !source.value(i, want) || !ReadKeyValue(raw, key, got) || got != want)
            return Result::Failed(notWhole + ": " + SourcePath(source, i) + " differs");
    }
    return Result::Done();
}

}  // namespace

Result TextForm::Parse(std::string_view text) {
    appValue_ = 0;
    keys_.clear();
    std::unordered_map<std::string, int64_t> lastWithPath;
    bool sawFirstLine = false;
    size_t lineNumber = 0;
    std::vector<std::string> names;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        // A CR before the line feed (a file from Windows) and trailing blanks are no content:
        // every value is quoted or in hex.
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
        const std::string at = "line " + std::to_string(lineNumber) + ": ";
        if (line.empty() || line.front() == '#') continue;
        if (!sawFirstLine) {
            if (line != kTextFormFirstLine) {
                return Result::Failed(at + "not a database text: the first line must be \"" + kTextFormFirstLine + "\"");
            }
            sawFirstLine = true;
            continue;
        }
        if (line.substr(0, sizeof kAppValueWord - 1) == kAppValueWord) {
            int64_t value = 0;
            if (!keys_.empty() || !ParseNumber(line.substr(sizeof kAppValueWord - 1), INT32_MIN, INT32_MAX, value)) {
                return Result::Failed(at + "app-value must come before the keys and be a 32-bit number");
            }
            appValue_ = static_cast<int32_t>(value);
            continue;
        }
        if (line.front() != '[') {
            return Result::Failed(at + "a key line must begin with [");
        }
        const size_t close = line.find(']');
        if (close == std::string_view::npos) {
            return Result::Failed(at + "the key path has no closing ]");
        }
        if (const Result path = ParseKeyPath(line.substr(1, close - 1), names); !path)
            return Result::Failed(at + path.message());
        for (const std::string& name : names) {
            if (name.find('\0') != std::string::npos) {
                return Result::Failed(at + "a key name cannot hold a zero byte (%00)");
            }
        }
        TextKey key;
        std::string_view rest = line.substr(close + 1);
        if (rest.substr(0, sizeof kAttributesWord - 1) == kAttributesWord) {
            rest.remove_prefix(sizeof kAttributesWord - 1);
            const size_t mark = rest.find(kValueMark);
            const std::string_view words = rest.substr(0, mark);
            rest = mark == std::string_view::npos ? std::string_view() : rest.substr(mark);
            const size_t space = words.find(' ');
            int64_t a = 0, b = 0;
            if (space == std::string_view::npos || !ParseNumber(words.substr(0, space), 0, 0xFFFF, a) ||
                !ParseNumber(words.substr(space + 1), 0, 0xFFFF, b)) {
                return Result::Failed(at + "attributes must be two numbers from 0 to 65535");
            }
            key.attr1 = static_cast<uint16_t>(a);
            key.attr2 = static_cast<uint16_t>(b);
        }
        if (!rest.empty()) {
            if (rest.substr(0, sizeof kValueMark - 1) != kValueMark) {
                return Result::Failed(at + "after the key path comes \" = \" and the value, or nothing");
            }
            if (const Result value = ParseValueText(rest.substr(sizeof kValueMark - 1), key.value); !value)
                return Result::Failed(at + value.message());
        }
        if (names.size() == 1) {
            if (!keys_.empty()) {
                return Result::Failed(at + "a database has one root key, and it comes first");
            }
            key.parent = -1;
        } else {
            const auto parent = lastWithPath.find(PathKey(names, names.size() - 1));
            if (parent == lastWithPath.end()) {
                return Result::Failed(at + (keys_.empty() ? std::string("the first key must be the root, a path of one name")
                                                          : "the key's parent is not on an earlier line"));
            }
            key.parent = parent->second;
        }
        lastWithPath[PathKey(names, names.size())] = static_cast<int64_t>(keys_.size());
        key.name = std::move(names.back());
        keys_.push_back(std::move(key));
    }
    if (!sawFirstLine) {
        return Result::Failed("not a database text: it is empty");
    }
    return Result::Done();
}

int32_t ExportTextForm(DatabaseManager& db, int32_t database, OutputSink& out, std::vector<std::string>& errors,
                       WalkCount* count) {
    const std::string head = std::string(kTextFormFirstLine) + "\napp-value " + std::to_string(db.GetAppValue(database)) + "\n";
    if (!out.Write(head)) return -1;
    Exporter exporter(out, errors);
    const int32_t result = WalkDatabaseTree(db, database, exporter, std::numeric_limits<uint64_t>::max(), count);
    return result == 0 && errors.empty() ? 0 : -1;
}

Result WriteNewDatabase(DatabaseManager& db, FileService& files, const char* path, KeySource& source) {
    const int32_t database = db.OpenDatabase(path, ModeCreate);
    if (database < 0) return Result::Failed("cannot be created");
    db.SetAppValue(database, source.appValue());
    std::vector<uint32_t> ids;
    Result written = WriteKeys(db, database, source, ids);
    db.CloseDatabase(database);
    if (written) written = CheckWritten(files, path, source, ids);
    if (!written) files.FileDelete(path);
    return written;
}

}  // namespace tools
