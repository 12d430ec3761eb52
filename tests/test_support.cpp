#include "test_support.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/platform.h"
#include "platform/resources.h"

namespace testing_support {

ScratchDir::ScratchDir() {
    static std::atomic<int> serial{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("pellucor-test-" + std::to_string(stamp) + "-" + std::to_string(serial++));
    std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    // Read-only files left by a test must not keep the folder alive. The walk steps with an
    // error code: a destructor must not throw, also not on a name the system cannot reach.
    std::filesystem::recursive_directory_iterator it(path_, ignored), end;
    for (; it != end; it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ignored);
        if (ignored) ignored.clear();
    }
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::operator/(const std::string& name) const { return (path_ / name).string(); }

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

uint32_t WordAt(const std::vector<uint8_t>& bytes, size_t offset) {
    return static_cast<uint32_t>(bytes.at(offset)) | static_cast<uint32_t>(bytes.at(offset + 1)) << 8 |
           static_cast<uint32_t>(bytes.at(offset + 2)) << 16 | static_cast<uint32_t>(bytes.at(offset + 3)) << 24;
}

std::string Digest(const std::vector<uint8_t>& bytes) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const uint8_t b : bytes) {
        hash ^= b;
        hash *= 0x100000001b3ull;
    }
    char text[40];
    std::snprintf(text, sizeof text, "%zu:%016llx", bytes.size(), static_cast<unsigned long long>(hash));
    return text;
}

std::vector<std::string> SystemListing(const std::string& pattern) {
    std::vector<std::string> names;
    platform::FindData data;
    platform::FindHandle search = platform::FindFirst(pattern.c_str(), &data);
    if (!search) return names;
    do {
        if (std::strcmp(data.name, ".") != 0 && std::strcmp(data.name, "..") != 0) names.emplace_back(data.name);
    } while (platform::FindNext(search, &data));
    platform::FindClose(search);
    return names;
}

std::string ProgramBesideThisOne(const std::string& name) {
    char self[1024];
    if (platform::ExecutablePath(self, sizeof self) == 0) return name;
    std::string path = std::filesystem::path(self).parent_path().append(name).string();
#ifdef _WIN32
    path += ".exe";
#endif
    return path;
}

}  // namespace testing_support
