// rebuild_bench: times whole rebuilds of generated repositories.
//   rebuild_bench [USERS...]   (default: 1000 10000)
// Each repository has USERS user folders whose summaries are copies of summaries written by real
// word processors (a short and a long one, alternating) with the user's own name. The run is
// the real worker with a host that only counts status lines. Reported per user: wall time and
// the platform calls of every kind (opens, reads, writes, seeks, ...).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/rebuild_run.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "platform/fault_injection.h"

namespace {

namespace fs = std::filesystem;

class SilentHost : public RunHost {
public:
    void AddStatusLine(const char*) override { ++lines; }
    void ShowMessage(const char*, const char*) override { completed = true; }
    long lines = 0;
    bool completed = false;
};

struct SummaryTemplate {
    std::string text;
    std::string name;  // the user name in `text`, replaced by each generated user's own
};

bool LoadTemplate(const char* file, const char* name, SummaryTemplate* out) {
    std::ifstream in(fs::path(PELLUCOR_SUMMARY_DIR) / file, std::ios::binary);
    out->text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    out->name = std::string("User Name: ") + name;
    return out->text.find(out->name) != std::string::npos;
}

std::string Hex8(unsigned value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

void MakeRepository(const fs::path& root, long users, const std::vector<SummaryTemplate>& templates) {
    fs::create_directories(root / "users");
    for (long i = 0; i < users; ++i) {
        const std::string id = Hex8(static_cast<unsigned>(i + 2));
        const fs::path folder = root / "users" / id;
        fs::create_directory(folder);
        const SummaryTemplate& t = templates[static_cast<size_t>(i) % templates.size()];
        std::string text = t.text;
        text.replace(text.find(t.name), t.name.size(), "User Name: user " + id);
        std::ofstream(folder / "UserSummary.rtf", std::ios::binary) << text;
    }
}

constexpr const char* kKindNames[] = {"open",   "read",   "write", "seek", "flush",      "close",       "rename",
                                      "delete", "copy",   "find",  "attributes", "allocate", "folder read"};
static_assert(std::size(kKindNames) == static_cast<size_t>(platform::CallKind::Count));

int Measure(long users, const std::vector<SummaryTemplate>& templates) {
    const fs::path root =
        fs::temp_directory_path() /
        ("pellucor-bench-" + std::to_string(users) + "-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    MakeRepository(root, users, templates);

    FileService files;
    DatabaseManager databases;
    SilentHost host;
    RebuildRun& run = SharedRun();
    if (!SetRepositoryPath(root.string())) {
        std::fprintf(stderr, "rebuild_bench: path too long: %s\n", root.string().c_str());
        return 1;
    }
    run.host = &host;
    run.fileService = &files;
    run.databaseManager = &databases;

    platform::ResetCallCounts();
    const auto start = std::chrono::steady_clock::now();
    RebuildWorker();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    uint64_t calls[static_cast<size_t>(platform::CallKind::Count)];
    uint64_t total = 0;
    for (size_t k = 0; k < std::size(calls); ++k) {
        calls[k] = platform::CallCount(static_cast<platform::CallKind>(k));
        total += calls[k];
    }
    std::error_code ignored;
    const auto databaseSize = fs::file_size(root / kDatabaseFileName, ignored);

    std::printf("%ld users: %.3f s, %.1f us/user, %.1f platform calls/user, database %ju bytes, %ld status lines%s\n",
                users, seconds, seconds * 1e6 / static_cast<double>(users),
                static_cast<double>(total) / static_cast<double>(users), static_cast<uintmax_t>(databaseSize),
                host.lines, host.completed ? "" : ", NOT COMPLETED");
    std::printf("  per user:");
    for (size_t k = 0; k < std::size(calls); ++k)
        if (calls[k] != 0) std::printf(" %s %.2f", kKindNames[k], static_cast<double>(calls[k]) / static_cast<double>(users));
    std::printf("\n");

    run.host = nullptr;
    fs::remove_all(root, ignored);
    return host.completed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<SummaryTemplate> templates(2);
    if (!LoadTemplate("pandoc_dave.rtf", "dave", &templates[0]) ||
        !LoadTemplate("libreoffice_erin.rtf", "erin", &templates[1])) {
        std::fprintf(stderr, "rebuild_bench: cannot read the summaries in %s\n", PELLUCOR_SUMMARY_DIR);
        return 1;
    }
    std::vector<long> sizes;
    for (int i = 1; i < argc; ++i) {
        const long n = std::strtol(argv[i], nullptr, 10);
        if (n <= 0) {
            std::fprintf(stderr, "usage: rebuild_bench [USERS...]\n");
            return 2;
        }
        sizes.push_back(n);
    }
    if (sizes.empty()) sizes = {1000, 10000};
    int status = 0;
    for (long n : sizes) status |= Measure(n, templates);
    return status;
}
