// What the fuzz targets share: the input as a file, and a check that ends the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/output_sink.h"

namespace fuzz {

using namespace tools;

// A folder of this process's own for the files of one input; emptied for each input.
class Scratch {
public:
    // Puts `size` bytes at `name` in the folder and returns its path.
    std::string Write(const std::string& name, const uint8_t* data, size_t size);
    std::string Path(const std::string& name) const;
    // Removes every file the last input left.
    void Clear();

    static Scratch& Shared();

private:
    Scratch();
    ~Scratch();
    std::string folder_;
};

// Output that is thrown away.
class NullSink : public OutputSink {
public:
    bool Write(std::string_view) override { return true; }
};

// A property the code must keep on every input; when it does not, the run ends as a crash
// with this message, and libFuzzer keeps the input.
void Require(bool holds, const char* what);

}  // namespace fuzz
