// A read/write session on a copy of the input: keys created, renamed, written, cleared and
// deleted, the database closed and opened again, each step chosen by the input. The input is a
// two-byte length (little-endian), that many bytes of script, then the database's bytes (none:
// a new database). Nothing may crash, leak or hang. On a file the structure walk finds sound
// (and on a new one) every step must succeed, the file must stay sound at every
// reopen, and a reopen must read back exactly the keys, names and values written.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fileservice/file_service.h"
#include "fuzz_support.h"
#include "hdb/database_manager.h"
#include "hdb/database_table.h"
#include "hdb/format.h"
#include "tools/raw_database.h"
#include "tools/structure_scan.h"

using namespace tools;
using fileservice::FileService;
using fileservice::OpenFileCount;
using hdb::DatabaseManager;
using hdb::kRootKey;
using hdb::ModeReadWrite;
using hdb::OpenDatabaseCount;

namespace {

constexpr size_t kMaxSteps = 64;
constexpr size_t kMaxValue = 3000;
constexpr size_t kMaxName = 24;

// A key this session created, and what it must hold.
struct ModelKey {
    uint32_t id;
    uint32_t parent;
    std::string name;
    std::string value;
};

class Script {
public:
    Script(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Done() const { return at_ >= size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint32_t Word16() { return Byte() | static_cast<uint32_t>(Byte()) << 8; }
    // A name of printable characters (a zero byte would end it early).
    std::string Name() {
        static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJ0123456789 _.";
        const size_t length = Byte() % (kMaxName + 1);
        std::string name;
        for (size_t i = 0; i < length; ++i) name += kLetters[Byte() % (sizeof kLetters - 1)];
        return name;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

bool IsSound(FileService& files, const std::string& path) {
    RawDatabase raw(files);
    if (raw.Open(path.c_str()) != 0) return false;
    const ScanResult scan = ScanStructure(raw, false);
    return scan.refusal.empty() && !scan.readFailed && scan.problems.empty();
}

std::string ReadValue(DatabaseManager& db, int32_t database, uint32_t key) {
    const uint32_t size = db.HdbGetValueSize(database, key);
    std::string value(size, '\0');
    if (db.HdbSeekValue(database, key, 0) != 0) return "<no seek>";
    if (size > 0 && db.HdbReadValue(database, key, value.data(), size) != static_cast<int32_t>(size)) return "<no read>";
    return value;
}

class Session {
public:
    Session(FileService& files, const std::string& path, bool checked) : files_(files), path_(path), checked_(checked) {}

    bool Open() {
        database_ = db_.OpenDatabase(path_.c_str(), ModeReadWrite);
        return database_ >= 0;
    }
    void Close() {
        const int32_t closed = db_.CloseDatabase(database_);
        database_ = -1;
        if (checked_) fuzz::Require(closed == 0, "a session's close succeeds");
    }

    // On a new or empty database the first key becomes the root.
    void MakeRoot() {
        if (db_.GetKeyCount(database_) > 0) return;
        const int64_t root = db_.HdbCreateKey(database_, kRootKey, "Root");
        if (checked_) fuzz::Require(root == kRootKey, "the first key of a database is key 1");
        if (root >= 0) db_.HdbCloseKey(database_, static_cast<uint32_t>(root));
    }

    void Step(Script& script) {
        switch (script.Byte() % 7) {
        case 0: Create(script); break;
        case 1: Rename(script); break;
        case 2: Write(script); break;
        case 3: Clear(script); break;
        case 4: Delete(script); break;
        case 5: Find(script); break;
        default: Reopen(); break;
        }
    }

    void Reopen() {
        Close();
        if (checked_) fuzz::Require(IsSound(files_, path_), "the file is sound after a close");
        const bool opened = Open();
        if (checked_) fuzz::Require(opened, "a closed session's file opens again");
        if (opened) CheckModel();
    }

private:
    // A key of the session, or the root (index keys_.size()).
    size_t PickKey(Script& script, bool withRoot) {
        const size_t choices = keys_.size() + (withRoot ? 1 : 0);
        return choices == 0 ? 0 : script.Byte() % choices;
    }
    uint32_t IdAt(size_t index) const { return index < keys_.size() ? keys_[index].id : kRootKey; }

    void Create(Script& script) {
        const uint32_t parent = IdAt(PickKey(script, true));
        const std::string name = script.Name();
        const int64_t key = db_.HdbCreateKey(database_, parent, name.c_str());
        if (checked_) fuzz::Require(key >= 0, "a key is created");
        if (key < 0) return;
        db_.HdbCloseKey(database_, static_cast<uint32_t>(key));
        // A damaged free list can name a block in use, and nothing in a block tells whose it is.
        if (checked_)
            for (const ModelKey& known : keys_) fuzz::Require(known.id != key, "a new key has an id of its own");
        keys_.push_back({static_cast<uint32_t>(key), parent, name, ""});
    }

    void Rename(Script& script) {
        if (keys_.empty()) return;
        ModelKey& key = keys_[PickKey(script, false)];
        const std::string name = script.Name();
        const int32_t result = db_.HdbRenameKey(database_, key.id, name.c_str());
        db_.HdbCloseKey(database_, key.id);
        if (checked_) fuzz::Require(result == 0, "a key is renamed");
        if (result == 0) key.name = name;
    }

    void Write(Script& script) {
        if (keys_.empty()) return;
        ModelKey& key = keys_[PickKey(script, false)];
        const size_t offset = std::min<size_t>(script.Word16(), key.value.size());
        const size_t length = std::min<size_t>(script.Word16() % (kMaxValue + 1), kMaxValue - offset);
        const uint8_t seed = script.Byte();
        std::string bytes(length, '\0');
        for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(seed + i * 7);
        const bool placed = db_.HdbSeekValue(database_, key.id, static_cast<uint32_t>(offset)) == 0;
        const int32_t written =
            placed ? db_.HdbWriteValue(database_, key.id, bytes.data(), static_cast<uint32_t>(length)) : -1;
        db_.HdbCloseKey(database_, key.id);
        if (checked_) fuzz::Require(written == static_cast<int32_t>(length), "a value is written whole");
        if (written != static_cast<int32_t>(length)) return;
        if (key.value.size() < offset + length) key.value.resize(offset + length);
        key.value.replace(offset, length, bytes);
    }

    void Clear(Script& script) {
        if (keys_.empty()) return;
        ModelKey& key = keys_[PickKey(script, false)];
        const int32_t result = db_.HdbClearValue(database_, key.id);
        db_.HdbCloseKey(database_, key.id);
        if (checked_) fuzz::Require(result == 0, "a value is cleared");
        if (result == 0) key.value.clear();
    }

    void Delete(Script& script) {
        if (keys_.empty()) return;
        const uint32_t id = keys_[PickKey(script, false)].id;
        const int32_t result = db_.HdbDeleteKey(database_, id);
        if (checked_) fuzz::Require(result == 0, "a key is deleted");
        if (result != 0) return;
        // The key goes with everything below it.
        std::vector<uint32_t> gone{id};
        for (bool more = true; more;) {
            more = false;
            for (const ModelKey& key : keys_)
                if (std::find(gone.begin(), gone.end(), key.parent) != gone.end() &&
                    std::find(gone.begin(), gone.end(), key.id) == gone.end()) {
                    gone.push_back(key.id);
                    more = true;
                }
        }
        std::erase_if(keys_, [&](const ModelKey& key) { return std::find(gone.begin(), gone.end(), key.id) != gone.end(); });
    }

    void Find(Script& script) {
        if (keys_.empty()) return;
        const ModelKey& key = keys_[PickKey(script, false)];
        const int64_t found = db_.HdbFindKey(database_, key.parent, key.name.c_str());
        if (found < 0) {
            fuzz::Require(!checked_, "a key is found by its name");
            return;
        }
        // Keys may share a name; the one found must carry it.
        char name[kMaxName + 2] = {};
        const int32_t named = db_.HdbGetKeyName(database_, static_cast<uint32_t>(found), name, sizeof name);
        db_.HdbCloseKey(database_, static_cast<uint32_t>(found));
        if (checked_) fuzz::Require(named >= 0 && key.name == name, "the key found carries the name looked for");
    }

    // Every key of the session as it was written, under its parent, in the order created.
    void CheckModel() {
        if (!checked_) return;
        for (const ModelKey& key : keys_) {
            char name[kMaxName + 2] = {};
            fuzz::Require(db_.HdbGetKeyName(database_, key.id, name, sizeof name) >= 0 && key.name == name,
                          "a reopen reads each key's name as written");
            fuzz::Require(db_.HdbGetParentKey(database_, key.id) == key.parent, "a reopen reads each key's parent");
            fuzz::Require(ReadValue(db_, database_, key.id) == key.value, "a reopen reads each value as written");
            db_.HdbCloseKey(database_, key.id);
        }
        // The sub-keys of a session's key are the session's keys made under it, in their order.
        for (const ModelKey& parent : keys_) {
            std::vector<uint32_t> listed;
            for (int64_t child = db_.HdbFirstSubKey(database_, parent.id); child >= 0 && listed.size() <= keys_.size();
                 child = db_.HdbNextSubKey(database_, parent.id, static_cast<uint32_t>(child)))
                listed.push_back(static_cast<uint32_t>(child));
            std::vector<uint32_t> made;
            for (const ModelKey& key : keys_)
                if (key.parent == parent.id) made.push_back(key.id);
            fuzz::Require(listed == made, "a reopen lists each key's sub-keys as made");
            db_.HdbCloseKey(database_, parent.id);
        }
    }

    FileService& files_;
    DatabaseManager db_;
    std::string path_;
    bool checked_;
    int32_t database_ = -1;
    std::vector<ModelKey> keys_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t scriptLength = std::min<size_t>(data[0] | static_cast<size_t>(data[1]) << 8, size - 2);
    Script script(data + 2, scriptLength);
    fuzz::Scratch& scratch = fuzz::Scratch::Shared();
    const std::string path = scratch.Path("session.hdb");
    const size_t imageSize = size - 2 - scriptLength;
    if (imageSize > 0) scratch.Write("session.hdb", data + 2 + scriptLength, imageSize);
    {
        FileService files;
        // Only a sound file promises anything; on any other the session must merely survive.
        const bool checked = imageSize == 0 || IsSound(files, path);
        Session session(files, path, checked);
        if (session.Open()) {
            session.MakeRoot();
            for (size_t step = 0; step < kMaxSteps && !script.Done(); ++step) session.Step(script);
            session.Reopen();
            session.Close();
        } else {
            fuzz::Require(!checked, "a sound file opens for writing");
        }
        fuzz::Require(OpenDatabaseCount() == 0, "every database is closed again");
        fuzz::Require(OpenFileCount() == 0, "every file is closed again");
    }
    scratch.Clear();
    return 0;
}
