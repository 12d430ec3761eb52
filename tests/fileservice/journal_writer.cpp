// Appends journal lines from a process of its own, for the test of two processes journaling at
// once: journal_writer JOURNAL PREFIX COUNT deletes COUNT missing files named PREFIX-<n>, each
// deletion journaling one line.
#include <cstdlib>
#include <string>

#include "fileservice/file_service.h"

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    fileservice::FileService fs;
    fs.SetJournalFile(argv[1]);
    const int count = std::atoi(argv[3]);
    for (int i = 0; i < count; ++i) fs.FileDelete((std::string(argv[2]) + "-" + std::to_string(i)).c_str());
    return 0;
}
