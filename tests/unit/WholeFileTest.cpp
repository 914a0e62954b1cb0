#include "base/Exceptions.h"
#include "base/IniText.h"
#include "base/Profile.h"
#include "base/WholeFile.h"
#include "common/ScratchFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>

using namespace orvex;
using namespace orvex::test;

namespace {

std::set<std::string> Names(const ScratchFolder& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path()))
        names.insert(entry.path().filename().string());
    return names;
}

// False when this user writes read-only files all the same (root on POSIX).
bool ReadOnlyStops(const std::string& file) {
    std::filesystem::permissions(file, std::filesystem::perms::owner_read);
    std::FILE* probe = std::fopen(file.c_str(), "r+");
    if (probe) std::fclose(probe);
    return probe == nullptr;
}

}  // namespace

TEST(WriteFileWhole, LeavesExactlyTheBytesAndNothingBeside) {
    struct Case {
        const char* what;
        std::optional<std::string> before;
        std::string bytes;
    };
    const Case cases[] = {
        {"new file", std::nullopt, "journal\r\n"},
        {"longer", "old", std::string(200000, 'x') + "end"},
        {"shorter", std::string(5000, 'o'), "ab"},
        {"emptied", "old", ""},
        {"any bytes", "old", std::string("\0\r\n\xff\x1a", 5)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder folder;
        if (c.before) folder.Write("state.dat", *c.before);
        WriteFileWhole(folder.File("state.dat"), c.bytes);
        EXPECT_EQ(ReadFileWhole(folder.File("state.dat")), c.bytes);
        EXPECT_EQ(Names(folder), std::set<std::string>{"state.dat"});
    }
}

TEST(WriteFileWhole, ARefusedWriteNamesThePathAndKeepsTheOldFile) {
    struct Case {
        const char* what;
        const char* name;  // in the scratch folder
        bool makeFolder;
        bool readOnly;
    };
    const Case cases[] = {
        {"missing folder", "missing\\state.dat", false, false},
        {"a folder in the way", "state.dat", true, false},
        {"read-only file", "state.dat", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder folder;
        const std::string path = folder.File(c.name);
        if (c.makeFolder) std::filesystem::create_directory(folder.Path() / c.name);
        if (c.readOnly && !ReadOnlyStops(folder.Write(c.name, "old"))) continue;
        const auto before = Names(folder);
        try {
            WriteFileWhole(path, "new");
            ADD_FAILURE() << "write accepted";
        } catch (const EFCreateError& e) {
            const std::string prefix = "Cannot create file \"" + path + "\". ";
            EXPECT_EQ(std::string(e.what()).substr(0, prefix.size()), prefix);
            EXPECT_GT(std::string(e.what()).size(), prefix.size()) << "the system's reason";
        }
        EXPECT_EQ(Names(folder), before);
        if (c.readOnly) {
            EXPECT_EQ(folder.Read(c.name), "old");
        }
        if (c.makeFolder) {
            EXPECT_TRUE(std::filesystem::is_empty(folder.Path() / c.name));
        }
    }
    ScratchFolder folder;
    EXPECT_EQ(ReadFileWhole(folder.File("absent.dat")), std::nullopt);
    EXPECT_EQ(ReadFileWhole(folder.File("absent\\state.dat")), std::nullopt);
    EXPECT_THROW(static_cast<void>(ReadFileWhole(folder.Dir())), EFOpenError);
}

// A settings file the launcher reads while an update run records its revision: every read must find
// a whole file, one of those written, never an empty or cut one.
TEST(WriteProfileString, AReaderDuringManyWritesSeesOnlyWholeFiles) {
    ScratchFolder folder;
    const std::string file = folder.File("_settings.ini");
    const auto settingsAt = [](int revision) {
        return "[main]\r\nUpdatesUrl=http://updates.example/\r\nAtRevision=" + std::to_string(revision) +
               "\r\nUpdateKey=" + std::string(600, 'K') + "\r\n[extra]\r\nKeep=1\r\n";
    };
    WriteWholeFile(folder.Path() / "_settings.ini", settingsAt(0));
    constexpr int Writes = 300;
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        // Revisions of one, two and three digits: a cut or emptied file shows in its size.
        for (int revision = 1; revision <= Writes; ++revision)
            WriteProfileString(file, "main", "AtRevision", std::to_string(revision * 37 % 1000));
        writing = false;
    });
    int reads = 0;
    int wrong = 0;
    while (writing || reads == 0) {
        const auto content = ReadFileWhole(file);
        const auto revision = content ? ini::FindValue(*content, "main", "AtRevision") : std::nullopt;
        const bool whole = revision && !revision->empty() && revision->size() <= 3 &&
                           *content == settingsAt(std::stoi(*revision));
        if (!whole && wrong++ == 0) ADD_FAILURE() << "read " << (content ? "\"" + *content + "\"" : "no file");
        ++reads;
        // Polling, not holding the file open: on Windows nothing replaces a file while it is open.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    writer.join();
    EXPECT_EQ(wrong, 0) << "of " << reads << " reads";
    EXPECT_EQ(ReadProfileString(file, "main", "AtRevision", ""), std::to_string(Writes * 37 % 1000));
    EXPECT_EQ(Names(folder), std::set<std::string>{"_settings.ini"});
}
