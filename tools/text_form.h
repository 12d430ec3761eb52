// The text form of a whole database, for people to read, edit and diff, and for import to turn
// back into a database:
//
//   hdbtool export 1
//   app-value 1
//   [User Configuration Root]
//   [User Configuration Root\Config]
//   [User Configuration Root\Config\Next Admin ID] = "00000002"
//   [User Configuration Root\Server Admin List\00000001\Password] = hex:12 a2 6c f5
//   [Root\Tagged] attributes 1 65535
//
// One key a line, in tree order (a key, then its sub-keys in list order, each with everything
// below it), as its path in brackets (key_text.h); then its two attribute words when either is
// not 0; then " = " and its value unless the value is empty. Every line makes a key, so sibling
// keys of equal name are kept; a path names the last key so far that has that path. Blank lines
// and lines that begin with '#' are ignored. Export writes exactly one spelling of any
// database, so import followed by export gives back the text export wrote.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/result.h"

namespace hdb {
class DatabaseManager;
}  // namespace hdb
namespace fileservice {
class FileService;
}  // namespace fileservice

namespace tools {

struct WalkCount;

class OutputSink;

constexpr char kTextFormFirstLine[] = "hdbtool export 1";

// The keys to write into a new database, in tree order: every key's parent comes before it.
class KeySource {
public:
    virtual ~KeySource() = default;
    virtual int32_t appValue() const = 0;
    virtual size_t count() const = 0;
    virtual int64_t parent(size_t index) const = 0;  // -1 for the root (the first key)
    virtual const std::string& name(size_t index) const = 0;
    virtual uint16_t attr1(size_t index) const = 0;
    virtual uint16_t attr2(size_t index) const = 0;
    // The key's value; false when it cannot be had (the writing stops).
    virtual bool value(size_t index, std::string& bytes) = 0;
};

struct TextKey {
    int64_t parent;
    std::string name;
    uint16_t attr1 = 0;
    uint16_t attr2 = 0;
    std::string value;
};

// A parsed text form.
class TextForm : public KeySource {
public:
    int32_t appValue() const override { return appValue_; }
    size_t count() const override { return keys_.size(); }
    int64_t parent(size_t index) const override { return keys_[index].parent; }
    const std::string& name(size_t index) const override { return keys_[index].name; }
    uint16_t attr1(size_t index) const override { return keys_[index].attr1; }
    uint16_t attr2(size_t index) const override { return keys_[index].attr2; }
    bool value(size_t index, std::string& bytes) override {
        bytes = keys_[index].value;
        return true;
    }

    // Reads the whole text. Failed, naming the line, when it is not a text form.
    support::Result Parse(std::string_view text);

private:
    int32_t appValue_ = 0;
    std::vector<TextKey> keys_;
};

// Writes the text form of the open database, its tree walked from the root key whatever the
// header's keyCount says. 0, or -1 when a key cannot be read (the rest is written and `errors`
// gets one line per fault) or the output failed. `count`, when given, gets what was written.
int32_t ExportTextForm(hdb::DatabaseManager& db, int32_t database, OutputSink& out, std::vector<std::string>& errors,
                       WalkCount* count = nullptr);

// Creates a new database at `path` (replacing a file there) holding the keys of `source`, and
// reads it back to make sure it was written whole. Failed, saying why, and then no file is left
// at `path`.
support::Result WriteNewDatabase(hdb::DatabaseManager& db, fileservice::FileService& files, const char* path,
                                 KeySource& source);

}  // namespace tools
