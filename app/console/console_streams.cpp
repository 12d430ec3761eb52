#include "app/console/console_streams.h"

namespace app {

bool StdioStreams::Write(std::FILE* stream, volatile bool& failed, const std::string& line) {
    if (failed) return false;
    const bool written = std::fwrite(line.data(), 1, line.size(), stream) == line.size() &&
                         std::fputc('\n', stream) != EOF && std::fflush(stream) == 0;
    if (!written) failed = true;
    return written;
}

}  // namespace app
