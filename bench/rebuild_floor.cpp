// rebuild_floor: the least work a rebuild of REPOSITORY can do, as a yardstick for the benchmark.
//   rebuild_floor REPOSITORY BYTES OUTPUT
// Reads each users/*/UserSummary.rtf up to its "User Name:" line (in large reads) and writes
// BYTES bytes to OUTPUT in one write: what any rebuild must read, and a database's worth of
// output. Prints the number of names found.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

// Whether the file holds a line with the label; reads only as far as that line's end.
bool ReadToNameLine(const std::filesystem::path& path, std::vector<char>& buffer) {
    std::FILE* file = std::fopen(path.string().c_str(), "rb");
    if (!file) return false;
    static const char kLabel[] = "User Name:";
    size_t held = 0;
    bool found = false;
    for (;;) {
        if (held == buffer.size()) buffer.resize(buffer.size() * 2);
        const size_t got = std::fread(buffer.data() + held, 1, buffer.size() - held, file);
        if (got == 0) break;
        held += got;
        const std::string_view text(buffer.data(), held);
        const size_t at = text.find(kLabel);
        if (at != std::string_view::npos && text.find('\n', at) != std::string_view::npos) {
            found = true;
            break;
        }
    }
    std::fclose(file);
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: rebuild_floor REPOSITORY BYTES OUTPUT\n");
        return 2;
    }
    std::vector<char> buffer(16 * 1024);
    long names = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(argv[1]) / "users", error))
        if (ReadToNameLine(entry.path() / "UserSummary.rtf", buffer)) ++names;
    const std::vector<char> bytes(std::strtoul(argv[2], nullptr, 10), 'x');
    std::FILE* out = std::fopen(argv[3], "wb");
    if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fclose(out) != 0) return 1;
    std::printf("%ld\n", names);
    return 0;
}
