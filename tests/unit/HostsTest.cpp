#include "common/ScratchFolder.h"

#include "base/Exceptions.h"
#include "base/Os.h"
#include "base/Stream.h"
#include "update/HostEntry.h"
#include "update/Hosts.h"

#include <gtest/gtest.h>

using namespace orvex;
using orvex::test::ScratchFolder;

namespace {

const std::string Opening = "#-------- Added by OrvexUpdater --------\r\n";
const std::string Closing = "#-----------------\r\n";
const TStringList Shown{"Applying changes to Hosts", "Hosts file chamged"};

std::string Lf(std::string text) {
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
    return text;
}

class Hosts : public ::testing::Test {
protected:
    void Edit(const TStringList& entries) {
        EditHosts(entries, HostsFileIn(scratch.Dir()), [this](const std::string& status) { statuses.push_back(status); });
    }

    ScratchFolder scratch;
    TStringList statuses;
};

}  // namespace

TEST(HostEntry, OnlyAnAddressAndAHostNameOfValidSyntaxAreTaken) {
    const std::string long63(63, 'a');
    const std::string name253 = long63 + "." + long63 + "." + long63 + "." + std::string(61, 'b');
    const struct {
        std::string Entry;
        bool Taken;
    } cases[] = {
        {"10.0.0.1|login.game.test", true},
        {"ignored|10.0.0.1|Login-2.Game.TEST", true},  // fields counted from the end
        {"255.255.255.255|a", true},
        {"::1|a.test", true},
        {"2001:DB8::8:800:200C:417A|a.test", true},
        {"1:2:3:4:5:6:7:8|a.test", true},
        {"1:2:3:4:5:6:7::|a.test", true},
        {"::ffff:192.0.2.1|a.test", true},
        {"10.0.0.1|" + name253, true},
        {"10.0.0.1|" + name253 + "b", false},  // 254 characters
        {"10.0.0.1|" + long63 + "a.test", false},  // a label of 64
        {"256.0.0.1|a.test", false},
        {"10.0.0|a.test", false},
        {"10.0.0.01|a.test", false},
        {"1:2:3:4:5:6:7:8:9|a.test", false},
        {"1::2::3|a.test", false},
        {"12345::|a.test", false},
        {"::ffff:192.0.2|a.test", false},
        {"fe80::1%eth0|a.test", false},
        {"login.game.test|10.0.0.1", false},
        {"10.0.0.1|login game.test", false},
        {"10.0.0.1|login.game.test #x", false},
        {"10.0.0.1|login.game.test|", false},  // something after the name
        {"10.0.0.1|under_score.test", false},
        {"10.0.0.1|-a.test", false},
        {"10.0.0.1|a..test", false},
        {"10.0.0.1|a.test.", false},
        {"10.0.0.1|", false},
        {"10.0.0.1", false},
        {"", false},
        // This machine's own names are never redirected.
        {"10.0.0.1|localhost", false},
        {"10.0.0.1|LocalHost.LocalDomain", false},
        {"::1|ip6-localhost", false},
        {"10.0.0.1|ip6-loopback", false},
        {"10.0.0.1|localhost6.localdomain6", false},
        {"10.0.0.1|game.localhost", false},
        {"10.0.0.1|localhost.game.test", true},
    };
    for (const auto& c : cases) {
        if (c.Taken) EXPECT_NO_THROW(static_cast<void>(ParseHostEntry(c.Entry))) << c.Entry;
        else EXPECT_THROW(static_cast<void>(ParseHostEntry(c.Entry)), EListError) << c.Entry;
    }
}

TEST_F(Hosts, ALineMatchesByWholeNamesOrNamesUnderTheEntryInAnyLetterCase) {
    const struct {
        std::string Before, After;
    } cases[] = {
        // Entry "login.game.test" at 10.0.0.1; "+" below stands for the appended block.
        {"10.0.0.9 login.game.test\n", "#10.0.0.9 login.game.test\n+"},
        {"10.0.0.9 a.test LOGIN.Game.Test # old\n", "#10.0.0.9 a.test LOGIN.Game.Test # old\n+"},
        {"\t10.0.0.9 eu.login.game.test \n", "#10.0.0.9 eu.login.game.test\n+"},
        {"10.0.0.9 xlogin.game.test game.test login.game.test.org\n",
         "10.0.0.9 xlogin.game.test game.test login.game.test.org\n+"},
        {"10.0.0.9 other.test # login.game.test\n", "10.0.0.9 other.test # login.game.test\n+"},
        {"login.game.test\n", "login.game.test\n+"},  // no host field
        {"10.0.0.1 eu.login.game.test\n", "10.0.0.1 eu.login.game.test\n+"},
        {"10.0.0.1 login.game.test\n", "10.0.0.1 login.game.test\n"},       // present: untouched
        {"  10.0.0.1\tLogin.Game.Test\n", "  10.0.0.1\tLogin.Game.Test\n"},  // present: untouched
    };
    const std::string block = Lf(Opening + "10.0.0.1\tlogin.game.test\r\n" + Closing);
    for (const auto& c : cases) {
        scratch.Write("hosts", c.Before);
        Edit({"10.0.0.1|login.game.test"});
        std::string after = c.After;
        if (after.back() == '+') after = after.substr(0, after.size() - 1) + block;
        EXPECT_EQ(scratch.Read("hosts"), after) << c.Before;
    }
    // Short names no longer match every line that holds their letters.
    scratch.Write("hosts", "127.0.0.1 localhost\n10.0.0.9 data.company.org\n");
    Edit({"10.0.0.1|l", "10.0.0.2|a.com"});
    EXPECT_EQ(scratch.Read("hosts"), "127.0.0.1 localhost\n10.0.0.9 data.company.org\n" +
                                         Lf(Opening + "10.0.0.1\tl\r\n10.0.0.2\ta.com\r\n" + Closing));
}

TEST_F(Hosts, TheFileKeepsItsLineEndsAndTheBlockTakesThem) {
    const std::string lfBlock = Lf(Opening + "10.0.0.1\ta.test\r\n" + Closing);
    const struct {
        std::string Before, After;
    } cases[] = {
        {"1.1.1.1 x\n  # kept as is  \n\n", "1.1.1.1 x\n  # kept as is  \n\n" + lfBlock},
        {"1.1.1.1 x\r\n", "1.1.1.1 x\r\n" + Opening + "10.0.0.1\ta.test\r\n" + Closing},
        {"1.1.1.1 a.test\nlast", "#1.1.1.1 a.test\nlast\n" + lfBlock},
        {"", Opening + "10.0.0.1\ta.test\r\n" + Closing},
    };
    for (const auto& c : cases) {
        scratch.Write("hosts", c.Before);
        Edit({"10.0.0.1|a.test"});
        EXPECT_EQ(scratch.Read("hosts"), c.After) << c.Before;
    }
}

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

TEST_F(Hosts, TheLastMatchingLineDecides) {
    // Conflict first, right address last: nothing appended, so the comment mark is not saved either.
    const std::string current = "10.0.0.9 login.game.test\n10.0.0.1 login.game.test\n";
    scratch.Write("hosts", current);
    Edit({"10.0.0.1|login.game.test"});
    EXPECT_EQ(scratch.Read("hosts"), current);
    EXPECT_TRUE(statuses.empty());

    // Right address first, conflict last: the conflict commented out and the entry appended.
    scratch.Write("hosts", "10.0.0.1\tlogin.game.test\r\n10.0.0.9 login.game.test\r\n");
    Edit({"10.0.0.1|login.game.test"});
    EXPECT_EQ(scratch.Read("hosts"), "10.0.0.1\tlogin.game.test\r\n#10.0.0.9 login.game.test\r\n" + Opening +
                                         "10.0.0.1\tlogin.game.test\r\n" + Closing);
}

TEST_F(Hosts, ABadEntryRaisesBeforeAnythingIsWritten) {
    scratch.Write("hosts", "10.0.0.9 login.game.test\n");
    for (const char* bad : {"FAIL", "", "10.0.0.1|localhost", "10.0.0.1|bad name", "not-an-address|a.test"}) {
        EXPECT_THROW(Edit({"10.0.0.1|login.game.test", bad}), EListError) << bad;
        EXPECT_EQ(scratch.Read("hosts"), "10.0.0.9 login.game.test\n") << bad;
    }
    EXPECT_TRUE(statuses.empty());
}

TEST_F(Hosts, AMissingFileRaisesAndNoFileOnlyNotifies) {
    EXPECT_THROW(Edit({"10.0.0.1|a.test"}), EFOpenError);
    EXPECT_FALSE(scratch.Exists("hosts"));
    TStringList notices;
    ApplyHosts({"10.0.0.1|a.test"}, HostsFileIn(""), [this](const std::string& status) { statuses.push_back(status); },
               [&notices](const std::string& text) { notices.push_back(text); },
               [](const std::string& text) { ADD_FAILURE() << text; });
    EXPECT_TRUE(statuses.empty());
    EXPECT_EQ(notices, TStringList{SHostsNotApplied});
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
}

TEST_F(Hosts, AFileHeldByAnotherProgramRaisesAndStaysUnchanged) {
    scratch.Write("hosts", "10.0.0.9 login.game.test\n");
    TFileStream holder(scratch.File("hosts"), FileMode::OpenRead);  // shares reading only
    if (std::ofstream(scratch.Path() / "hosts", std::ios::app))
        GTEST_SKIP() << "an open reader does not stop writers on this system";
    EXPECT_THROW(Edit({"10.0.0.1|login.game.test"}), EStreamError);
    EXPECT_EQ(scratch.Read("hosts"), "10.0.0.9 login.game.test\n");
}

TEST_F(Hosts, TheFileIsOpenedOnlyOnceTheFirstStatusWasShown) {
    scratch.Write("hosts", "10.0.0.9 login.game.test\n");
    EXPECT_THROW(EditHosts({"10.0.0.1|login.game.test"}, scratch.File("hosts"),
                           [](const std::string&) { throw Exception("window gone"); }),
                 Exception);
    EXPECT_EQ(scratch.Read("hosts"), "10.0.0.9 login.game.test\n");
}

TEST(DefaultHostsFolder, NamesTheSystemFolderOnWindowsAndNoneElsewhere) {
    const std::string folder = DefaultHostsFolder();
    if (test::WindowsPaths()) {
        EXPECT_TRUE(os::DirectoryExists(folder)) << folder;
        EXPECT_EQ(folder.substr(folder.size() - 21), "\\system32\\drivers\\etc");
    } else {
        EXPECT_EQ(folder, "");
    }
}
