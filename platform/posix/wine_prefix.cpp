// The Wine prefix on POSIX: where it is, and how a Windows path on one of its drives becomes a
// host path (through dosdevices/, whose entries "c:" ... "z:" link to the drives' folders).
#include "platform/posix/wine_prefix.h"
#include "platform/os.h"
#include "platform/posix/names.h"
#include "platform/settings.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>

namespace platform {
namespace posix {
namespace {

std::mutex g_prefixLock;
std::string g_selectedPrefix;

// The folder of a drive, through its dosdevices link; false when the drive has none. The root
// folder comes back empty, so that joining "/x" to it gives "/x".
bool DriveFolder(char letter, std::string* folder) {
    const char lower = static_cast<char>(letter | 0x20);
    const std::string link = WinePrefix() + "/dosdevices/" + lower + ":";
    char* resolved = realpath(link.c_str(), nullptr);
    if (!resolved) return false;
    *folder = resolved;
    std::free(resolved);
    if (*folder == "/") folder->clear();
    return true;
}

}  // namespace

std::string WinePrefix() {
    {
        std::lock_guard<std::mutex> hold(g_prefixLock);
        if (!g_selectedPrefix.empty()) return g_selectedPrefix;
    }
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) {
        std::string path = prefix;
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        return path;
    }
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.wine";
}

bool ReadWholeFile(const std::string& path, std::string* content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return false;
    *content = text.str();
    return true;
}

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return fold(x) == fold(y);
           });
}

std::string LowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace posix

std::string HostPath(const char* windowsPath) {
    if (!windowsPath) return std::string();
    const std::string path = windowsPath;
    const bool drive = path.size() >= 2 && path[1] == ':' && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z');
    if (!drive) {
        std::string host = path;
        std::replace(host.begin(), host.end(), '\\', '/');
        return host;
    }
    std::string host;
    if (!posix::DriveFolder(path[0], &host)) return path;  // this host cannot reach the drive
    bool matching = true;  // elements are matched on disk until one does not exist
    size_t start = 2;
    while (start < path.size()) {
        size_t end = path.find_first_of("\\/", start);
        if (end == std::string::npos) end = path.size();
        if (end > start) {
            std::string element = path.substr(start, end - start);
            if (matching) {
                const std::string entry = posix::MatchElement(host.empty() ? "/" : host, element);
                if (entry.empty())
                    matching = false;
                else
                    element = entry;
            }
            host += "/" + element;
        }
        start = end + 1;
    }
    if (host.empty()) host = "/";
    return host;
}

std::string RegistryName() { return "the registry of the Wine prefix " + posix::WinePrefix(); }

bool os::SelectWinePrefix(const char* path) {
    std::lock_guard<std::mutex> hold(posix::g_prefixLock);
    posix::g_selectedPrefix = path ? path : "";
    return true;
}

}  // namespace platform
