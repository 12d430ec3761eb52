// Small helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// A fresh, empty folder removed again (with everything in it) when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The path of `name` inside the folder, as the system writes it.
    std::string operator/(const std::string& name) const;

private:
    std::filesystem::path path_;
};

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);
uint32_t WordAt(const std::vector<uint8_t>& bytes, size_t offset);

// A 64-bit FNV-1a digest of a file's bytes, as "size:digest" in hexadecimal, so that tests can
// hold a whole file's expected content in one short text.
std::string Digest(const std::vector<uint8_t>& bytes);

// The path of a program built beside the running test program (".exe" added on Windows).
std::string ProgramBesideThisOne(const std::string& name);

// What the system itself lists for a search pattern, in its order, without "." and "..".
std::vector<std::string> SystemListing(const std::string& pattern);

}  // namespace testing_support
