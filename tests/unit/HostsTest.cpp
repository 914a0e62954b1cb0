#include "common/ScratchFolder.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Stream.h"
#include "update/Hosts.h"

#include <gtest/gtest.h>

using namespace orvex;
using orvex::test::ScratchFolder;

namespace {

const std::string Opening = "#-------- Added by OrvexUpdater --------\r\n";
const std::string Closing = "#-----------------\r\n";
const TStringList Shown{"Applying changes to Hosts", "Hosts file chamged"};

class Hosts : public ::testing::Test {
protected:
    void Edit(const TStringList& entries) {
        EditHosts(entries, scratch.Dir(), [this](const std::string& status) { statuses.push_back(status); });
    }

    ScratchFolder scratch;
    TStringList statuses;
};

}  // namespace

TEST_F(Hosts, CommentsOutConflictsAppendsTheBlockAndLeavesItAloneNextTime) {
    scratch.Write("hosts", "127.0.0.1       localhost\r\n10.0.0.9 login.game.test\r\n");
    const TStringList entries{"10.0.0.1|login.game.test", "10.0.0.2|patch.game.test"};
    Edit(entries);
    const std::string expected = "127.0.0.1       localhost\r\n#10.0.0.9 login.game.test\r\n" + Opening +
                                 "10.0.0.1\tlogin.game.test\r\n10.0.0.2\tpatch.game.test\r\n" + Closing;
    EXPECT_EQ(scratch.Read("hosts"), expected);
    EXPECT_EQ(statuses, Shown);

    Edit(entries);
    EXPECT_EQ(scratch.Read("hosts"), expected);
    EXPECT_EQ(statuses, Shown);  // nothing new shown
}

TEST_F(Hosts, PrefersHostsMsnAndLeavesHostsUntouched) {
    scratch.Write("hosts", "10.0.0.9 login.game.test\n");
    scratch.Write("hosts.msn", "");
    Edit({"10.0.0.1|login.game.test"});
    EXPECT_EQ(scratch.Read("hosts"), "10.0.0.9 login.game.test\n");
    EXPECT_EQ(scratch.Read("hosts.msn"), Opening + "10.0.0.1\tlogin.game.test\r\n" + Closing);
}

TEST_F(Hosts, RewritesTrimmedLinesWithCrLfAndKeepsEmptyOnesAndComments) {
    scratch.Write("hosts", "  # a comment\n\t10.0.0.5 other.test  \n\n#10.0.0.9 login.game.test\nlast");
    Edit({"10.0.0.1|login.game.test"});
    EXPECT_EQ(scratch.Read("hosts"), "# a comment\r\n10.0.0.5 other.test\r\n\r\n#10.0.0.9 login.game.test\r\nlast\r\n" +
                                         Opening + "10.0.0.1\tlogin.game.test\r\n" + Closing);
}

TEST_F(Hosts, TheLastMatchingLineDecides) {
    // Conflict first, right address last: nothing appended, so the comment mark is not saved either.
    const std::string current = "10.0.0.9 login.game.test\n10.0.0.1 login.game.test\n";
    scratch.Write("hosts", current);
    Edit({"10.0.0.1|login.game.test"});
    EXPECT_EQ(scratch.Read("hosts"), current);
    EXPECT_TRUE(statuses.empty());

    // Right address first, conflict last: both commented out and the entry appended.
    scratch.Write("hosts", "10.0.0.1\tlogin.game.test\n10.0.0.9 login.game.test\n");
    Edit({"10.0.0.1|login.game.test"});
    EXPECT_EQ(scratch.Read("hosts"), "10.0.0.1\tlogin.game.test\r\n#10.0.0.9 login.game.test\r\n" + Opening +
                                         "10.0.0.1\tlogin.game.test\r\n" + Closing);
}

TEST_F(Hosts, MatchesHostNamesAsSubstringsAndUsesTheLastTwoFields) {
    scratch.Write("hosts", "10.0.0.9 eu.login.game.test\n");
    Edit({"ignored|10.0.0.1|login.game.test", "10.0.0.3|login.game.test"});
    // Both entries are appended: the block is never searched.
    EXPECT_EQ(scratch.Read("hosts"), "#10.0.0.9 eu.login.game.test\r\n" + Opening +
                                         "10.0.0.1\tlogin.game.test\r\n10.0.0.3\tlogin.game.test\r\n" + Closing);
}

TEST_F(Hosts, AnEmptyFileReceivesEveryEntry) {
    scratch.Write("hosts", "");
    Edit({"10.0.0.1|a.test", "10.0.0.2|b.test"});
    EXPECT_EQ(scratch.Read("hosts"), Opening + "10.0.0.1\ta.test\r\n10.0.0.2\tb.test\r\n" + Closing);
}

TEST_F(Hosts, AnEntryWithoutAddressRaisesBeforeAnythingIsWritten) {
    scratch.Write("hosts", "10.0.0.9 login.game.test\n");
    EXPECT_THROW(Edit({"10.0.0.1|login.game.test", "FAIL"}), EListError);
    EXPECT_THROW(Edit({"10.0.0.1|login.game.test", ""}), EListError);
    EXPECT_EQ(scratch.Read("hosts"), "10.0.0.9 login.game.test\n");
    EXPECT_TRUE(statuses.empty());
}

TEST_F(Hosts, AMissingFileRaisesAndAnEmptyFolderDoesNothing) {
    EXPECT_THROW(Edit({"10.0.0.1|a.test"}), EFOpenError);
    EXPECT_FALSE(scratch.Exists("hosts"));
    EditHosts({"FAIL"}, "", [this](const std::string& status) { statuses.push_back(status); });
    EXPECT_TRUE(statuses.empty());
}

TEST_F(Hosts, AFileThatCannotBeWrittenRaisesAndStaysUnchanged) {
    scratch.Write("hosts", "10.0.0.9 login.game.test\n");
    std::filesystem::permissions(scratch.Path() / "hosts",
                                 std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    if (std::ofstream(scratch.Path() / "hosts", std::ios::app))
        GTEST_SKIP() << "the read-only mark does not stop this user (root)";
    EXPECT_THROW(Edit({"10.0.0.1|login.game.test"}), EStreamError);
    EXPECT_EQ(scratch.Read("hosts"), "10.0.0.9 login.game.test\n");
    EXPECT_TRUE(statuses.empty());
}

TEST_F(Hosts, AFileHeldByAnotherProgramRaisesAndStaysUnchanged) {
    scratch.Write("hosts", "10.0.0.9 login.game.test\n");
    TFileStream holder(scratch.File("hosts"), FileMode::OpenRead);  // shares reading only
    if (std::ofstream(scratch.Path() / "hosts", std::ios::app))
        GTEST_SKIP() << "an open reader does not stop writers on this system";
    EXPECT_THROW(Edit({"10.0.0.1|login.game.test"}), EStreamError);
    EXPECT_EQ(scratch.Read("hosts"), "10.0.0.9 login.game.test\n");
    EXPECT_TRUE(statuses.empty());
}

TEST_F(Hosts, TheFileKeepsItsNewContentWhenTheStatusCannotBeShown) {
    scratch.Write("hosts", "10.0.0.9 login.game.test\n");
    EXPECT_THROW(EditHosts({"10.0.0.1|login.game.test"}, scratch.Dir(),
                           [](const std::string&) { throw Exception("window gone"); }),
                 Exception);
    EXPECT_EQ(scratch.Read("hosts"),
              "#10.0.0.9 login.game.test\r\n" + Opening + "10.0.0.1\tlogin.game.test\r\n" + Closing);
}

TEST(DefaultHostsFolder, NamesAnExistingFolderOfTheSystem) {
    const std::string folder = DefaultHostsFolder();
    EXPECT_TRUE(os::DirectoryExists(folder)) << folder;
    if (test::WindowsPaths())
        EXPECT_EQ(folder.substr(folder.size() - 21), "\\system32\\drivers\\etc");
    else
        EXPECT_EQ(folder, "/etc");
}
