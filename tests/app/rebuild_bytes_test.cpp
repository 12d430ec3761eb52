// The database a rebuild writes is fixed byte for byte by its inputs: a server reads these files,
// and how fast they are written must never show in them. A repository of 2,000 users made from
// word-processor summaries is rebuilt on a host with a fixed name and fixed addresses, and the
// file is compared with the digest of the file the engine wrote before any speed work.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/local_addresses.h"
#include "app/rebuild_run.h"
#include "app/server_template.h"
#include "app/user_import.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "run_test_support.h"
#include "test_support.h"
#include "user_config_tree.h"

using namespace app;

namespace {

namespace fs = std::filesystem;

const fs::path kData = fs::path(__FILE__).parent_path().parent_path() / "data";

int32_t FixedComputerName(char* buffer, uint32_t size) {
    static const char kName[] = "ORVANE-HOST";
    if (size < sizeof kName) return -1;
    std::memcpy(buffer, kName, sizeof kName);
    return static_cast<int32_t>(sizeof kName - 1);
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// `users` folders 00000002, 00000003, ... whose summaries alternate between the two fixtures,
// each with its own user name. Every 97th folder has no summary, so its status line is an error.
void MakeRepository(const fs::path& root, int users) {
    struct Summary {
        std::string text;
        std::string label;
    } summaries[] = {{ReadText(kData / "pandoc_dave.rtf"), "User Name: dave"},
                     {ReadText(kData / "libreoffice_erin.rtf"), "User Name: erin"}};
    for (const Summary& s : summaries) ASSERT_NE(s.text.find(s.label), std::string::npos);
    for (int i = 0; i < users; ++i) {
        char id[9];
        std::snprintf(id, sizeof id, "%08x", static_cast<unsigned>(i + 2));
        const fs::path folder = root / "users" / id;
        fs::create_directories(folder);
        if (i % 97 == 96) continue;
        const Summary& s = summaries[i % 2];
        std::string text = s.text;
        text.replace(text.find(s.label), s.label.size(), std::string("User Name: user ") + id);
        testing_support::WriteText((folder / "UserSummary.rtf").string(), text);
    }
}

TEST(RebuildBytes, TwoThousandUsersGiveTheRecordedFile) {
    testing_support::ScratchDir repository;
    MakeRepository(repository.path(), 2000);
    SetHostAddressSource(testing_support::StubAddresses);
    SetComputerNameSource(FixedComputerName);
    testing_support::RecordingHost host;
    fileservice::FileService files;
    hdb::DatabaseManager databases;
    const std::string database = (repository.path() / kDatabaseFileName).string();
    {
        // The run's own steps, with the users taken in the order of their names: the order in
        // which a folder lists is the system's and must not decide this file.
        testing_support::SharedRunScope scope{host, files, databases};
        ASSERT_EQ(WriteServerTemplate(databases, files, database.c_str()), 0);
        const int32_t handle = databases.OpenDatabase(database.c_str(), hdb::ModeReadWrite);
        ASSERT_GE(handle, 0);
        for (unsigned id = 2; id < 2002; ++id) {
            char folder[9];
            std::snprintf(folder, sizeof folder, "%08x", id);
            const fs::path summary = repository.path() / "users" / folder / "UserSummary.rtf";
            ImportUser(handle, folder, id, summary.string().c_str());
        }
        EXPECT_EQ(databases.CloseDatabase(handle), 0);
    }
    SetComputerNameSource(nullptr);
    SetHostAddressSource(nullptr);
    EXPECT_EQ(host.lines.size(), 2000u + 2000u / 97);
    EXPECT_EQ(testing_support::Digest(testing_support::ReadBytes(database)),
              "2051072:e9c068ce9dfa0689");
}

}  // namespace
