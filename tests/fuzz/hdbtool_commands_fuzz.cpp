// verify, stat, export and salvage on any bytes, as hdbtool runs them. Besides not crashing,
// leaking or hanging: what export writes imports, and exports again as the same text; salvage
// always writes a sound database, keeps every key of a file that verify found sound, and claims
// to have kept everything only when a scan of what it wrote finds every key and value byte.
#include <cstdint>
#include <string>
#include <vector>

#include "fileservice/file_service.h"
#include "fuzz_support.h"
#include "hdb/database_manager.h"
#include "hdb/database_table.h"
#include "tools/hdb_salvage.h"
#include "tools/raw_database.h"
#include "tools/structure_report.h"
#include "tools/structure_scan.h"
#include "tools/text_form.h"

using namespace tools;
using fileservice::FileService;
using hdb::DatabaseManager;
using hdb::ModeReadOnly;
using hdb::OpenDatabaseCount;

namespace {

void VerifyAndStat(FileService& files, const std::string& path) {
    RawDatabase raw(files);
    if (raw.Open(path.c_str()) != 0) return;
    const ScanResult scan = ScanStructure(raw, false);
    fuzz::NullSink out;
    for (const bool json : {false, true}) {
        WriteVerifyReport(scan, path, json, out);
        WriteStatReport(scan, path, raw.fileSize(), "", json, out);
    }
}

void ExportAndImport(FileService& files, DatabaseManager& db, const std::string& path, const std::string& copy) {
    std::string text;
    {
        const int32_t database = db.OpenDatabase(path.c_str(), ModeReadOnly);
        if (database < 0) return;
        StringSink out;
        std::vector<std::string> errors;
        const int32_t result = ExportTextForm(db, database, out, errors);
        db.CloseDatabase(database);
        if (result != 0) return;
        text = out.text();
    }
    TextForm form;
    fuzz::Require(form.Parse(text).ok(), "what export writes parses");
    fuzz::Require(WriteNewDatabase(db, files, copy.c_str(), form).ok(), "what export writes imports");
    const int32_t database = db.OpenDatabase(copy.c_str(), ModeReadOnly);
    fuzz::Require(database >= 0, "an imported database opens");
    StringSink again;
    std::vector<std::string> errors;
    fuzz::Require(ExportTextForm(db, database, again, errors) == 0, "an imported database exports");
    db.CloseDatabase(database);
    fuzz::Require(again.text() == text, "import then export gives the same text");
}

void Salvage(FileService& files, DatabaseManager& db, const std::string& path, const std::string& copy) {
    RawDatabase raw(files);
    if (raw.Open(path.c_str()) != 0) return;
    const ScanResult scan = ScanStructure(raw, true);
    SalvageReport report;
    fuzz::Require(SalvageDatabase(db, files, raw, scan, copy.c_str(), report).ok(), "salvage writes its file");
    if (scan.problems.empty()) fuzz::Require(report.keysWritten == scan.keysFound, "salvage of a sound file keeps every key");
    // hdbtool salvage ends with 0 on exactly this: then NEWFILE must hold what the input held.
    if (!report.Whole() || !scan.refusal.empty()) return;
    RawDatabase written(files);
    fuzz::Require(written.Open(copy.c_str()) == 0, "a salvaged file opens");
    SalvageReport again;
    ListLosses(ScanStructure(written, false), again);
    fuzz::Require(again.keysFound == report.keysFound && again.valueBytesFound == report.valueBytesFound,
                  "a salvage that ends with 0 holds every key and value byte found");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Scratch& scratch = fuzz::Scratch::Shared();
    const std::string path = scratch.Write("input.hdb", data, size);
    {
        FileService files;
        DatabaseManager db;
        VerifyAndStat(files, path);
        ExportAndImport(files, db, path, scratch.Path("imported.hdb"));
        Salvage(files, db, path, scratch.Path("salvaged.hdb"));
        fuzz::Require(OpenDatabaseCount() == 0, "every database is closed again");
    }
    scratch.Clear();
    return 0;
}
