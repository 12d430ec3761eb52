// mirror_bench: what taking the mirror costs a writer's open, and how much of it is making the
// copy durable.
//   mirror_bench [FOLDER [SIZE_KIB...]]   (default: the temporary folder; 64 1024 16384)
// For each database size it times, averaged over several runs: the plain copy (FileCopy), the
// mirror as the engine takes it (CopyToMirror: copy, then the copy and its folder entry flushed
// to the disk), and a writer's whole OpenDatabase + CloseDatabase.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "hdb/mirror.h"

using namespace hdb;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A closed database of `blocks` empty blocks: a header and zeros, which opens like any other.
void WriteDatabase(const std::string& path, uint32_t blocks) {
    std::vector<char> image((static_cast<size_t>(blocks) + 1) * kHeaderBlockSize, 0);
    DatabaseHeader header{};
    std::memcpy(header.signature, kDatabaseSignature, sizeof kDatabaseSignature);
    header.formatNumber = 1;
    header.headerSize = kHeaderImageSize;
    header.blockCount = blocks;
    std::memcpy(image.data(), &header, sizeof header);
    std::ofstream(path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
}

template <typename Step>
double MillisecondsPerRun(int runs, Step step) {
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < runs; ++i) step();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / runs;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path folder = (argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path()) /
                            ("pellucor-mirror-bench-" + std::to_string(Clock::now().time_since_epoch().count()));
    std::vector<long> sizes;
    for (int i = 2; i < argc; ++i) sizes.push_back(std::strtol(argv[i], nullptr, 10));
    if (sizes.empty()) sizes = {64, 1024, 16384};
    fs::create_directories(folder);
    DatabaseManager manager;
    fileservice::FileService files;
    const std::string path = (folder / "UserConfig.hdb").string(), mirror = path + kMirrorSuffix;
    std::printf("%10s %12s %14s %12s %14s\n", "size KiB", "copy ms", "mirror ms", "flush ms", "open+close ms");
    for (long kib : sizes) {
        if (kib <= 0) continue;
        WriteDatabase(path, static_cast<uint32_t>(kib * 4));
        const int runs = kib >= 16384 ? 5 : kib >= 1024 ? 20 : 100;
        const double copy = MillisecondsPerRun(runs, [&] { files.FileCopy(path.c_str(), mirror.c_str()); });
        const double durable = MillisecondsPerRun(runs, [&] { CopyToMirror(path.c_str()); });
        const double open = MillisecondsPerRun(runs, [&] {
            const int32_t h = manager.OpenDatabase(path.c_str(), ModeReadWrite);
            if (h >= 0) manager.CloseDatabase(h);
        });
        std::printf("%10ld %12.3f %14.3f %12.3f %14.3f\n", kib, copy, durable, durable - copy, open);
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
