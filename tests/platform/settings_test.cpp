// The registry and initialisation-file calls. The shared cases hold on both platforms: under
// Wine they run against the real RegOpenKeyA / RegQueryValueExA and GetPrivateProfileStringA,
// whose answers on the table of files below are the expectations; on POSIX against the saved
// Wine registry and our reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/testing/fault_injection.h"
#include "platform/code_page.h"
#include "platform/settings.h"
#include "platform/testing/settings.h"
#include "test_support.h"

namespace {

using namespace platform;
using testing_support::ScratchDir;
using testing_support::WriteText;

constexpr char kTestKey[] = "SOFTWARE\\Pellucor Tests\\Settings";

// A key of our own for one test: on POSIX in a scratch Wine prefix, on Windows in the real
// registry; deleted again afterwards.
class MachineKeyTest : public testing::Test {
protected:
    void SetUp() override { SelectWinePrefix(prefix.path().string().c_str()); }
    void TearDown() override {
        DeleteMachineKey(kTestKey);
        DeleteMachineKey("SOFTWARE\\Pellucor Tests");
        ClearFaults();
        SelectWinePrefix(nullptr);
    }
    std::string Read(const char* name, uint32_t size = 260) {
        RegistryKey key = OpenMachineKey(kTestKey);
        if (!key) return "<no key>";
        std::string text(size, '\0');
        const bool read = QueryKeyText(key, name, text.data(), size);
        const uint32_t error = LastError();
        CloseKey(key);
        if (!read) return "<error " + std::to_string(error) + ">";
        return text.c_str();
    }

    ScratchDir prefix;
};

TEST_F(MachineKeyTest, WrittenTextIsReadBack) {
    ASSERT_TRUE(WriteMachineKeyText(kTestKey, "UninstallString", "C:\\Apps\\Srv\\uninst.exe"));
    ASSERT_TRUE(WriteMachineKeyText(kTestKey, "", "the default"));
    ASSERT_TRUE(WriteMachineKeyText(kTestKey, "Quoted", "say \"hi\" \\ back"));
    EXPECT_EQ(Read("UninstallString"), "C:\\Apps\\Srv\\uninst.exe");
    EXPECT_EQ(Read("uninstallstring"), "C:\\Apps\\Srv\\uninst.exe");  // names compare without case
    EXPECT_EQ(Read(nullptr), "the default");
    EXPECT_EQ(Read("Quoted"), "say \"hi\" \\ back");
    ASSERT_TRUE(WriteMachineKeyText(kTestKey, "UninstallString", "D:\\Other"));  // replaces
    EXPECT_EQ(Read("UninstallString"), "D:\\Other");
}

TEST_F(MachineKeyTest, MissingKeysAndValuesAndValuesThatDoNotFit) {
    EXPECT_EQ(OpenMachineKey("SOFTWARE\\Pellucor Tests\\No Such Key"), 0);
    EXPECT_EQ(LastError(), kErrorFileNotFound);
    ASSERT_TRUE(WriteMachineKeyText(kTestKey, "Path", "abcd"));
    EXPECT_EQ(Read("Missing"), "<error 2>");
    EXPECT_EQ(Read("Path", 5), "abcd");  // the text and its zero exactly
    EXPECT_EQ(Read("Path", 4), "<error 234>");
}

TEST_F(MachineKeyTest, InjectedFaultsFailTheOpenOrTheRead) {
    ASSERT_TRUE(WriteMachineKeyText(kTestKey, "Path", "x"));
    InjectFault(CallKind::Registry, 1, Fault{kErrorAccessDenied});
    EXPECT_EQ(OpenMachineKey(kTestKey), 0);
    EXPECT_EQ(LastError(), kErrorAccessDenied);
    InjectFault(CallKind::Registry, 2);
    EXPECT_EQ(Read("Path"), "<error 31>");
    EXPECT_EQ(Read("Path"), "x");
}

// Initialisation files: each case is its own file, so that a reader that keeps files cached
// (Wine's does, by modification time) never sees an earlier case's content.
TEST(ProfileString, ReadsAsGetPrivateProfileStringA) {
    static const char kUtf16[] = "\xFF\xFE[\0R\0e\0p\0o\0]\0\n\0P\0a\0t\0h\0=\0x\0\n\0";
    struct Case {
        std::string content;
        const char* section;
        const char* key;
        const char* expected;  // with the default "dflt"
    };
    const Case cases[] = {
        {"[Repository]\r\nPath=E:\\Store\\\r\n", "Repository", "Path", "E:\\Store\\"},
        {"[rePOSitory]\npATH=x\n", "Repository", "Path", "x"},
        {"[Repository]\n   Path   =   x y  \n", "Repository", "Path", "x y"},
        {"[Repository]\n\tPath\t=\tx y\t\x1a\n", "Repository", "Path", "x y"},
        {"[Repository]\nPath=\"x y\"\n", "Repository", "Path", "x y"},
        {"[Repository]\nPath='x y'\n", "Repository", "Path", "x y"},
        {"[Repository]\nPath= \" x \" \n", "Repository", "Path", " x "},
        {"[Repository]\nPath=\"x y\n", "Repository", "Path", "\"x y"},
        {"[Repository]\nPath=\"x'\n", "Repository", "Path", "\"x'"},
        {"[Repository]\nPath=\"\n", "Repository", "Path", "\""},
        {"[Repository]\nPath=\"\"\n", "Repository", "Path", ""},
        {"[Repository]\nPath=\"x\"y\"\n", "Repository", "Path", "x\"y"},
        {"[Repository]\nPath=one\nPath=two\n", "Repository", "Path", "one"},
        {"[Repository]\nPath=one\n[Repository]\nPath=two\n", "Repository", "Path", "one"},
        {"[Repository]\nOther=1\n[Repository]\nPath=two\n", "Repository", "Path", "dflt"},  // first section only
        {"[REPOSITORY]\nPath=one\n[Repository]\nPath=two\n", "Repository", "Path", "one"},
        {"[Repository]\n;Path=x\n", "Repository", "Path", "dflt"},
        {"[Repository]\n  ;Path=x\nPath=y\n", "Repository", "Path", "y"},
        {"[Repository]\n;x=1\n", "Repository", ";x", "1"},  // a ';' line is a key like any other
        {"[Repository]\nPath=x ; note\n", "Repository", "Path", "x ; note"},
        {"[ Repository ]\nPath=x\n", "Repository", "Path", "x"},
        {"  [Repository] junk\nPath=x\n", "Repository", "Path", "x"},
        {"[Repo]sitory]\nPath=x\n", "Repo]sitory", "Path", "x"},
        {"[Repository\nPath=x\n", "Repository", "Path", "dflt"},
        {"[Repository]\nPath\n", "Repository", "Path", "dflt"},  // a key without a value
        {"[Repository]\nPath=\n", "Repository", "Path", ""},
        {"[Repository]\nPath==a=b\n", "Repository", "Path", "=a=b"},
        {"[Repository]\nPa th = x\n", "Repository", "Pa th", "x"},
        {"Path=x\n[Repository]\n", "Repository", "Path", "dflt"},
        {"[Other]\nPath=x\n", "Repository", "Path", "dflt"},
        {"[Repository]\rPath=x\r", "Repository", "Path", "x"},
        {"\xEF\xBB\xBF[Repository]\nPath=x\n", "Repository", "Path", "x"},
        {"[Repository]\n\n   \nPath=x\r\n", "Repository", "Path", "x"},
        {std::string(kUtf16, sizeof kUtf16 - 1), "Repo", "Path", "x"},
    };
    ScratchDir dir;
    int serial = 0;
    for (const Case& c : cases) {
        const std::string file = dir / ("case" + std::to_string(serial++) + ".ini");
        WriteText(file, c.content);
        char out[260];
        const uint32_t length = ReadProfileString(c.section, c.key, "dflt", out, sizeof out, file.c_str());
        EXPECT_STREQ(out, c.expected) << "case " << serial - 1;
        EXPECT_EQ(length, std::string(c.expected).size()) << "case " << serial - 1;
    }
}

// Without a byte-order mark the file is in the ANSI code page, as a Windows server writes it: the
// value reaches the program as that system's narrow text (ANSI on Windows, UTF-8 on POSIX), so
// that both builds name the same folder.
TEST(ProfileString, TextWithoutAByteOrderMarkIsInTheAnsiCodePage) {
#ifdef _WIN32
    const std::string store = "E:\\St\xF6re";
#else
    const std::string store = "E:\\St\xC3\xB6re";
#endif
    if (platform::ActiveCodePage() != 1252) GTEST_SKIP() << "the code page in force is " << platform::ActiveCodePage();
    const std::string contents[] = {"[Repository]\r\nPath=E:\\St\xF6re\r\n",
                                    "\xEF\xBB\xBF[Repository]\r\nPath=E:\\St\xC3\xB6re\r\n"};
    ScratchDir dir;
    for (const std::string& content : contents) {
        const std::string file = dir / "RepositoryConfig.ini";
        WriteText(file, content);
        char out[260];
        EXPECT_EQ(ReadProfileString("Repository", "Path", "dflt", out, sizeof out, file.c_str()), store.size());
        EXPECT_EQ(std::string(out), store);
    }
}

TEST(ProfileString, DefaultsLongValuesAndMissingFiles) {
    ScratchDir dir;
    const std::string file = dir / "defaults.ini";
    WriteText(file, "[Repository]\nPath=" + std::string(300, 'a') + "\n");
    char out[260];
    EXPECT_EQ(ReadProfileString("Repository", "Path", "dflt", out, sizeof out, file.c_str()), 259u);
    EXPECT_EQ(std::string(out), std::string(259, 'a'));

    struct Case {
        const char* defaultText;
        const char* expected;
    };
    const Case defaults[] = {
        {"dflt   ", "dflt"}, {"  dflt", "  dflt"}, {"'q'", "q"}, {"\"a", "\"a"}, {"\"a\"  ", "a"}, {"", ""},
        {nullptr, ""},
    };
    const std::string missing = dir / "missing.ini";
    for (const Case& c : defaults) {
        EXPECT_EQ(ReadProfileString("Repository", "Other", c.defaultText, out, sizeof out, file.c_str()),
                  std::string(c.expected).size());
        EXPECT_STREQ(out, c.expected);
        ReadProfileString("Repository", "Path", c.defaultText, out, sizeof out, missing.c_str());
        EXPECT_STREQ(out, c.expected);
    }
    std::filesystem::create_directory(dir / "folder.ini");
    ReadProfileString("Repository", "Path", "dflt", out, sizeof out, (dir / "folder.ini").c_str());
    EXPECT_STREQ(out, "dflt");
}

TEST(ProfileString, AFaultGivesTheDefault) {
    ScratchDir dir;
    const std::string file = dir / "fault.ini";
    WriteText(file, "[Repository]\nPath=x\n");
    char out[16];
    InjectFault(CallKind::Profile, 1);
    EXPECT_EQ(ReadProfileString("Repository", "Path", "dflt  ", out, sizeof out, file.c_str()), 4u);
    EXPECT_STREQ(out, "dflt");
    EXPECT_EQ(ReadProfileString("Repository", "Path", "dflt", out, sizeof out, file.c_str()), 1u);
    EXPECT_STREQ(out, "x");
    ClearFaults();
}

#ifndef _WIN32

// A scratch Wine prefix: its drive links and a copy of a registry file that Wine itself saved.
class WinePrefixTest : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(prefix.path() / "dosdevices");
        std::filesystem::create_directories(prefix.path() / "drive_c" / "Program Files" / "Vendor");
        std::filesystem::create_directory_symlink("../drive_c", prefix.path() / "dosdevices" / "c:");
        std::filesystem::create_directory_symlink("/", prefix.path() / "dosdevices" / "z:");
        std::filesystem::copy_file(std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "wine_system.reg",
                                   prefix.path() / "system.reg");
        SelectWinePrefix(prefix.path().string().c_str());
    }
    void TearDown() override { SelectWinePrefix(nullptr); }

    std::string Read(const char* subKey, const char* name) {
        RegistryKey key = OpenMachineKey(subKey);
        if (!key) return "<no key>";
        char text[260];
        const bool read = QueryKeyText(key, name, text, sizeof text);
        const uint32_t error = LastError();
        CloseKey(key);
        return read ? std::string(text) : "<error " + std::to_string(error) + ">";
    }

    ScratchDir prefix;
};

TEST_F(WinePrefixTest, ReadsWhatWineSaved) {
    constexpr char kValues[] = "SOFTWARE\\Pellucor Test\\Values";
    struct Case {
        const char* name;
        std::string expected;
    };
    const Case cases[] = {
        {"Plain", "C:\\Apps\\Srv\\uninst.exe"},
        {"QUOTED", "say \"hi\" \\ back"},
        {"Accented", "C:\\Caf\xC3\xA9\\na\xC3\xAFve 1"},  // host texts are UTF-8
        {"Expand", "%ProgramFiles%\\Srv"},                 // not expanded
        {"Empty", ""},
        {"", "default value"},
        {"Tab\tand line", "a\tb"},
        {"Long", std::string(259, 'x')},  // 259 characters and the zero fill 260 bytes
        {"TooLong", "<error 234>"},
        {"Number", "<error 13>"},
        {"Binary", "<error 13>"},
        {"Missing", "<error 2>"},
    };
    for (const Case& c : cases) EXPECT_EQ(Read(kValues, c.name), c.expected) << c.name;
}

TEST_F(WinePrefixTest, ThirtyTwoBitViewLinksAndKeysWithoutValues) {
    EXPECT_EQ(Read("software\\pellucor test\\values\\SUB KEY", "inner"), "inner");
    EXPECT_EQ(Read("SOFTWARE\\Classes\\Pellucor.Test", "Linked"), "through the link");
    EXPECT_EQ(Read("SOFTWARE\\Pellucor Test\\Sixty Four", "Plain"), "<no key>");  // the 64-bit view only
    const RegistryKey parent = OpenMachineKey("SOFTWARE\\Pellucor Test");  // saved only through its sub-keys
    EXPECT_NE(parent, 0);
    CloseKey(parent);
}

TEST_F(WinePrefixTest, WritesAndDeletesInTheSavedFile) {
    constexpr char kValues[] = "SOFTWARE\\Pellucor Test\\Values";
    ASSERT_TRUE(WriteMachineKeyText(kValues, "Plain", "D:\\New \"one\""));
    ASSERT_TRUE(WriteMachineKeyText(kValues, "Added", "caf\xC3\xA9"));
    EXPECT_EQ(Read(kValues, "Plain"), "D:\\New \"one\"");
    EXPECT_EQ(Read(kValues, "Added"), "caf\xC3\xA9");
    EXPECT_EQ(Read(kValues, "Quoted"), "say \"hi\" \\ back");  // its neighbours stay
    EXPECT_FALSE(DeleteMachineKey(kValues));                     // it has a sub-key
    ASSERT_TRUE(DeleteMachineKey("SOFTWARE\\Pellucor Test\\Values\\Sub Key"));
    EXPECT_EQ(Read("SOFTWARE\\Pellucor Test\\Values\\Sub Key", "Inner"), "<no key>");
    EXPECT_EQ(Read("SOFTWARE\\Classes\\Pellucor.Test", "Linked"), "through the link");
}

TEST_F(WinePrefixTest, NoRegistryFileIsNoKey) {
    std::filesystem::remove(prefix.path() / "system.reg");
    EXPECT_EQ(OpenMachineKey("SOFTWARE\\Pellucor Test\\Values"), 0);
    EXPECT_EQ(LastError(), kErrorFileNotFound);
}

TEST_F(WinePrefixTest, HostPathsThroughTheDriveLinks) {
    const std::string drive = std::filesystem::canonical(prefix.path() / "drive_c").string();
    struct Case {
        const char* windows;
        std::string host;
    };
    const Case cases[] = {
        {"C:\\Program Files\\Vendor\\data", drive + "/Program Files/Vendor/data"},
        {"c:\\PROGRAM FILES\\vendor\\Data\\", drive + "/Program Files/Vendor/Data"},  // case from the disk
        {"C:\\", drive},
        {"C:/Program Files", drive + "/Program Files"},
        {"Z:\\", "/"},
        {"Q:\\Store", "Q:\\Store"},  // no such drive
        {"relative\\folder", "relative/folder"},
    };
    for (const Case& c : cases) EXPECT_EQ(HostPath(c.windows), c.host) << c.windows;
}

// Drive paths take their case by the rule every name call uses: the volume's upper-case table
// (accented letters too), the name as written first, else the first case-free match listed.
TEST_F(WinePrefixTest, HostPathsMatchNamesAsEveryNameCallDoes) {
    const std::filesystem::path drive = std::filesystem::canonical(prefix.path() / "drive_c");
    std::filesystem::create_directories(drive / "Donn\xC3\xA9" "es");
    std::filesystem::create_directories(drive / "DATA");
    std::filesystem::create_directories(drive / "Data");
    struct Case {
        const char* windows;
        std::string host;
    };
    const Case cases[] = {
        {"C:\\DONN\xC3\x89" "ES\\x", drive.string() + "/Donn\xC3\xA9" "es/x"},
        {"C:\\Data", drive.string() + "/Data"},  // as written
        {"C:\\data", drive.string() + "/DATA"},  // listed first
    };
    for (const Case& c : cases) EXPECT_EQ(HostPath(c.windows), c.host) << c.windows;
}

TEST_F(WinePrefixTest, AProfileFileNamedWithoutAFolderIsInTheWindowsFolder) {
    std::filesystem::create_directories(prefix.path() / "drive_c" / "windows");
    WriteText((prefix.path() / "drive_c" / "windows" / "pellucor.ini").string(), "[Repository]\nPath=here\n");
    char out[16];
    ReadProfileString("Repository", "Path", "dflt", out, sizeof out, "pellucor.ini");
    EXPECT_STREQ(out, "here");
    ReadProfileString("Repository", "Path", "dflt", out, sizeof out, "C:\\Program Files\\pellucor.ini");
    EXPECT_STREQ(out, "dflt");
}

#endif

}  // namespace
