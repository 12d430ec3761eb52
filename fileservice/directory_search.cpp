// Directory searches through a process-wide table of slots. The system reads each entry
// straight into its slot's record, and the accessors hand out pointers into it, so a search
// allocates nothing here.
#include <atomic>
#include <cstring>

#include "fileservice/file_service.h"
#include "platform/platform.h"
#include "support/date_time_converter.h"
#include "support/spin_lock.h"

namespace fileservice {

namespace {

struct SearchSlot {
    volatile int32_t inUse;                    // 1 from SearchOpen until SearchClose
    std::atomic<platform::FindHandle> handle;  // 0 when no system search is open
    platform::FindData entry;                  // the entry the slot stands on
};

SearchSlot g_searches[kSearchTableSize];
support::SpinLockWord g_searchTableLock = 0;

bool IsDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

// The slot's entry with everything the system tells of it. A search hands out names first, and
// a walk that asks only for names and folders (the rebuild's, over thousands of users) then
// costs the system no call per entry to describe it.
const platform::FindData& Described(int32_t slot) {
    SearchSlot& s = g_searches[slot];
    platform::FindDescribe(s.handle.load(), &s.entry);
    return s.entry;
}

int32_t ClaimSlot() {
    support::AcquireSpinLock(&g_searchTableLock);
    for (int32_t slot = 0; slot < kSearchTableSize; ++slot) {
        if (platform::AtomicLoad(&g_searches[slot].inUse) != 0) continue;
        platform::AtomicStore(&g_searches[slot].inUse, 1);
        support::ReleaseSpinLock(&g_searchTableLock);
        return slot;
    }
    support::ReleaseSpinLock(&g_searchTableLock);
    return -1;
}

// The handle goes before the in-use flag, so the slot is not handed out while it is closing.
void FreeSlot(SearchSlot& s) {
    s.handle.store(0);
    platform::AtomicStore(&s.inUse, 0);
}

}  // namespace

int32_t FileService::SearchOpen(const char* pattern) {
    const int32_t slot = ClaimSlot();
    if (slot < 0) {
        platform::SetLastError(platform::kErrorTooManyOpenFiles);  // so a caller can say why
        return -1;
    }
    SearchSlot& s = g_searches[slot];
    const platform::FindHandle search = platform::FindFirst(pattern, &s.entry, platform::FindFill::NameFirst);
    if (!search) {
        FreeSlot(s);
        return -1;
    }
    s.handle.store(search);
    while (IsDotEntry(s.entry.name)) {
        if (!platform::FindNext(search, &s.entry)) {
            platform::FindClose(search);
            FreeSlot(s);
            return -1;
        }
    }
    return slot;
}

int32_t FileService::SearchNext(int32_t slot) {
    SearchSlot& s = g_searches[slot];
    do {
        if (!platform::FindNext(s.handle.load(), &s.entry))
            return platform::LastError() == platform::kErrorNoMoreFiles ? -1 : kSearchFailed;
    } while (IsDotEntry(s.entry.name));
    return 0;
}

void FileService::SearchClose(int32_t slot) {
    SearchSlot& s = g_searches[slot];
    platform::FindClose(s.handle.load());
    FreeSlot(s);
}

const char* FileService::SearchName(int32_t slot) {
    const platform::FindData& e = g_searches[slot].entry;
    // A long name the system could not show in the code page comes as question marks; the
    // short name is then the one that can be opened.
    if (e.name[0] == '?' && e.name[1] == '?' && e.shortName[0] != '\0') return e.shortName;
    return e.name;
}

const char* FileService::SearchShortName(int32_t slot) { return g_searches[slot].entry.shortName; }

int32_t FileService::SearchIsFolder(int32_t slot) {
    return (g_searches[slot].entry.attributes & platform::kAttributeDirectory) != 0 ? 1 : 0;
}

uint32_t FileService::SearchAttributes(int32_t slot) { return Described(slot).attributes; }

uint32_t FileService::SearchTimes(int32_t slot, uint64_t* creationOut, uint64_t* accessOut, uint64_t* writeOut) {
    const platform::FindData& e = Described(slot);
    if (creationOut) *creationOut = e.creationTime;
    if (accessOut) *accessOut = e.lastAccessTime;
    if (writeOut) *writeOut = e.lastWriteTime;
    return e.attributes;
}

uint32_t FileService::SearchSize(int32_t slot, uint32_t* highOut) {
    const uint64_t size = Described(slot).size;
    if (highOut) *highOut = static_cast<uint32_t>(size >> 32);
    return static_cast<uint32_t>(size);
}

uint32_t FileService::SearchWriteTime(int32_t slot) {
    return support::DateTimeConverter{}.FileTimeToPacked(Described(slot).lastWriteTime);
}

namespace {

// The first entry matching `name`, its search closed at once. False when nothing matches.
bool FindFirstEntry(const char* name, platform::FindData* data) {
    const platform::FindHandle search = platform::FindFirst(name, data);
    if (!search) return false;
    platform::FindClose(search);
    return true;
}

}  // namespace

uint32_t FileService::FileWriteTime(const char* name) {
    platform::FindData data;
    if (!FindFirstEntry(name, &data)) return 0;
    return support::DateTimeConverter{}.FileTimeToPacked(data.lastWriteTime);
}

uint32_t FileService::FileSize(const char* name, uint32_t* highOut) {
    if (highOut) *highOut = 0;
    platform::FindData data;
    if (!FindFirstEntry(name, &data)) return 0;
    if (highOut) *highOut = static_cast<uint32_t>(data.size >> 32);
    return static_cast<uint32_t>(data.size);
}

int32_t FileService::FileSize64(const char* name, uint64_t* sizeOut) {
    if (sizeOut) *sizeOut = 0;
    platform::FindData data;
    if (FindFirstEntry(name, &data) && sizeOut) *sizeOut = data.size;
    return 0;
}

int32_t SearchSlotCount() {
    int32_t count = 0;
    for (const SearchSlot& s : g_searches)
        if (platform::AtomicLoad(&s.inUse) != 0) ++count;
    return count;
}

}  // namespace fileservice
