#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace fuzz {

Scratch::Scratch() {
    std::random_device random;
    // Memory-backed where there is such a folder: every database written is flushed to disk,
    // and on a disk that, not the code, would set the pace.
    // run-fuzz.sh names a folder of its own, which it removes: libFuzzer ends a run without
    // running destructors.
    std::error_code ignored;
    const std::filesystem::path memory = "/dev/shm";
    const char* given = std::getenv("PELLUCOR_FUZZ_SCRATCH");
    const auto base = given && *given ? std::filesystem::path(given)
                      : std::filesystem::is_directory(memory, ignored) ? memory
                                                                       : std::filesystem::temp_directory_path();
    const auto folder = base / ("pellucor-fuzz-" + std::to_string(random()));
    std::filesystem::create_directories(folder);
    folder_ = folder.string();
}

Scratch& Scratch::Shared() {
    static Scratch scratch;
    return scratch;
}

Scratch::~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::string Scratch::Path(const std::string& name) const { return folder_ + "/" + name; }

std::string Scratch::Write(const std::string& name, const uint8_t* data, size_t size) {
    const std::string path = Path(name);
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                   static_cast<std::streamsize>(size));
    return path;
}

void Scratch::Clear() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, ignored))
        std::filesystem::remove(entry.path(), ignored);
}

void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz: property broken: %s\n", what);
    std::abort();
}

}  // namespace fuzz
