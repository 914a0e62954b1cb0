#include "common/ScratchFolder.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Stream.h"
#include "base/TempFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace orvex;
using namespace orvex::test;

namespace {

std::vector<std::string> Names(const ScratchFolder& folder) {
    std::vector<os::TFolderEntry> entries;
    EXPECT_TRUE(os::ListFolder(folder.Dir(), entries));
    std::vector<std::string> names;
    for (const auto& entry : entries) names.push_back(entry.Name);
    std::sort(names.begin(), names.end());
    return names;
}

void WriteText(const std::string& fileName, const std::string& text) {
    TFileStream stream(fileName, FileMode::Create);
    stream.WriteBuffer(text.data(), text.size());
}

}  // namespace

TEST(TempFile, TakesTheTargetsPlaceOnlyWhenCommittedAndGoesOtherwise) {
    struct Case {
        const char* what;
        bool targetBefore;
        bool commit;
        std::vector<std::string> namesAfter;
        const char* contentAfter;
    };
    const Case cases[] = {
        {"new target", false, true, {"a.dat"}, "new"},
        {"replaced target", true, true, {"a.dat"}, "new"},
        {"abandoned over a target", true, false, {"a.dat"}, "old"},
        {"abandoned without a target", false, false, {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder folder;
        if (c.targetBefore) folder.Write("a.dat", "old");
        {
            TTempFile temp(folder.File("a.dat"));
            WriteText(temp.Name(), "new");
            EXPECT_EQ(Names(folder).size(), c.targetBefore ? 2u : 1u) << "beside the target";
            EXPECT_EQ(folder.Exists("a.dat") ? folder.Read("a.dat") : "", c.targetBefore ? "old" : "") << "target untouched until the commit";
            if (c.commit) {
                EXPECT_TRUE(temp.Commit());
            }
        }
        EXPECT_EQ(Names(folder), c.namesAfter);
        EXPECT_EQ(folder.Exists("a.dat") ? folder.Read("a.dat") : "", c.contentAfter);
    }
}

TEST(TempFile, ACommitTheTargetRefusesLeavesItAndRaisesForTheTarget) {
    ScratchFolder folder;
    // A folder with content cannot be replaced by a file on any system.
    ASSERT_TRUE(os::ForceDirectories(folder.File("busy\\inside")));
    const std::string target = folder.File("busy");
    {
        TTempFile temp(target);
        WriteText(temp.Name(), "new");
        EXPECT_FALSE(temp.Commit());
        try {
            temp.CommitOrRaise();
            ADD_FAILURE() << "a refused commit passed";
        } catch (const EFCreateError& e) {
            const std::string prefix = "Cannot create file \"" + target + "\". ";
            EXPECT_EQ(std::string(e.what()).substr(0, prefix.size()), prefix);
            EXPECT_GT(std::string(e.what()).size(), prefix.size()) << "with the system's reason";
        }
    }
    EXPECT_EQ(Names(folder), std::vector<std::string>{"busy"});
    EXPECT_TRUE(os::DirectoryExists(folder.File("busy\\inside")));
}

#ifndef _WIN32
// A self-updated program must stay runnable and a read-only file read-only, whatever the umask.
TEST(TempFile, AReplacedFileKeepsItsPermissionsAndANewOneTheDefault) {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    struct Case {
        int before;  // -1: no target
        int after;
    };
    const Case cases[] = {{0755, 0755}, {0444, 0444}, {0600, 0600}, {-1, 0666 & ~static_cast<int>(mask)}};
    for (const Case& c : cases) {
        ScratchFolder folder;
        const std::string target = folder.File("program");
        if (c.before >= 0) {
            folder.Write("program", "old");
            ASSERT_EQ(::chmod(folder.OsFile("program").c_str(), static_cast<mode_t>(c.before)), 0);
        }
        TTempFile temp(target);
        WriteText(temp.Name(), "new");
        ASSERT_TRUE(temp.Commit()) << c.before;
        struct stat st {};
        ASSERT_EQ(::stat(folder.OsFile("program").c_str(), &st), 0);
        EXPECT_EQ(static_cast<int>(st.st_mode & 0777), c.after) << std::oct << c.before;
        EXPECT_EQ(folder.Read("program"), "new");
    }
}
#endif
