#include "tools/command_line.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "hdb/format.h"
#include "pellucor_version.h"
#include "support/ascii_case.h"
#include "support/result.h"
#include "tools/database_recovery.h"
#include "tools/hdb_dump.h"
#include "tools/hdb_salvage.h"
#include "tools/output_sink.h"
#include "tools/raw_database.h"
#include "tools/structure_report.h"
#include "tools/structure_scan.h"
#include "tools/text_form.h"
#include "tools/tree_walk.h"

using support::Result;
using namespace hdb;

namespace tools {

namespace {

constexpr char kGeneralHelp[] =
    "Usage: hdbtool COMMAND [OPTIONS] FILE...\n"
    "Looks into, checks, repairs and converts database files (.hdb).\n"
    "\n"
    "Commands:\n"
    "  dump FILE                print the key tree, one key a line\n"
    "  verify FILE              check the whole structure, one line per problem\n"
    "  stat FILE                the header's fields and what the file holds\n"
    "  export FILE              write the whole tree as text, to standard output\n"
    "  import TEXT NEWFILE      make a new database from such text\n"
    "  recover FILE             put the mirror in place of a database a writer left open\n"
    "  salvage DAMAGED NEWFILE  copy what can be read of a damaged database into a new one\n"
    "  help [COMMAND]           show this help, or a command's\n"
    "\n"
    "Options:\n"
    "  --json       (dump, stat, verify) write JSON, for scripts\n"
    "  --force      (import, salvage) replace NEWFILE if it exists\n"
    "  -h, --help   show the help of the command given, or this help\n"
    "  --version    show the version\n"
    "  --           end of options: every argument after it is a file name\n"
    "\n"
    "dump, verify, stat and export never change FILE. Errors go to standard error.\n"
    "Exit status: 0 ok; 1 the file is damaged or not a database, or the command failed;\n"
    "2 usage error, or the command cannot run (a file that cannot be opened or read).\n";

constexpr char kHelpHelp[] =
    "Usage: hdbtool help [COMMAND]\n"
    "Shows the commands and options of hdbtool, or with COMMAND that command's help (the same\n"
    "as 'hdbtool COMMAND --help').\n"
    "Exit status: 0, or 2 when COMMAND is not one of hdbtool's commands.\n";

struct Command {
    const char* name;
    size_t operands;
    bool json;
    bool force;
    const char* help;
};

const Command kCommands[] = {
    {"dump", 1, true, false,
     "Usage: hdbtool dump [--json] FILE\n"
     "Prints the key tree of the database FILE from the root down, one key a line, indented by\n"
     "its depth (beyond 64 levels a line says its depth instead). Names are written as in key\n"
     "paths: %HH for '%', '\\', ']' and bytes that are not printable. A value follows its key's\n"
     "name after \" = \": in quotes when every byte is printable, else as its length and hex bytes.\n"
     "With --json the tree is one JSON object, {\"keys\": [{\"name\", \"size\", \"text\" or \"hex\",\n"
     "\"subkeys\": [...]}]}, each key on a line of its own.\n"
     "The file is opened read-only and never changed. A file that a writer left open is listed\n"
     "with a warning.\n"
     "The tree is walked from the root key whatever the header's key count says.\n"
     "Exit status: 0 when the whole tree was printed, 1 when FILE is not a database, a key\n"
     "cannot be read, the header's key count disagrees with the keys printed (a warning says\n"
     "so), or the file holds keys or value bytes that were not printed (a line names each),\n"
     "2 when FILE cannot be opened.\n"},
    {"verify", 1, true, false,
     "Usage: hdbtool verify [--json] FILE\n"
     "Checks the whole structure of the database FILE: every block is in exactly one place (a\n"
     "key's chain, the free list's chain or the free list); chain links agree both ways; stream\n"
     "lengths fit their chains; the header's counts agree with the file; every sub-key entry\n"
     "names a key whose parent field points back, under the right name hash; names and values fit\n"
     "their streams; a file left open by a writer is reported, with whether a mirror lies beside\n"
     "it. Each problem is one line, \"where: what\", where is \"header\", \"free list\", \"block N\"\n"
     "or a key path; a summary line follows. With --json, one JSON object.\n"
     "The file is opened read-only and never changed.\n"
     "Exit status: 0 when sound, 1 when damaged or not a database, 2 when FILE cannot be read.\n"},
    {"stat", 1, true, false,
     "Usage: hdbtool stat [--json] FILE\n"
     "Prints the header's fields of the database FILE and what its structure holds: keys, depth,\n"
     "blocks in use, free and lost, bytes in names and values, the largest sub-key list, whether a\n"
     "mirror lies beside it and how many problems verify would report. One \"name: value\" a line,\n"
     "or with --json one JSON object. Keys and values that a copy of the tree could not hold\n"
     "(as salvage would say) are named on standard error, one a line. The file is never changed.\n"
     "Exit status: 0 when sound, 1 when damaged or not a database, 2 when FILE cannot be read.\n"},
    {"export", 1, false, false,
     "Usage: hdbtool export FILE\n"
     "Writes the whole tree of the database FILE to standard output as text, one key a line:\n"
     "\n"
     "  hdbtool export 1\n"
     "  app-value 1\n"
     "  [User Configuration Root]\n"
     "  [User Configuration Root\\Config]\n"
     "  [User Configuration Root\\Config\\Next Admin ID] = \"00000002\"\n"
     "  [User Configuration Root\\Server Admin List\\00000001\\Password] = hex:12 a2 6c f5 04\n"
     "\n"
     "Keys come in tree order, sub-keys in list order. A key is its path in brackets, names\n"
     "joined by '\\', with %HH for '%', '\\', ']' and bytes outside printable ASCII; then\n"
     "\" attributes A B\" when either attribute word is not 0; then \" = \" and the value unless it\n"
     "is empty: \"text\" (\\\" \\\\ \\t \\r \\n escaped) when every byte is printable, tab, CR or LF,\n"
     "else hex:HH HH ... Lines beginning with # are comments. 'hdbtool import' makes the\n"
     "database back; its export is the same text again.\n"
     "Exit status: 0 when the whole tree was written, 1 when FILE is not a database, a key\n"
     "cannot be read (the rest is written), the header's key count disagrees with the keys\n"
     "written, or the file holds keys or value bytes that were not written (a line names\n"
     "each), 2 when FILE cannot be opened.\n"},
    {"import", 2, false, true,
     "Usage: hdbtool import [--force] TEXT NEWFILE\n"
     "Makes a new database NEWFILE from TEXT, in the form 'hdbtool export' writes ('-' reads\n"
     "standard input). Every key line makes a key, in the order of the lines; a key's parent must\n"
     "stand on an earlier line (a path names the last key so far with that path). NEWFILE is\n"
     "read back once written. An existing NEWFILE is replaced only with --force.\n"
     "Exit status: 0 when NEWFILE was written, 1 when TEXT is not a database text (the line is\n"
     "named) or NEWFILE could not be written (then no NEWFILE is left), 2 when TEXT cannot be\n"
     "read or NEWFILE exists.\n"},
    {"recover", 1, false, false,
     "Usage: hdbtool recover FILE\n"
     "Recovers the database FILE after a writer ended without closing it: when its header says it\n"
     "is open for writing, the mirror beside it (FILE.mirror, the file as it was before that\n"
     "writer opened it) takes its place, and that writer's changes are lost. A database closed\n"
     "cleanly is left alone; one shorter than its 72-byte header is deleted, and a mirror of at\n"
     "least 72 bytes takes its place. A file that a program holds open is not touched.\n"
     "Says what it did.\n"
     "Exit status: 0 when FILE was clean, absent, restored or deleted as too short; 1 when it was\n"
     "left open and no mirror lies beside it, is in use, or could not be replaced.\n"},
    {"salvage", 2, false, true,
     "Usage: hdbtool salvage [--force] DAMAGED NEWFILE\n"
     "Reads the database DAMAGED keeping going past every fault that verify finds, and writes\n"
     "every key it could reach into the new database NEWFILE, in the original order, with as much\n"
     "of each value as can be read. Prints what was lost, by key path: keys that could not be\n"
     "read (with everything below them), intact keys that no readable list reaches (named, not\n"
     "copied) and values cut short; then how many of the keys and value bytes found were\n"
     "written. DAMAGED is never changed. An existing NEWFILE is replaced only with --force.\n"
     "Exit status: 0 when NEWFILE holds every key and value byte found in DAMAGED, 1 when\n"
     "something was lost or cut, DAMAGED is not a database or NEWFILE could not be written\n"
     "(then no NEWFILE is left), 2 when DAMAGED cannot be read or NEWFILE exists.\n"},
};

const Command* FindCommand(const std::string& name) {
    for (const Command& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

struct Invocation {
    std::string command;
    std::vector<std::string> operands;
    bool json = false;
    bool force = false;
    bool help = false;
    bool version = false;
};

class Session {
public:
    Session(OutputSink& out, OutputSink& err) : out_(out), err_(err) {}

    int Run(int argc, const char* const* argv) {
        Invocation inv;
        if (const Result parsed = Parse(argc, argv, inv); !parsed) return Usage(parsed.message());
        if (inv.version) return Print(std::string("hdbtool ") + PELLUCOR_VERSION_TEXT "\n");
        if (inv.command == "help" || (inv.help && inv.command.empty())) {
            if (inv.command.empty() || inv.operands.empty()) return Print(kGeneralHelp);
            if (inv.operands.size() > 1) return Usage("help takes one COMMAND");
            if (inv.operands[0] == "help") return Print(kHelpHelp);
            const Command* c = FindCommand(inv.operands[0]);
            return c ? Print(c->help) : Usage("no command '" + inv.operands[0] + "'");
        }
        if (inv.command.empty()) return Usage("no command given");
        const Command* c = FindCommand(inv.command);
        if (!c) return Usage("no command '" + inv.command + "'");
        if (inv.help) return Print(c->help);
        if (inv.json && !c->json) return Usage("--json is for dump, stat and verify");
        if (inv.force && !c->force) return Usage("--force is for import and salvage");
        if (inv.operands.size() != c->operands)
            return Usage(std::string(c->name) + (c->operands == 1 ? " takes one FILE" : " takes two files"));
        const int status = Dispatch(inv);
        if (!out_.Flush()) {
            Error("", "cannot write the output: " + out_.FailureReason());
            return kExitDamaged;
        }
        return status;
    }

private:
    Result Parse(int argc, const char* const* argv, Invocation& inv) {
        bool options = true;
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (options && arg == "--") {
                options = false;
            } else if (options && (arg == "-h" || arg == "--help")) {
                inv.help = true;
            } else if (options && arg == "--version") {
                inv.version = true;
            } else if (options && arg == "--json") {
                inv.json = true;
            } else if (options && arg == "--force") {
                inv.force = true;
            } else if (options && arg.size() > 1 && arg[0] == '-') {
                return Result::Failed("unknown option '" + arg + "'");
            } else if (inv.command.empty()) {
                inv.command = arg;
            } else {
                inv.operands.push_back(arg);
            }
        }
        return Result::Done();
    }

    int Dispatch(const Invocation& inv) {
        const std::string& cmd = inv.command;
        const std::string& file = inv.operands[0];
        if (cmd == "dump") return Dump(file, inv.json);
        if (cmd == "verify") return Verify(file, inv.json);
        if (cmd == "stat") return Stat(file, inv.json);
        if (cmd == "export") return Export(file);
        if (cmd == "import") return Import(file, inv.operands[1], inv.force);
        if (cmd == "recover") return Recover(file);
        return Salvage(file, inv.operands[1], inv.force);
    }

    int Print(const std::string& text) {
        out_.Write(text);
        if (!out_.Flush()) {
            Error("", "cannot write the output: " + out_.FailureReason());
            return kExitDamaged;
        }
        return kExitOk;
    }

    int Usage(const std::string& message) {
        err_.Write("hdbtool: " + message + "\nTry 'hdbtool --help'.\n");
        return kExitUsage;
    }

    void Error(const std::string& file, const std::string& message) {
        err_.Write("hdbtool: " + (file.empty() ? std::string() : file + ": ") + message + "\n");
    }

    int Fail(int status, const std::string& file, const std::string& message) {
        Error(file, message);
        return status;
    }

    // Opens the file raw and refuses what is not a database; warns about a file left open.
    // kExitOk, or the status to end with.
    int CheckDatabase(RawDatabase& raw, const std::string& file) {
        if (raw.Open(file.c_str()) != 0) return Fail(kExitUsage, file, raw.error());
        if (const std::string why = NotADatabaseReason(raw); !why.empty())
            return Fail(kExitDamaged, file, "not a database: " + why);
        if (const std::string note = LeftOpenNote(files_, raw); !note.empty()) Error(file, "warning: " + note);
        return kExitOk;
    }

    // Opens the file through the engine, read-only, after the raw checks.
    int OpenChecked(const std::string& file, int32_t& database) {
        {
            RawDatabase raw(files_);
            if (const int status = CheckDatabase(raw, file); status != kExitOk) return status;
        }
        database = databases_.OpenDatabase(file.c_str(), ModeReadOnly);
        if (database < 0) return Fail(kExitUsage, file, "cannot be opened as a database");
        return kExitOk;
    }

    // Writes the lines of `report` on standard error, and its count line when what was written
    // does not hold every key and value byte the scan found; true when it does.
    bool ReportLosses(const std::string& file, SalvageReport& report) {
        for (const std::string& line : report.lost) Error(file, "lost: " + line);
        for (const std::string& line : report.cut) Error(file, "cut short: " + line);
        if (report.Whole()) return true;
        Error(file, LossSummary(report));
        return false;
    }

    // After a listing or an export: says where the header's keyCount disagrees with the keys
    // walked, and names every key and value that the raw structure holds but the walk did not
    // write. kExitOk when there was nothing to say.
    int CheckWalked(const std::string& file, const WalkCount& walked) {
        int status = kExitOk;
        RawDatabase raw(files_);
        if (raw.Open(file.c_str()) != 0) return Fail(kExitUsage, file, raw.error());
        const ScanResult scan = ScanStructure(raw, false);
        if (scan.readFailed) return Fail(kExitUsage, file, "cannot be read whole");
        if (scan.header.openForWrite == 0 && scan.header.keyCount != walked.keys) {
            Error(file, "warning: the header's keyCount is " + std::to_string(scan.header.keyCount) + ", but " +
                            std::to_string(walked.keys) + (walked.keys == 1 ? " key was" : " keys were") + " walked");
            status = kExitDamaged;
        }
        SalvageReport report;
        ListLosses(scan, report);
        report.keysWritten = walked.keys;
        report.valueBytesWritten = walked.valueBytes;
        if (!ReportLosses(file, report)) status = kExitDamaged;
        return status;
    }

    int Dump(const std::string& file, bool json) {
        int32_t database = -1;
        if (const int status = OpenChecked(file, database); status != kExitOk) return status;
        WalkCount walked;
        const int32_t result = json ? DumpKeyTreeJson(databases_, database, out_, &walked)
                                    : DumpKeyTree(databases_, database, out_, &walked);
        databases_.CloseDatabase(database);
        if (result < 0 && out_.Flush()) Error(file, "some keys could not be read");
        if (!out_.Flush()) return kExitDamaged;
        const int checked = CheckWalked(file, walked);
        return result < 0 ? kExitDamaged : checked;
    }

    int Export(const std::string& file) {
        int32_t database = -1;
        if (const int status = OpenChecked(file, database); status != kExitOk) return status;
        std::vector<std::string> errors;
        WalkCount walked;
        const int32_t result = ExportTextForm(databases_, database, out_, errors, &walked);
        databases_.CloseDatabase(database);
        for (const std::string& e : errors) Error(file, e);
        if (!out_.Flush()) return kExitDamaged;
        const int checked = CheckWalked(file, walked);
        return result < 0 ? kExitDamaged : checked;
    }

    // Walks the raw structure; `keepGoing` walks a file that is not a database too.
    int Scan(RawDatabase& raw, const std::string& file, bool keepGoing, ScanResult& scan) {
        if (raw.Open(file.c_str()) != 0) return Fail(kExitUsage, file, raw.error());
        scan = ScanStructure(raw, keepGoing);
        if (scan.readFailed) return Fail(kExitUsage, file, "cannot be read whole");
        return kExitOk;
    }

    int Verify(const std::string& file, bool json) {
        RawDatabase raw(files_);
        ScanResult scan;
        if (const int status = Scan(raw, file, false, scan); status != kExitOk) return status;
        WriteVerifyReport(scan, file, json, out_);
        return VerifyExitCode(scan);
    }

    int Stat(const std::string& file, bool json) {
        RawDatabase raw(files_);
        ScanResult scan;
        if (const int status = Scan(raw, file, false, scan); status != kExitOk) return status;
        if (!scan.refusal.empty()) return Fail(kExitDamaged, file, "not a database: " + scan.refusal);
        const std::string mirror = file + kMirrorSuffix;
        WriteStatReport(scan, file, raw.fileSize(), files_.FileExists(mirror.c_str()) == 1 ? mirror : "", json, out_);
        // stat copies nothing: it names what a copy of the tree could not hold.
        SalvageReport report;
        ListLosses(scan, report);
        for (const std::string& line : report.lost) Error(file, "lost: " + line);
        for (const std::string& line : report.cut) Error(file, "cut short: " + line);
        return VerifyExitCode(scan);
    }

    bool SamePath(const std::string& a, const std::string& b) { return support::SameAsciiNoCase(a, b); }

    // Refuses a NEWFILE that exists (unless forced) or that is the input itself.
    int CheckNewFile(const std::string& input, const std::string& target, bool force) {
        if (SamePath(input, target)) return Fail(kExitUsage, target, "is the file being read; give another NEWFILE");
        if (!force && files_.FileExists(target.c_str()) == 1)
            return Fail(kExitUsage, target, "exists; give --force to replace it");
        return kExitOk;
    }

    bool ReadText(const std::string& file, std::string& text) {
        if (file == "-") {
            char buffer[65536];
            for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) text.append(buffer, got);
            return !std::ferror(stdin);
        }
        const int32_t handle = files_.FileOpen(file.c_str(), fileservice::OpenRead);
        if (handle < 0) return false;
        std::vector<char> buffer(1u << 16);
        int32_t got = 0;
        while ((got = files_.FileRead(handle, buffer.data(), static_cast<uint32_t>(buffer.size()))) > 0)
            text.append(buffer.data(), static_cast<size_t>(got));
        files_.FileClose(handle);
        return got == 0;
    }

    int Import(const std::string& textFile, const std::string& target, bool force) {
        if (const int status = CheckNewFile(textFile, target, force); status != kExitOk) return status;
        std::string text;
        if (!ReadText(textFile, text)) return Fail(kExitUsage, textFile, "cannot be read");
        TextForm form;
        if (const Result parsed = form.Parse(text); !parsed) return Fail(kExitDamaged, textFile, parsed.message());
        if (const Result written = WriteNewDatabase(databases_, files_, target.c_str(), form); !written)
            return Fail(kExitDamaged, target, written.message());
        out_.Write(target + ": " + std::to_string(form.count()) + (form.count() == 1 ? " key" : " keys") + " written\n");
        return kExitOk;
    }

    int Recover(const std::string& file) {
        const RecoveryOutcome outcome = RecoverDatabaseWithOutcome(file.c_str());
        const int status = RecoveryExitCode(outcome);
        if (status != kExitOk) return Fail(status, "", DescribeRecovery(outcome, file));
        out_.Write(DescribeRecovery(outcome, file) + "\n");
        return status;
    }

    int Salvage(const std::string& damaged, const std::string& target, bool force) {
        if (const int status = CheckNewFile(damaged, target, force); status != kExitOk) return status;
        RawDatabase raw(files_);
        ScanResult scan;
        if (const int status = Scan(raw, damaged, true, scan); status != kExitOk) return status;
        if (!scan.refusal.empty()) Error(damaged, "warning: not a database: " + scan.refusal + "; what can be read is kept");
        SalvageReport report;
        if (const Result salvaged = SalvageDatabase(databases_, files_, raw, scan, target.c_str(), report); !salvaged)
            return Fail(kExitDamaged, target, salvaged.message());
        std::string text;
        for (const std::string& line : report.lost) text += "lost: " + line + "\n";
        for (const std::string& line : report.cut) text += "cut short: " + line + "\n";
        if (report.Whole())
            text += target + ": " + std::to_string(report.keysWritten) + (report.keysWritten == 1 ? " key" : " keys") +
                    " written";
        else
            text += target + ": " + LossSummary(report);
        if (!scan.problems.empty())
            text += "; " + std::to_string(scan.problems.size()) + (scan.problems.size() == 1 ? " problem in " : " problems in ") + damaged +
                    " ('hdbtool verify' lists them)";
        text += "\n";
        out_.Write(text);
        return report.Whole() && scan.refusal.empty() ? kExitOk : kExitDamaged;
    }

    OutputSink& out_;
    OutputSink& err_;
    fileservice::FileService files_;
    DatabaseManager databases_;
};

}  // namespace

int RunHdbtool(int argc, const char* const* argv, OutputSink& out, OutputSink& err) {
    try {
        Session session(out, err);
        return session.Run(argc, argv);
    } catch (const std::bad_alloc&) {
        err.Write("hdbtool: out of memory\n");
        return kExitUsage;
    }
}

}  // namespace tools
