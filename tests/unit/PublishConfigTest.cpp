#include "tools/publish/PublishConfig.h"

#include "common/ScratchFolder.h"

#include "tools/publish/ServerFolder.h"

#include <gtest/gtest.h>

#include <string>

using namespace orvex;
using orvex::test::ScratchFolder;

TEST(PublishConfig, GlobsMatchNamesAnywhereAndPathsFromTheTop) {
    EXPECT_TRUE(MatchGlob("*.exe", "game.exe"));
    EXPECT_TRUE(MatchGlob("*.EXE", "bin\\Game.exe"));
    EXPECT_FALSE(MatchGlob("*.exe", "game.exe.bak"));
    EXPECT_TRUE(MatchGlob("system/*.dll", "system\\a.dll"));
    EXPECT_FALSE(MatchGlob("system\\*.dll", "system\\sub\\a.dll"));
    EXPECT_FALSE(MatchGlob("system\\*.dll", "other\\system\\a.dll"));
    EXPECT_TRUE(MatchGlob("data\\**", "data\\maps\\m 1.dat"));
    EXPECT_TRUE(MatchGlob("data\\**\\*.dat", "data\\a\\b\\c.dat"));
    EXPECT_TRUE(MatchGlob("m?.dat", "maps\\m1.dat"));
    EXPECT_FALSE(MatchGlob("m?.dat", "maps\\m12.dat"));
}

TEST(PublishConfig, ReadsListsAndRefusesWhatClientsWouldFailOn) {
    ScratchFolder dir;
    dir.Write("good.ini",
              "[publish]\r\nSelf=OrvexUpdater.exe\r\nCritical=*.exe; system\\*.dll\r\nCritical1=data\\crit.dat\r\n"
              "Exclude=*.log\r\nModHosts=1\r\nHosts=127.0.0.1 login.example.net; 10.0.0.2\tpatch.example.net\r\n");
    const TPublishConfig config = LoadPublishConfig(dir.File("good.ini"));
    EXPECT_EQ(config.SelfName, "OrvexUpdater.exe");
    EXPECT_EQ(config.Critical, (TStringList{"*.exe", "system\\*.dll", "data\\crit.dat"}));
    EXPECT_EQ(config.Exclude, TStringList{"*.log"});
    EXPECT_EQ(config.ModHosts, 1);
    ASSERT_EQ(config.Hosts.size(), 2u);
    EXPECT_EQ(config.Hosts[1].Address, "10.0.0.2");
    EXPECT_EQ(config.Hosts[1].Host, "patch.example.net");

    const TStringList files = {"OrvexUpdater.exe", "_settings.ini", "data\\crit.dat", "data\\x.dat", "game.exe",
                               "logs\\a.log", "publish.ini", "system\\a.dll"};
    const TPublishDescription description = DescribeClient(config, files, {"_settings.ini", "publish.ini"});
    EXPECT_EQ(description.SelfName, "OrvexUpdater.exe");
    EXPECT_EQ(description.CriticalFiles, (TStringList{"data\\crit.dat", "game.exe", "system\\a.dll"}));
    EXPECT_EQ(description.NormalFiles, TStringList{"data\\x.dat"});
    EXPECT_THROW(DescribeClient(config, {"game.exe"}, {}), EPublishError);

    for (const char* bad : {"ModHosts=yes\r\n", "ModHosts=1\r\n", "Hosts=127.0.0.1\r\n", "Hosts=1.2.3.4 a b\r\n",
                            "Self=bin\\OrvexUpdater.exe\r\n", "Self=OrvexUpdater.exe ; the launcher\r\n",
                            "Critical=*.exe; *.dll ; checked on every start\r\n",
                            "Exclude=*.log\r\nExclude1=screenshots\\** ; big\tand private\r\n"}) {
        dir.Write("bad.ini", std::string("[publish]\r\n") + bad);
        EXPECT_THROW(LoadPublishConfig(dir.File("bad.ini")), EPublishConfigError) << bad;
    }

    // A comment after a value is told by the line that holds it; names of several words with a dot,
    // a wildcard or a folder are names.
    dir.Write("commented.ini", "[publish]\r\n; the rest\r\nExclude=*.log;My?Documents;a b.txt; x\\y z\r\n"
                               "Critical=*.exe ; checked at every start\r\n");
    try {
        LoadPublishConfig(dir.File("commented.ini"));
        ADD_FAILURE() << "a comment taken for a pattern";
    } catch (const EPublishConfigError& error) {
        EXPECT_NE(std::string(error.what()).find("commented.ini, line 4: [publish] Critical="), std::string::npos)
            << error.what();
    }
}
