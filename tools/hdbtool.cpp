// hdbtool: looks into a database file without changing it.
//   hdbtool dump FILE   print the key tree: one key a line, indented by depth, with its value
#include <cstdio>
#include <cstring>
#include <string>

#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "tools/hdb_dump.h"

namespace {

constexpr char kUsage[] =
    "Usage: hdbtool dump FILE\n"
    "Prints the key tree of the database FILE, one key a line, indented by its depth. A value\n"
    "follows its key's name after \" = \": in quotes when every byte is printable, else as its\n"
    "length and hex bytes. The file is opened read-only and never changed.\n"
    "\n"
    "Exit status: 0 when the whole tree was printed, 1 when the file cannot be opened or a key\n"
    "cannot be read, 2 on a usage error.\n";

int Dump(const char* path) {
    FileService files;
    DatabaseManager databases;
    const int32_t database = databases.OpenDatabase(path, ModeReadOnly);
    if (database < 0) {
        std::fprintf(stderr, "hdbtool: cannot open %s as a database\n", path);
        return 1;
    }
    std::string listing;
    const int32_t result = DumpKeyTree(databases, database, listing);
    databases.CloseDatabase(database);
    std::fwrite(listing.data(), 1, listing.size(), stdout);
    if (result < 0) std::fprintf(stderr, "hdbtool: %s: some keys could not be read\n", path);
    return result < 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc != 3 || std::strcmp(argv[1], "dump") != 0) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    return Dump(argv[2]);
}
