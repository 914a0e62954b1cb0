#include "ScratchFolder.h"

#include "base/Os.h"
#include "formats/BZ2FileCheck.h"
#include "tools/publish/PublishConfig.h"
#include "tools/publish/ServerFolder.h"
#include "tools/publish/ServerVerify.h"
#include "util/Parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <stdexcept>

using namespace orvex;
using orvex::test::ScratchFolder;
namespace fs = std::filesystem;

namespace {

void Put(const ScratchFolder& dir, const std::string& name, const std::string& content) {
    const fs::path path = dir.Path() / fs::path(name);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Mixed(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(i % 3 ? 'a' + i % 7 : generator());
    return bytes;
}

// name -> content of every file under dir, names with "/".
std::map<std::string, std::string> Tree(const fs::path& dir) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file()) tree[fs::relative(entry.path(), dir).generic_string()] = ReadAll(entry.path());
    return tree;
}

std::string Decoded(const std::string& file) {
    std::string text;
    EXPECT_EQ(DecodeOneStream(file, [&text](const char* data, std::size_t n) { text.append(data, n); }),
              TStreamCheck::Whole)
        << file;
    return text;
}

TPublishDescription AllNormal(const ScratchFolder& client) {
    TPublishDescription description;
    description.NormalFiles = ListClientFiles(client.Dir());
    return description;
}

// A client with sub-folders and spaces, published once.
struct Published {
    ScratchFolder Client, Server;
    TPublishSummary First;
    Published() {
        Put(Client, "game.exe", Mixed(200000, 1));
        Put(Client, "data/maps/m 1.dat", Mixed(1100000, 2));
        Put(Client, "data/text file.txt", std::string(5000, 'x'));
        Put(Client, "empty.bin", "");
        First = PublishServerFolder(Client.Dir(), Server.Dir(), AllNormal(Client), {});
    }
};

}  // namespace

TEST(ParallelFor, RunsEveryJobOnceAndRaisesTheFirstFailure) {
    std::vector<std::atomic<int>> runs(500);
    ParallelFor(runs.size(), 4, [&runs](std::size_t i) { ++runs[i]; });
    for (const auto& count : runs) EXPECT_EQ(count, 1);

    const auto failAt3 = [](std::atomic<int>& started) {
        return [&started](std::size_t i) {
            ++started;
            if (i == 3) throw std::runtime_error("job 3");
        };
    };
    std::atomic<int> started{0};
    EXPECT_THROW(ParallelFor(1000, 4, failAt3(started)), std::runtime_error);
    // On one thread nothing starts after the failure.
    started = 0;
    EXPECT_THROW(ParallelFor(1000, 1, failAt3(started)), std::runtime_error);
    EXPECT_EQ(started, 4);
}

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
                            "Self=bin\\OrvexUpdater.exe\r\n"}) {
        dir.Write("bad.ini", std::string("[publish]\r\n") + bad);
        EXPECT_THROW(LoadPublishConfig(dir.File("bad.ini")), EPublishConfigError) << bad;
    }
}

TEST(ListClientFiles, WalksSubFoldersWithSpacesAndSingleByteNames) {
    ScratchFolder client;
    Put(client, "a b/c d/e f.txt", "1");
    Put(client, "top.bin", "2");
    const bool windows = test::WindowsPaths();
    // On Windows the name must exist in the ANSI code page; here names are bytes.
    const fs::path accented = windows ? fs::path(L"caf\u00e9.dat") : fs::path(std::string("caf\xe9.dat"));
    std::ofstream(client.Path() / accented) << "3";
    const TStringList files = ListClientFiles(client.Dir());
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0], "a b\\c d\\e f.txt");
    EXPECT_EQ(files[1].size(), 8u);
    EXPECT_EQ(files[1].substr(0, 3), "caf");
    EXPECT_EQ(files[2], "top.bin");

    // What the walker names, the publisher can read.
    ScratchFolder server;
    PublishServerFolder(client.Dir(), server.Dir(), AllNormal(client), {});
    EXPECT_TRUE(VerifyServerFolder(server.Dir()).empty());

    ScratchFolder cased;
    Put(cased, "Data/x.dat", "1");
    Put(cased, "data/x.dat", "2");
    if (fs::exists(cased.Path() / "Data") && fs::exists(cased.Path() / "data") && Tree(cased.Path()).size() == 2) {
        EXPECT_THROW(ListClientFiles(cased.Dir()), EPublishError);
    }

    ScratchFolder foreign;
    std::ofstream(foreign.Path() / (windows ? fs::path(L"\u4e2d.dat") : fs::path("\xd0\xba.dat"))) << "x";
    EXPECT_THROW(ListClientFiles(foreign.Dir()), EPublishError);
}

TEST(PublishServerFolder, GivesAnInstallationIdenticalToTheClient) {
    Published p;
    Put(p.Client, "_settings.ini", "[main]\r\n");  // never published
    ScratchFolder installation;
    const TUpdateList list = ReadUpdateList(ReadAll(p.Server.Path() / "files.lst"));
    for (const std::string& line : list.Normal) {
        TStringList fields;
        std::string rest = line;
        for (std::size_t bar; (bar = rest.find('|')) != std::string::npos; rest.erase(0, bar + 1))
            fields.push_back(rest.substr(0, bar));
        std::string path = fields[0];
        std::replace(path.begin(), path.end(), '\\', '/');
        Put(installation, path, Decoded((p.Server.Path() / (path + ".bz2")).string()));
    }
    auto client = Tree(p.Client.Path());
    client.erase("_settings.ini");
    EXPECT_EQ(Tree(installation.Path()), client);
}

TEST(PublishServerFolder, RepublishesOnlyWhatChangedAndCountsRevUp) {
    Published p;
    EXPECT_EQ(p.First.Rev, 1);
    EXPECT_EQ(p.First.Compressed, 4u);
    const std::string firstList = ReadAll(p.Server.Path() / "files.lst.bz2");

    const TPublishSummary same = PublishServerFolder(p.Client.Dir(), p.Server.Dir(), AllNormal(p.Client), {});
    EXPECT_EQ(same.Compressed, 0u);
    EXPECT_EQ(same.Reused, 4u);
    EXPECT_EQ(same.Rev, 1);
    EXPECT_FALSE(same.ListChanged);
    EXPECT_EQ(ReadAll(p.Server.Path() / "files.lst.bz2"), firstList);

    Put(p.Client, "data/text file.txt", "changed");
    const TPublishSummary one = PublishServerFolder(p.Client.Dir(), p.Server.Dir(), AllNormal(p.Client), {});
    EXPECT_EQ(one.Compressed, 1u);
    EXPECT_EQ(one.Rev, 2);
    EXPECT_EQ(Decoded((p.Server.Path() / "data/text file.txt.bz2").string()), "changed");

    // A copy that lost bytes is compressed again although the file did not change.
    fs::resize_file(p.Server.Path() / "game.exe.bz2", 100);
    const TPublishSummary repaired = PublishServerFolder(p.Client.Dir(), p.Server.Dir(), AllNormal(p.Client), {});
    EXPECT_EQ(repaired.Compressed, 1u);
    EXPECT_EQ(repaired.Rev, 2);

    TPublishOptions fixed;
    fixed.Rev = 40;
    EXPECT_EQ(PublishServerFolder(p.Client.Dir(), p.Server.Dir(), AllNormal(p.Client), fixed).Rev, 40);
    EXPECT_EQ(ReadUpdateList(ReadAll(p.Server.Path() / "files.lst")).Rev, "40");
    EXPECT_TRUE(VerifyServerFolder(p.Server.Dir()).empty());
}

TEST(PublishServerFolder, PrunesCopiesOfRemovedFilesOnlyWhenAsked) {
    Published p;
    Put(p.Server, "index.html", "kept");
    fs::remove(p.Client.Path() / "data/maps/m 1.dat");
    const TPublishSummary kept = PublishServerFolder(p.Client.Dir(), p.Server.Dir(), AllNormal(p.Client), {});
    EXPECT_EQ(kept.Pruned, 0u);
    EXPECT_EQ(kept.Rev, 2);
    EXPECT_TRUE(fs::exists(p.Server.Path() / "data/maps/m 1.dat.bz2"));

    TPublishOptions prune;
    prune.Prune = true;
    const TPublishSummary pruned = PublishServerFolder(p.Client.Dir(), p.Server.Dir(), AllNormal(p.Client), prune);
    EXPECT_EQ(pruned.Pruned, 1u);
    EXPECT_EQ(pruned.Rev, 2);
    EXPECT_FALSE(fs::exists(p.Server.Path() / "data/maps"));
    EXPECT_TRUE(fs::exists(p.Server.Path() / "index.html"));
    EXPECT_TRUE(VerifyServerFolder(p.Server.Dir()).empty());
}

TEST(PublishServerFolder, ParallelRunReportsEveryFileAndMatchesOneThread) {
    ScratchFolder client, serial, parallel;
    for (int i = 0; i < 24; ++i) Put(client, "f/" + std::to_string(i) + ".bin", Mixed(20000 + 3000 * i, i));
    TPublishOptions one;
    one.Threads = 1;
    PublishServerFolder(client.Dir(), serial.Dir(), AllNormal(client), one);
    TPublishOptions many;
    many.Threads = 4;
    std::size_t calls = 0;
    int64_t lastBytes = -1;
    many.OnFile = [&](const TPublishedFile&, TFileOutcome outcome, const TPublishProgress& progress) {
        ++calls;
        EXPECT_EQ(outcome, TFileOutcome::Compressed);
        EXPECT_GT(progress.BytesDone, lastBytes);
        lastBytes = progress.BytesDone;
        EXPECT_EQ(progress.FilesTotal, 24u);
    };
    PublishServerFolder(client.Dir(), parallel.Dir(), AllNormal(client), many);
    EXPECT_EQ(calls, 24u);
    EXPECT_EQ(Tree(parallel.Path()), Tree(serial.Path()));
}

TEST(VerifyServerFolder, ReportsEveryFault) {
    Published p;
    ASSERT_TRUE(VerifyServerFolder(p.Server.Dir()).empty());
    const fs::path server = p.Server.Path();

    // Damaged copy, joined streams, missing copy, wrong size.
    std::string damaged = ReadAll(server / "game.exe.bz2");
    damaged[damaged.size() / 2] ^= 0x55;
    std::ofstream(server / "game.exe.bz2", std::ios::binary) << damaged;
    const std::string text = ReadAll(server / "data/text file.txt.bz2");
    std::ofstream(server / "data/text file.txt.bz2", std::ios::binary) << text << text;
    fs::remove(server / "empty.bin.bz2");
    std::string list = ReadAll(server / "files.lst");
    // Wrong size, an escaping path and a missing field.
    const std::size_t m1 = list.find("data\\maps\\m 1.dat|");
    const std::size_t bar = list.rfind('|', list.find("\r\n", m1));
    list.replace(bar + 1, list.find("\r\n", m1) - bar - 1, "12");
    list.replace(list.find("[/files_normal]"), 0,
                 "..\\outside.dat|d41d8cd98f00b204e9800998ecf8427e|14\r\nshort|12\r\n");
    list.replace(list.find("ModHosts|0"), 10, "ModHosts|1");
    p.Client.Write("files.lst", list);
    ASSERT_TRUE(CompressFile(p.Client.File("files.lst"), p.Server.File("files.lst.bz2")).Size > 0);

    const TStringList problems = VerifyServerFolder(p.Server.Dir());
    std::string all;
    for (const std::string& problem : problems) all += problem + "\n";
    const auto reports = [&all](const std::string& what) { return all.find(what) != std::string::npos; };
    EXPECT_TRUE(reports("ModHosts is 1 but [hosts] has no entries")) << all;
    EXPECT_TRUE(reports("game.exe.bz2 is not valid bzip2 data")) << all;
    EXPECT_TRUE(reports("text file.txt.bz2 has data after its bzip2 stream")) << all;
    EXPECT_TRUE(reports("empty.bin.bz2 is missing")) << all;
    EXPECT_TRUE(reports("1.dat.bz2 has ")) << all;
    EXPECT_TRUE(reports("bytes, the list says 12")) << all;
    EXPECT_TRUE(reports("\"..\\outside.dat|d41d8cd98f00b204e9800998ecf8427e|14\": the path leaves the server folder")) << all;
    EXPECT_TRUE(reports("\"short|12\": has 2 fields, not 3")) << all;
    EXPECT_EQ(problems.size(), 8u) << all;  // joined streams also have the wrong size

    p.Client.Write("files.lst", "[settings]\r\nRev|x\r\n[/settings]\r\n");
    CompressFile(p.Client.File("files.lst"), p.Server.File("files.lst.bz2"));
    EXPECT_EQ(VerifyServerFolder(p.Server.Dir()),
              (TStringList{"files.lst: Rev \"x\" is not a whole number", "files.lst: [settings] has no ModHosts"}));
}
