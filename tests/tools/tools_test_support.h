// Helpers shared by the tools' tests: databases built through the engine, walked raw, and
// damaged byte by byte.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "hdb/hdb_test_support.h"
#include "test_support.h"
#include "tools/output_sink.h"
#include "tools/raw_database.h"
#include "tools/structure_scan.h"
#include "tools/text_form.h"

namespace tools_test {

using namespace tools;

using hdb_test::PutWord;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WordAt;
using testing_support::WriteBytes;

inline ScanResult ScanFile(const std::string& path, bool keepGoing = false) {
    fileservice::FileService files;
    RawDatabase raw(files);
    EXPECT_EQ(raw.Open(path.c_str()), 0) << raw.error();
    return ScanStructure(raw, keepGoing);
}

// Every problem as verify prints it, "where: what".
inline std::vector<std::string> ProblemLines(const ScanResult& scan) {
    std::vector<std::string> lines;
    for (const StructureProblem& p : scan.problems) lines.push_back(ProblemWhere(scan, p) + ": " + p.text);
    return lines;
}

inline std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

// The text form of the database at `path`, read through the engine.
inline std::string ExportFile(const std::string& path) {
    hdb::DatabaseManager db;
    const int32_t database = db.OpenDatabase(path.c_str(), hdb::ModeReadOnly);
    EXPECT_GE(database, 0) << path;
    StringSink out;
    std::vector<std::string> errors;
    EXPECT_EQ(ExportTextForm(db, database, out, errors), 0) << Joined(errors);
    db.CloseDatabase(database);
    return out.text();
}

// A database open for writing, with keys made and closed in one call.
class DatabaseBuilder {
public:
    explicit DatabaseBuilder(const std::string& path) : handle_(db_.OpenDatabase(path.c_str(), hdb::ModeReadWrite)) {
        EXPECT_GE(handle_, 0) << path;
    }
    ~DatabaseBuilder() { Close(); }

    uint32_t Key(uint32_t parent, const std::string& name, const std::string& value = "") {
        const int64_t key = db_.HdbCreateKey(handle_, parent, name.c_str());
        EXPECT_GT(key, 0) << name;
        const auto id = static_cast<uint32_t>(key);
        if (!value.empty()) {
            EXPECT_EQ(db_.HdbWriteValue(handle_, id, value.data(), static_cast<uint32_t>(value.size())),
                      static_cast<int32_t>(value.size()));
        }
        db_.HdbCloseKey(handle_, id);
        return id;
    }
    void Close() {
        if (handle_ >= 0) db_.CloseDatabase(handle_);
        handle_ = -1;
    }
    hdb::DatabaseManager& db() { return db_; }
    int32_t handle() const { return handle_; }

private:
    hdb::DatabaseManager db_;
    int32_t handle_;
};

}  // namespace tools_test
