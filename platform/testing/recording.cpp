// The recorder behind platform/testing/recording.h: it keeps the live names of the folder and
// the open handles it knows, and turns each hook of the recording seam into changes.
#include "platform/testing/recording.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include "platform/os.h"
#include "platform/recording.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// Names as the engine passes them; on Windows either separator.
std::string Normal(const char* name) {
    std::string text = name ? name : "";
#ifdef _WIN32
    for (char& c : text)
        if (c == '/') c = '\\';
#endif
    return text;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

FileChange Change(FileChange::Kind kind, uint32_t file, const std::string& name = {}) {
    FileChange change;
    change.kind = kind;
    change.file = file;
    change.name = name;
    return change;
}

class FolderRecorder final : public recording_detail::Recorder {
public:
    explicit FolderRecorder(const char* folder) {
        log_.folder = Normal(folder);
        std::error_code ignored;
        for (auto it = fs::recursive_directory_iterator(fs::path(log_.folder), ignored);
             it != fs::recursive_directory_iterator(); it.increment(ignored)) {
            if (!it->is_regular_file(ignored)) continue;
            const std::string name = Normal(it->path().string().c_str());
            const uint32_t file = ++lastFile_;
            log_.names[name] = file;
            log_.contents[file] = ReadAll(name);
        }
        live_ = log_.names;
    }

    Recording Take() {
        std::lock_guard<std::mutex> guard(mutex_);
        return std::move(log_);
    }

    void Opened(FileHandle handle, const char* name, FileCreation creation) override {
        const std::string key = Normal(name);
        if (!InFolder(key)) return;
        std::lock_guard<std::mutex> guard(mutex_);
        auto found = live_.find(key);
        if (found == live_.end()) {
            const uint32_t file = ++lastFile_;
            found = live_.emplace(key, file).first;
            Add(Change(FileChange::Kind::Create, file, key));
        } else if (creation == FileCreation::CreateAlways) {
            Add(Change(FileChange::Kind::Truncate, found->second, key));
        }
        handles_[handle] = found->second;
    }

    void Wrote(FileHandle handle, const void* bytes, uint32_t count) override {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto found = handles_.find(handle);
        if (found == handles_.end()) return;
        uint64_t end = 0;
        os::SeekFile(handle, 0, SeekOrigin::Current, &end);
        FileChange change = Change(FileChange::Kind::Write, found->second);
        change.offset = end - count;
        const auto* first = static_cast<const uint8_t*>(bytes);
        change.bytes.assign(first, first + count);
        Add(std::move(change));
    }

    void Flushed(FileHandle handle) override {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto found = handles_.find(handle);
        if (found != handles_.end()) Add(Change(FileChange::Kind::Flush, found->second));
    }

    void Closed(FileHandle handle) override {
        std::lock_guard<std::mutex> guard(mutex_);
        handles_.erase(handle);
    }

    void FlushedName(const char* name) override {
        std::lock_guard<std::mutex> guard(mutex_);
        const auto found = live_.find(Normal(name));
        if (found != live_.end()) Add(Change(FileChange::Kind::Flush, found->second));
    }

    void FlushedFolder(const char* folder) override {
        const std::string key = Normal(folder);
        if (!InFolder(key) && key != log_.folder) return;
        std::lock_guard<std::mutex> guard(mutex_);
        Add(Change(FileChange::Kind::FlushFolder, 0, key));
    }

    void Copied(const char* target) override {
        const std::string key = Normal(target);
        if (!InFolder(key)) return;
        std::error_code ignored;
        const bool there = fs::is_regular_file(fs::path(key), ignored);
        std::lock_guard<std::mutex> guard(mutex_);
        auto found = live_.find(key);
        if (!there) {
            if (found != live_.end()) {
                Add(Change(FileChange::Kind::Delete, found->second, key));
                live_.erase(found);
            }
            return;
        }
        // A copy opens its target, empties it and writes the source's bytes into it.
        if (found == live_.end()) {
            const uint32_t file = ++lastFile_;
            found = live_.emplace(key, file).first;
            Add(Change(FileChange::Kind::Create, file, key));
        } else {
            Add(Change(FileChange::Kind::Truncate, found->second, key));
        }
        FileChange change = Change(FileChange::Kind::Write, found->second);
        change.bytes = ReadAll(key);
        if (!change.bytes.empty()) Add(std::move(change));
    }

    void Renamed(const char* source, const char* target) override {
        const std::string from = Normal(source), to = Normal(target);
        std::lock_guard<std::mutex> guard(mutex_);
        const auto found = live_.find(from);
        if (found == live_.end()) return;
        const uint32_t file = found->second;
        live_.erase(found);
        if (!InFolder(to)) {
            Add(Change(FileChange::Kind::Delete, file, from));
            return;
        }
        live_[to] = file;
        FileChange change = Change(FileChange::Kind::Rename, file, from);
        change.target = to;
        Add(std::move(change));
    }

    void Deleted(const char* name) override {
        const std::string key = Normal(name);
        std::lock_guard<std::mutex> guard(mutex_);
        const auto found = live_.find(key);
        if (found == live_.end()) return;
        Add(Change(FileChange::Kind::Delete, found->second, key));
        live_.erase(found);
    }

private:
    bool InFolder(const std::string& name) const {
        const std::string& folder = log_.folder;
        return name.size() > folder.size() + 1 && name.compare(0, folder.size(), folder) == 0 &&
               (name[folder.size()] == '/' || name[folder.size()] == '\\');
    }
    void Add(FileChange change) { log_.changes.push_back(std::move(change)); }

    std::mutex mutex_;
    Recording log_;
    std::map<std::string, uint32_t> live_;
    std::map<FileHandle, uint32_t> handles_;
    uint32_t lastFile_ = 0;
};

FolderRecorder* g_active = nullptr;

}  // namespace

void StartRecording(const char* folder) {
    g_active = new FolderRecorder(folder);
    recording_detail::g_recorder.store(g_active, std::memory_order_release);
}

Recording StopRecording() {
    recording_detail::g_recorder.store(nullptr, std::memory_order_release);
    if (!g_active) return {};
    Recording log = g_active->Take();
    delete g_active;
    g_active = nullptr;
    return log;
}

}  // namespace platform
