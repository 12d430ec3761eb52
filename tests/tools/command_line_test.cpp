#include "tools/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "pellucor_version.h"
#include "tools/key_text.h"
#include "damaged_database.h"
#include "tools_test_support.h"

using namespace tools;

namespace {

using namespace tools_test;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Output that cannot be written, as on a full disk.
class FullSink : public OutputSink {
public:
    bool Write(std::string_view) override { return false; }
    bool Flush() override { return false; }
    std::string FailureReason() const override { return "No space left on device"; }
};

Outcome Hdbtool(const std::vector<std::string>& args, OutputSink* out = nullptr) {
    std::vector<const char*> argv{"hdbtool"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    StringSink text, err;
    const int status = RunHdbtool(static_cast<int>(argv.size()), argv.data(), out ? *out : text, err);
    return {status, text.text(), err.text()};
}

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        DatabaseBuilder b(database);
        const uint32_t root = b.Key(0, "Root");
        b.Key(root, "A", "text");
    }

    ScratchDir scratch;
    std::string database = scratch / "sound.hdb";
};

TEST_F(CommandLineTest, HelpVersionAndUsageErrors) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;  // the output begins with this
        std::string err;  // the messages hold this
    } cases[] = {
        {{"--help"}, 0, "Usage: hdbtool COMMAND [OPTIONS] FILE...\n", ""},
        {{"-h"}, 0, "Usage: hdbtool COMMAND", ""},
        {{"help"}, 0, "Usage: hdbtool COMMAND", ""},
        {{"help", "dump"}, 0, "Usage: hdbtool dump [--json] FILE\n", ""},
        {{"help", "help"}, 0, "Usage: hdbtool help [COMMAND]\n", ""},
        {{"dump", "--help"}, 0, "Usage: hdbtool dump [--json] FILE\n", ""},
        {{"--help", "salvage"}, 0, "Usage: hdbtool salvage [--force] DAMAGED NEWFILE\n", ""},
        {{"verify", "x.hdb", "-h"}, 0, "Usage: hdbtool verify [--json] FILE\n", ""},
        {{"--version"}, 0, "hdbtool " PELLUCOR_VERSION_TEXT "\n", ""},
        {{}, 2, "", "hdbtool: no command given\nTry 'hdbtool --help'.\n"},
        {{"frob"}, 2, "", "hdbtool: no command 'frob'\n"},
        {{"help", "frob"}, 2, "", "hdbtool: no command 'frob'\n"},
        {{"dump"}, 2, "", "hdbtool: dump takes one FILE\n"},
        {{"import", "a.txt"}, 2, "", "hdbtool: import takes two files\n"},
        {{"dump", "--frob", "x.hdb"}, 2, "", "hdbtool: unknown option '--frob'\n"},
        {{"export", "--json", "x.hdb"}, 2, "", "hdbtool: --json is for dump, stat and verify\n"},
        {{"dump", "--force", "x.hdb"}, 2, "", "hdbtool: --force is for import and salvage\n"},
        {{"dump", "--", "--json"}, 2, "", "hdbtool: --json: no such file\n"},
    };
    for (const Case& c : cases) {
        const Outcome o = Hdbtool(c.args);
        const std::string shown = c.args.empty() ? "(none)" : c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : "");
        EXPECT_EQ(o.status, c.status) << shown;
        EXPECT_EQ(o.out.substr(0, c.out.size()), c.out) << shown;
        if (c.out.empty()) {
            EXPECT_EQ(o.out, "") << shown;
        }
        EXPECT_NE(o.err.find(c.err), std::string::npos) << shown << ": " << o.err;
        if (c.err.empty()) {
            EXPECT_EQ(o.err, "") << shown;
        }
    }
}

TEST_F(CommandLineTest, AFileThatIsNotADatabaseIsRefusedWithTheReason) {
    std::vector<uint8_t> unsigned_ = ReadBytes(database);
    unsigned_[0] = 'X';
    struct File {
        const char* name;
        std::vector<uint8_t> bytes;
        std::string reason;
    } files[] = {
        {"zero.hdb", std::vector<uint8_t>(8192, 0), "it holds no database signature (its first 256 bytes are all zero)"},
        {"unsigned.hdb", unsigned_, "it holds no database signature (its first 36 bytes are not"},
        {"empty.hdb", {}, "it is empty"},
    };
    for (const File& f : files) {
        const std::string path = scratch / f.name;
        WriteBytes(path, f.bytes);
        for (const char* command : {"dump", "stat", "export"}) {
            const Outcome o = Hdbtool({command, path});
            EXPECT_EQ(o.status, 1) << command << " " << f.name;
            EXPECT_EQ(o.out, "") << command << " " << f.name;
            EXPECT_EQ(o.err.find("hdbtool: " + path + ": not a database: " + f.reason), 0u) << o.err;
        }
        const Outcome verify = Hdbtool({"verify", path});
        EXPECT_EQ(verify.status, 1);
        EXPECT_EQ(verify.out.find("header: not a database: " + f.reason), 0u) << verify.out;
    }
}

TEST_F(CommandLineTest, AFileLeftOpenIsListedWithAWarningThatNamesTheMirror) {
    std::vector<uint8_t> bytes = ReadBytes(database);
    PutWord(bytes, 68, 1);
    WriteBytes(database, bytes);
    Outcome o = Hdbtool({"dump", database});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "Root\n  A = \"text\"\n");
    EXPECT_EQ(o.err, "hdbtool: " + database + ": warning: left open by a writer (openForWrite is 1): the header's "
                     "counters are stale; no mirror lies beside it\n");
    WriteBytes(database + ".mirror", bytes);
    o = Hdbtool({"export", database});
    EXPECT_NE(o.err.find("its mirror " + database + ".mirror lies beside it ('hdbtool recover' puts it back)"),
              std::string::npos);
    o = Hdbtool({"verify", database});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out.find("header: left open by a writer"), 0u);
    o = Hdbtool({"recover", database});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, database + ": was left open by a writer; restored from " + database + ".mirror\n");
}

TEST_F(CommandLineTest, OutputThatCannotBeWrittenFailsTheCommand) {
    FullSink full;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"dump", database}, {"verify", database}, {"stat", "--json", database}, {"export", database}, {"--help"}}) {
        const Outcome o = Hdbtool(args, &full);
        EXPECT_EQ(o.status, 1) << args[0];
        EXPECT_EQ(o.err, "hdbtool: cannot write the output: No space left on device\n") << args[0];
    }
}

TEST_F(CommandLineTest, ExportImportVerifyAndSalvageThroughTheCommands) {
    const std::string text = scratch / "tree.txt", copy = scratch / "copy.hdb", saved = scratch / "saved.hdb";
    const Outcome exported = Hdbtool({"export", database});
    ASSERT_EQ(exported.status, 0) << exported.err;
    testing_support::WriteText(text, exported.out);
    EXPECT_EQ(Hdbtool({"import", text, copy}).out, copy + ": 2 keys written\n");
    EXPECT_EQ(Hdbtool({"export", copy}).out, exported.out);

    Outcome o = Hdbtool({"import", text, copy});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.err, "hdbtool: " + copy + ": exists; give --force to replace it\n");
    EXPECT_EQ(Hdbtool({"import", "--force", text, copy}).status, 0);

    o = Hdbtool({"verify", "--json", copy});
    EXPECT_EQ(o.status, 0);
    std::string file;
    AppendJsonString(file, copy);
    EXPECT_EQ(o.out.find("{\"file\": " + file + ", \"sound\": true, \"problems\": []"), 0u) << o.out;
    EXPECT_EQ(Hdbtool({"verify", copy}).out, copy + ": sound (2 keys, 3 blocks)\n");

    o = Hdbtool({"stat", "--json", copy});
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("\"keys\": 2, \"depth\": 2,"), std::string::npos) << o.out;

    o = Hdbtool({"salvage", copy, copy});
    EXPECT_EQ(o.status, 2);
    EXPECT_NE(o.err.find("is the file being read"), std::string::npos);
    o = Hdbtool({"salvage", copy, saved});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, saved + ": 2 keys written\n");

    testing_support::WriteText(text, "hdbtool export 1\n[Root]\n[Root\\B\\C]\n");
    o = Hdbtool({"import", "--force", text, copy});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "hdbtool: " + text + ": line 3: the key's parent is not on an earlier line\n");
}

}  // namespace

namespace {

TEST_F(CommandLineTest, SalvageOfWhatIsNotADatabaseWarnsAndFails) {
    const std::string zeros = scratch / "zeros.hdb", target = scratch / "new.hdb";
    WriteBytes(zeros, std::vector<uint8_t>(4096, 0));
    const Outcome o = Hdbtool({"salvage", zeros, target});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "hdbtool: " + zeros + ": warning: not a database: it holds no database signature (its first 256 "
                     "bytes are all zero); what can be read is kept\n");
    EXPECT_EQ(o.out.find(target + ": 0 keys written; "), 0u) << o.out;
    EXPECT_EQ(ExportFile(target), "hdbtool export 1\napp-value 0\n");
}

}  // namespace

namespace {

class DamagedCommandLineTest : public DamagedDatabaseTest {
protected:
    std::string target = scratch / "salvaged.hdb";
};

// What salvage rescues of each damage, and what it and the listings say and end with: the exit
// status is 0 only when what was written holds every key and value byte the scan found, and each
// key lost or cut has a line of its own.
TEST_F(DamagedCommandLineTest, CommandsExitZeroOnlyWhenTheyWroteEverythingTheScanFound) {
    const uint32_t b2 = WordAt(pristine, Entry(bk, 1, 1));
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        int salvageStatus;
        size_t keysRescued;
        std::vector<std::string> lines;  // salvage's output and the listings' messages hold each
        std::string summary;             // salvage's last line, after "NEWFILE: "
        std::string walkWarning;         // the listings' messages hold this
    } cases[] = {
        {"a zeroed keyCount", [](auto& f) { PutWord(f, 56, 0); }, 0, 8, {}, "8 keys written; 1 problem in ",
         "warning: the header's keyCount is 0, but 8 keys were walked"},
        {"a list naming one key twice", [=, this](auto& f) { PutWord(f, Entry(bk, 1, 1), b1); }, 1, 7,
         {"lost: Root\\B\\B2: key in block " + N(b2) + ", which no readable sub-key list names"},
         "7 of 8 keys and 605 of 605 value bytes written", "the header's keyCount is 8, but 7 keys were walked"},
        {"an intact subtree no list reaches",
         [=, this](auto& f) {
             f[Field(root, 14)] = 2;
             std::copy_n(f.begin() + static_cast<std::ptrdiff_t>(Entry(root, 4, 2)), 8,
                         f.begin() + static_cast<std::ptrdiff_t>(Entry(root, 4, 1)));
         },
         1, 4,
         {"lost: Root\\B: key in block " + N(bk) + ", which no readable sub-key list names",
          "lost: Root\\B\\B1: key in block " + N(b1) + ", which no readable sub-key list names",
          "lost: Root\\B\\B2: key in block " + N(b2) + ", which no readable sub-key list names",
          "lost: Root\\B\\B3: key in block " + N(b3) + ", which no readable sub-key list names"},
         "4 of 8 keys and 605 of 605 value bytes written", "the header's keyCount is 8, but 4 keys were walked"},
        {"a value length word larger than the value", [=, this](auto& f) { PutWord(f, Field(c, 20), 600); }, 1, 8,
         {"cut short: Root\\C: kept 4 of its value's 600 bytes"}, "8 of 8 keys and 605 of 1201 value bytes written",
         ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        std::vector<uint8_t> bytes = pristine;
        k.damage(bytes);
        WriteBytes(path, bytes);
        const Outcome salvaged = Hdbtool({"salvage", "--force", path, target});
        EXPECT_EQ(salvaged.status, k.salvageStatus) << salvaged.out << salvaged.err;
        for (const std::string& line : k.lines) EXPECT_NE(salvaged.out.find(line + "\n"), std::string::npos) << salvaged.out;
        EXPECT_NE(salvaged.out.find(target + ": " + k.summary), std::string::npos) << salvaged.out;
        const std::string rescued = ExportFile(target);
        EXPECT_EQ(static_cast<size_t>(std::count(rescued.begin(), rescued.end(), '\n')), 2 + k.keysRescued) << rescued;

        for (const char* command : {"dump", "export", "stat"}) {
            const Outcome o = Hdbtool({command, path});
            EXPECT_EQ(o.status, 1) << command << ": " << o.err;
            for (const std::string& line : k.lines)
                EXPECT_NE(o.err.find("hdbtool: " + path + ": " + line + "\n"), std::string::npos) << command << ": " << o.err;
            if (std::string(command) != "stat") {
                EXPECT_NE(o.err.find(k.walkWarning), std::string::npos) << command << ": " << o.err;
            }
        }
    }
}

// A header whose keyCount is 0 stops neither listing: the tree is there, from the root key.
TEST_F(DamagedCommandLineTest, ListingsWalkTheTreeWhateverTheKeyCountSays) {
    const Outcome intactDump = Hdbtool({"dump", path}), intactExport = Hdbtool({"export", path});
    ASSERT_EQ(intactDump.status, 0) << intactDump.err;
    ASSERT_EQ(intactExport.status, 0) << intactExport.err;
    std::vector<uint8_t> bytes = pristine;
    PutWord(bytes, 56, 0);
    WriteBytes(path, bytes);
    const std::string warning =
        "hdbtool: " + path + ": warning: the header's keyCount is 0, but 8 keys were walked\n";
    Outcome o = Hdbtool({"dump", path});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, intactDump.out);
    EXPECT_EQ(o.err, warning);
    o = Hdbtool({"export", path});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, intactExport.out);
    EXPECT_EQ(o.err, warning);

    // A database that holds no key has no root to walk from, and nothing to warn about.
    const std::string empty = scratch / "empty.hdb";
    DatabaseBuilder(empty).Close();
    o = Hdbtool({"dump", empty});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out + o.err, "");
}

}  // namespace
