// Any bytes opened read-only through the engine, and the whole tree walked as hdbtool dump
// walks it, in both of dump's forms. Nothing may crash, leak, hang or change the file.
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "fileservice/file_service.h"
#include "fuzz_support.h"
#include "hdb/database_manager.h"
#include "hdb/database_table.h"
#include "tools/hdb_dump.h"

using namespace tools;
using hdb::DatabaseManager;
using hdb::ModeReadOnly;
using hdb::OpenDatabaseCount;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Scratch& scratch = fuzz::Scratch::Shared();
    const std::string path = scratch.Write("input.hdb", data, size);
    {
        fileservice::FileService files;
        DatabaseManager db;
        const int32_t database = db.OpenDatabase(path.c_str(), ModeReadOnly);
        if (database >= 0) {
            fuzz::NullSink out;
            DumpKeyTree(db, database, out);
            DumpKeyTreeJson(db, database, out);
            db.CloseDatabase(database);
        }
        fuzz::Require(OpenDatabaseCount() == 0, "every database is closed again");
    }
    std::ifstream file(path, std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    fuzz::Require(after.size() == size && std::memcmp(after.data(), data, size) == 0, "a read-only walk leaves the file as it was");
    scratch.Clear();
    return 0;
}
