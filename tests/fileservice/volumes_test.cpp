// Volume questions. Windows (and Wine) answers them with its own calls, checked here against
// those calls; where there are no drive letters every question answers "none".
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fileservice/file_service.h"
#include "fileservice/name_compare.h"
#include "platform/volumes.h"

using namespace fileservice;

namespace {

TEST(Volumes, ListVolumesNamesFixedDrivesInLetterOrder) {
    FileService fs;
    VolumeInfo* list = fs.ListVolumes(0, 0);
    std::string drives;
    for (VolumeInfo* v = list; v; v = v->next) {
        drives += v->drive;
        const char root[4] = {v->drive, ':', '\\', '\0'};
        EXPECT_EQ(platform::DriveType(root), platform::kDriveFixed) << root;
        char label[261], fileSystem[261];
        uint32_t serial = 0, flags = 0;
        ASSERT_TRUE(platform::VolumeInformation(root, label, sizeof label, &serial, &flags, fileSystem,
                                                sizeof fileSystem));
        EXPECT_STREQ(v->fileSystemName, fileSystem);
        EXPECT_EQ(v->fileSystemFlags, flags);
        EXPECT_EQ(v->serialNumber, serial);
    }
    FreeVolumeList(list);
    if (!platform::kDriveLetters) {
        EXPECT_TRUE(drives.empty());
        return;
    }
    EXPECT_NE(drives.find('c'), std::string::npos) << drives;
    EXPECT_EQ(drives.find_first_of("ab"), std::string::npos);
    for (size_t i = 1; i < drives.size(); ++i) EXPECT_LT(drives[i - 1], drives[i]) << drives;
    // Every fixed drive the system describes is listed, none more.
    std::string expected;
    for (int bit = 2; bit <= 25; ++bit) {
        if ((platform::LogicalDrives() & (1u << bit)) == 0) continue;
        const char root[4] = {static_cast<char>('a' + bit), ':', '\\', '\0'};
        char label[261], fileSystem[261];
        uint32_t serial = 0, flags = 0;
        if (platform::DriveType(root) == platform::kDriveFixed &&
            platform::VolumeInformation(root, label, sizeof label, &serial, &flags, fileSystem, sizeof fileSystem))
            expected += root[0];
    }
    EXPECT_EQ(drives, expected);
}

// What the volume-information query says of a root: 1 for "ntfs" in any case, 0 otherwise or
// when the query fails.
int32_t NtfsByQuery(const char* root) {
    char label[261], fileSystem[261];
    uint32_t serial = 0, flags = 0;
    if (!platform::VolumeInformation(root, label, sizeof label, &serial, &flags, fileSystem, sizeof fileSystem))
        return 0;
    return SameNameNoCase(fileSystem, "ntfs") ? 1 : 0;
}

// Each path is copied to a block of exactly its size, so that a read past its end is caught.
TEST(Volumes, IsNtfsVolumeAsksTheRootOfEveryShortPath) {
    struct Case {
        const char* path;
        const char* root;  // null: no question is asked
    };
    const Case cases[] = {
        {"", nullptr},
        {"\\", "\\"},
        {"\\\\", "\\\\"},
        {"\\x", "\\x"},
        {"c", "c:\\"},
        {"c:", "c:\\"},
        {"\\\\server\\share\\x", "\\\\server\\share\\"},
    };
    for (const Case& c : cases) {
        const size_t size = std::strlen(c.path) + 1;
        const std::unique_ptr<char[]> exact(new char[size]);
        std::memcpy(exact.get(), c.path, size);
        EXPECT_EQ(IsNtfsVolume(exact.get()), c.root ? NtfsByQuery(c.root) : 0) << '"' << c.path << '"';
    }
}

TEST(Volumes, FileSystemAndNetworkQuestions) {
    FileService fs;
    EXPECT_EQ(fs.IsNetworkDrive("\\\\server\\share\\x"), 0);
    EXPECT_EQ(fs.IsNetworkDrive("relative"), 0);
    EXPECT_EQ(IsNtfsVolume("\\\\nowhere\\share\\x"), 0);
    char name[300] = "";
    EXPECT_EQ(fs.UniversalPath("\\\\server\\share\\x", name, sizeof name), -1);
    EXPECT_STREQ(name, "\\\\server\\share\\x") << "the copy stays";
    char tiny[4] = "abc";
    EXPECT_EQ(fs.UniversalPath("c:\\longer", tiny, sizeof tiny), -1);
    if (!platform::kDriveLetters) {
        EXPECT_EQ(IsNtfsVolume("c:\\"), 0);
        EXPECT_EQ(fs.IsNetworkDrive("c:\\x"), 0);
        EXPECT_EQ(fs.UniversalPath("c:\\x", name, sizeof name), -1);
        EXPECT_EQ(VolumeNameForMountPoint("c:\\", name, sizeof name), 0);
        EXPECT_EQ(DeleteMountPoint("c:\\mnt\\"), 0);
        EXPECT_EQ(SetMountPoint("c:\\mnt\\", "\\\\?\\Volume{x}\\"), 0);
        return;
    }
    char label[261], fileSystem[261];
    uint32_t serial = 0, flags = 0;
    ASSERT_TRUE(platform::VolumeInformation("c:\\", label, sizeof label, &serial, &flags, fileSystem, sizeof fileSystem));
    const int32_t ntfs = SameNameNoCase(fileSystem, "ntfs") ? 1 : 0;
    EXPECT_EQ(IsNtfsVolume("c:\\windows\\system32"), ntfs);
    EXPECT_EQ(IsNtfsVolume("C:"), ntfs);
    EXPECT_EQ(fs.IsNetworkDrive("c:\\windows"), 0) << "a fixed drive";
    // Drive c is no network drive, so it has no universal name; the copy of the path stays.
    EXPECT_EQ(fs.UniversalPath("c:\\windows", name, sizeof name), -1);
    EXPECT_STREQ(name, "c:\\windows");
    char volume[100] = "";
    EXPECT_NE(VolumeNameForMountPoint("c:\\", volume, sizeof volume), 0);
    EXPECT_EQ(std::strncmp(volume, "\\\\?\\Volume{", 11), 0) << volume;
    EXPECT_EQ(DeleteMountPoint("c:\\no such mount point\\"), 0);
}

}  // namespace
