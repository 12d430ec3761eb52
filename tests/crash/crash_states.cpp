#include "crash_states.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace crash_test {
namespace {

using Kind = platform::FileChange::Kind;
constexpr uint64_t kSector = 512;

// One piece of a file's unflushed changes that reaches the disk whole or not at all: a write's
// bytes within one sector, or the cut to no bytes.
struct Unit {
    uint32_t file;
    bool truncate;
    uint64_t offset;
    std::vector<uint8_t> bytes;
};

void Apply(std::vector<uint8_t>& content, const Unit& unit) {
    if (unit.truncate) {
        content.clear();
        return;
    }
    if (content.size() < unit.offset + unit.bytes.size()) content.resize(unit.offset + unit.bytes.size(), 0);
    std::copy(unit.bytes.begin(), unit.bytes.end(), content.begin() + static_cast<std::ptrdiff_t>(unit.offset));
}

// What the log says at one point: the bytes of each file at its last flush, the changes since,
// and the name changes, of which the first `forcedNames` are on the disk for certain.
struct Replay {
    std::map<uint32_t, std::vector<uint8_t>> flushed;
    std::vector<Unit> units;  // in the order they were made
    std::vector<const platform::FileChange*> names;
    size_t forcedNames = 0;
};

Replay ReplayTo(const platform::Recording& log, size_t point) {
    Replay replay;
    replay.flushed = log.contents;
    for (size_t i = 0; i < point; ++i) {
        const platform::FileChange& change = log.changes[i];
        switch (change.kind) {
            case Kind::Create:
                replay.flushed[change.file].clear();
                replay.names.push_back(&change);
                break;
            case Kind::Truncate:
                replay.units.push_back({change.file, true, 0, {}});
                break;
            case Kind::Write: {
                uint64_t at = change.offset;
                size_t taken = 0;
                while (taken < change.bytes.size()) {
                    const size_t piece = static_cast<size_t>(
                        std::min<uint64_t>(change.bytes.size() - taken, kSector - at % kSector));
                    Unit unit{change.file, false, at, {}};
                    unit.bytes.assign(change.bytes.begin() + static_cast<std::ptrdiff_t>(taken),
                                      change.bytes.begin() + static_cast<std::ptrdiff_t>(taken + piece));
                    replay.units.push_back(std::move(unit));
                    taken += piece;
                    at += piece;
                }
                break;
            }
            case Kind::Flush: {
                std::vector<uint8_t>& content = replay.flushed[change.file];
                std::vector<Unit> rest;
                for (Unit& unit : replay.units) {
                    if (unit.file == change.file) Apply(content, unit);
                    else rest.push_back(std::move(unit));
                }
                replay.units = std::move(rest);
                break;
            }
            case Kind::FlushFolder:
                replay.forcedNames = replay.names.size();
                break;
            case Kind::Rename:
            case Kind::Delete:
                replay.names.push_back(&change);
                break;
        }
    }
    return replay;
}

CrashState Build(const platform::Recording& log, const Replay& replay, size_t namesKept, const std::vector<bool>& kept) {
    std::map<std::string, uint32_t> names = log.names;
    for (size_t i = 0; i < namesKept; ++i) {
        const platform::FileChange& change = *replay.names[i];
        if (change.kind == Kind::Create) {
            names[change.name] = change.file;
        } else if (change.kind == Kind::Rename) {
            names.erase(change.name);
            names[change.target] = change.file;
        } else {
            names.erase(change.name);
        }
    }
    CrashState state;
    for (const auto& [name, file] : names) {
        const auto flushed = replay.flushed.find(file);
        std::vector<uint8_t> content = flushed == replay.flushed.end() ? std::vector<uint8_t>{} : flushed->second;
        for (size_t u = 0; u < replay.units.size(); ++u)
            if (kept[u] && replay.units[u].file == file) Apply(content, replay.units[u]);
        state.files.emplace(name, std::move(content));
    }
    return state;
}

}  // namespace

CrashStates::CrashStates(platform::Recording recording) : recording_(std::move(recording)) {}

void CrashStates::Visit(size_t point, size_t budget, std::mt19937_64& random,
                        const std::function<void(const CrashState&)>& visit) const {
    const Replay replay = ReplayTo(recording_, point);
    const size_t unitCount = replay.units.size();
    const size_t nameChoices = replay.names.size() - replay.forcedNames + 1;
    // Every state, when they are few.
    if (unitCount < 20 && (nameChoices << unitCount) <= budget) {
        std::vector<bool> kept(unitCount);
        for (size_t names = replay.forcedNames; names <= replay.names.size(); ++names) {
            for (uint64_t mask = 0; mask < (uint64_t{1} << unitCount); ++mask) {
                for (size_t u = 0; u < unitCount; ++u) kept[u] = (mask >> u) & 1;
                visit(Build(recording_, replay, names, kept));
            }
        }
        return;
    }
    // What was flushed alone, then everything written, then random choices: half of the states
    // keep each change by a coin, the others keep the changes in the order they were made up to
    // a point (a disk that writes in order), each with a random prefix of the name changes.
    visit(Build(recording_, replay, replay.forcedNames, std::vector<bool>(unitCount, false)));
    if (budget < 2) return;
    visit(Build(recording_, replay, replay.names.size(), std::vector<bool>(unitCount, true)));
    std::uniform_int_distribution<size_t> namePick(replay.forcedNames, replay.names.size());
    std::uniform_int_distribution<size_t> cut(0, unitCount);
    std::bernoulli_distribution coin(0.5);
    for (size_t n = 2; n < budget; ++n) {
        std::vector<bool> kept(unitCount);
        if (n % 2 == 0) {
            for (size_t u = 0; u < unitCount; ++u) kept[u] = coin(random);
        } else {
            const size_t upTo = cut(random);
            for (size_t u = 0; u < upTo; ++u) kept[u] = true;
        }
        visit(Build(recording_, replay, namePick(random), kept));
    }
}

uint64_t StateDigest(const CrashState& state) {
    uint64_t hash = 1469598103934665603ull;
    auto mix = [&hash](const void* data, size_t size) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
    };
    for (const auto& [name, bytes] : state.files) {
        mix(name.data(), name.size() + 1);
        const uint64_t size = bytes.size();
        mix(&size, sizeof size);
        mix(bytes.data(), bytes.size());
    }
    return hash;
}

void Materialise(const std::string& folder, const CrashState& state) {
    namespace fs = std::filesystem;
    const fs::path root = fs::path(folder);
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(root, ignored)) fs::remove_all(entry.path(), ignored);
    for (const auto& [name, bytes] : state.files) {
        const fs::path path = fs::path(name);
        fs::create_directories(path.parent_path(), ignored);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
}

}  // namespace crash_test
