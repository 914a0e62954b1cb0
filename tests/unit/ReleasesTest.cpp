#include "tools/publish/Releases.h"

#include "common/PublishedClient.h"
#include "common/WholeFile.h"

#include "formats/ChunkIndex.h"
#include "tools/publish/ServerVerify.h"
#include "update/AnnouncedRelease.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

using namespace orvex;
using orvex::test::AllNormal;
using orvex::test::Decoded;
using orvex::test::Mixed;
using orvex::test::ScratchFolder;
using orvex::test::Tree;
namespace fs = std::filesystem;

namespace {

struct TReleasedFolder {
    ScratchFolder Client, Server;
    minisign::TKeyPair Key = minisign::GenerateKeyPair();
    uint64_t Seq = 0;

    TPublishSummary Publish(const std::string& release, bool prune = false, std::size_t keep = 3,
                            std::optional<TReleaseAnnouncement::TKind> announce = {}) {
        TPublishOptions options;
        options.Announce = announce;
        options.RolloutShare = 10;
        options.Chunks = true;
        options.Release = release;
        options.Prune = prune;
        options.KeepReleases = keep;
        options.Signing = TListSigning{Key.Secret, ++Seq, std::nullopt, std::nullopt, ""};
        return PublishServerFolder(Client.Dir(), Server.Dir(), AllNormal(Client), options);
    }
    std::optional<TListSigning> Signing() { return TListSigning{Key.Secret, ++Seq, {}, {}, ""}; }
    std::string List() const { return orvex::test::ReadWholeFile(fs::path(Server.Dir()) / "files.lst"); }
    std::set<std::string> Chunks() const {
        std::set<std::string> chunks;
        for (const auto& entry : fs::recursive_directory_iterator(fs::path(Server.Dir()) / ChunkStoreFolder))
            if (entry.is_regular_file()) chunks.insert(entry.path().filename().string());
        return chunks;
    }
};

std::set<std::string> ChunksOf(const TChunkIndex& index) {
    std::set<std::string> chunks;
    for (const TChunkedFile& file : index.Files)
        for (const TChunkRef& chunk : file.Chunks) chunks.insert(fs::path(ChunkStorePath(chunk.Hash)).filename().string());
    return chunks;
}

}  // namespace

// Releases beyond --keep go with the chunks no kept release names; a kept one becomes current again
// from the server folder alone, as a new Rev that verify passes, its copies those of its files.
TEST(Releases, PrunedBeyondKeepAndRolledBackFromTheChunkStore) {
    TReleasedFolder folder;
    folder.Client.Write("data/big.dat", Mixed(900000, 1));
    folder.Client.Write("data/small.txt", "first");
    folder.Client.Write("gone.bin", Mixed(200000, 2));
    folder.Publish("one");
    folder.Client.Write("data/small.txt", "second");
    folder.Publish("two");
    const std::map<std::string, std::string> clientTwo = Tree(folder.Client.Dir());
    folder.Client.Write("data/big.dat", Mixed(900000, 3));
    fs::remove(fs::path(folder.Client.Dir()) / "gone.bin");
    folder.Publish("three", true, 2);

    std::vector<std::string> kept;
    for (const TKeptRelease& release : ReadReleases(folder.Server.Dir())) kept.push_back(release.Name);
    EXPECT_EQ(kept, (std::vector<std::string>{"three", "two"}));
    std::set<std::string> named;
    for (const TChunkIndex& index : KeptReleaseIndexes(folder.Server.Dir())) named.merge(ChunksOf(index));
    EXPECT_EQ(folder.Chunks(), named) << "the chunks of the kept releases, no others";

    const TReleaseChange back = MakeReleaseCurrent(folder.Server.Dir(), "two", TCurrentRev::Next,
                                                   TListSigning{folder.Key.Secret, 10, {}, {}, ""}, 2);
    EXPECT_EQ(back.Rev, 4);
    EXPECT_EQ(back.Rebuilt, 2u) << "big.dat and gone.bin differ from the current release";
    EXPECT_EQ(back.Reused, 1u);
    for (const auto& [path, bytes] : clientTwo) EXPECT_EQ(Decoded(folder.Server.OsFile(path + ".bz2")), bytes) << path;
    EXPECT_EQ(VerifyServerFolder(folder.Server.Dir(), 1, {folder.Key.Public}, true), TStringList{});

    EXPECT_THROW(MakeReleaseCurrent(folder.Server.Dir(), "one", TCurrentRev::Next, std::nullopt, 1),
                 EPublishError) << "pruned";
}

TEST(Releases, TheSameClientAndOptionsGiveAByteIdenticalFolder) {
    TReleasedFolder first, second;
    for (TReleasedFolder* folder : {&first, &second}) {
        folder->Key = first.Key;
        folder->Client.Write("game.exe", Mixed(300000, 4));
        folder->Client.Write("data/maps/m 1.dat", Mixed(1200000, 5));
        folder->Publish("r1");
    }
    const auto one = Tree(first.Server.Dir()), other = Tree(second.Server.Dir());
    EXPECT_GT(one.size(), 8u);
    EXPECT_TRUE(one == other);
}

TEST(ReleaseAnnouncement, ReadsOnlyWellFormedLines) {
    const std::string hash(64, 'a');
    const struct {
        std::string Line;
        std::optional<TReleaseAnnouncement> Expected;
    } cases[] = {
        {"Preload|r2|" + hash, TReleaseAnnouncement{TReleaseAnnouncement::TKind::Preload, "r2", 0, hash}},
        {"Rollout|1.4-b|25|" + hash, TReleaseAnnouncement{TReleaseAnnouncement::TKind::Rollout, "1.4-b", 25, hash}},
        {"Rollout|r2|0|" + hash, std::nullopt},
        {"Rollout|r2|100|" + hash, std::nullopt},
        {"Rollout|r2|+5|" + hash, std::nullopt},
        {"Preload|../x|" + hash, std::nullopt},
        {"Preload|.hidden|" + hash, std::nullopt},
        {"Preload|r2|" + std::string(64, 'A'), std::nullopt},
        {"Preload|r2|" + hash + "|extra", std::nullopt},
        {"Rev|3", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseAnnouncement(c.Line), c.Expected) << c.Line;
        if (c.Expected) {
            EXPECT_EQ(FormatAnnouncement(*c.Expected), c.Line);
        }
    }
    const std::string list = "[settings]\r\nRev|3\r\nPreload|old|" + hash + "\r\n[/settings]\r\n[hosts]\r\n";
    const TReleaseAnnouncement rollout{TReleaseAnnouncement::TKind::Rollout, "new", 5, hash};
    EXPECT_EQ(WithAnnouncements(list, {rollout}),
              "[settings]\r\nRev|3\r\nRollout|new|5|" + hash + "\r\n[/settings]\r\n[hosts]\r\n");
    EXPECT_EQ(AnnouncementsOf(WithAnnouncements(list, {rollout})), std::vector<TReleaseAnnouncement>{rollout});
}

// A preload or a rollout leaves the current list's Rev and copies alone and announces the release,
// whose list is signed with the current list's sequence number at every change; withdrawing raises
// the Rev past the release's; promoting makes it current with its own Rev and verify passes.
TEST(Releases, AnnouncedWithdrawnAndPromoted) {
    TReleasedFolder folder;
    folder.Client.Write("data/big.dat", Mixed(700000, 6));
    folder.Client.Write("a.txt", "first");
    folder.Publish("one");
    const auto copiesOfOne = Tree(folder.Server.Dir());
    folder.Client.Write("a.txt", "second");
    const TPublishSummary preload = folder.Publish("two", false, 3, TReleaseAnnouncement::TKind::Preload);
    EXPECT_EQ(preload.Rev, 2);
    EXPECT_NE(folder.List().find("Rev|1\r\n"), std::string::npos);
    const std::vector<TReleaseAnnouncement> announced = AnnouncementsOf(folder.List());
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_EQ(announced[0].Kind, TReleaseAnnouncement::TKind::Preload);
    EXPECT_EQ(Decoded(folder.Server.OsFile("a.txt.bz2")), "first");
    EXPECT_EQ(copiesOfOne.at("data/big.dat.bz2"), Tree(folder.Server.Dir()).at("data/big.dat.bz2"));

    const auto signedSeq = [&folder](const std::string& signatureFile) {
        const std::string text = orvex::test::ReadWholeFile(fs::path(folder.Server.Dir()) / signatureFile);
        return text.substr(text.find("seq="), text.find_first_of(" \n", text.find("seq=")) - text.find("seq="));
    };
    EXPECT_EQ(SetRolloutShare(folder.Server.Dir(), "two", 40, folder.Signing()).Rev, 1);
    EXPECT_EQ(AnnouncementsOf(folder.List())[0].Share, 40);
    EXPECT_EQ(signedSeq("releases/two/files.lst.bz2.minisig"), signedSeq("files.lst.bz2.minisig"));

    EXPECT_EQ(WithdrawRelease(folder.Server.Dir(), "two", folder.Signing()).Rev, 3);
    EXPECT_TRUE(AnnouncementsOf(folder.List()).empty());

    folder.Client.Write("a.txt", "third");
    folder.Publish("three", false, 3, TReleaseAnnouncement::TKind::Rollout);
    const TReleaseChange promoted = MakeReleaseCurrent(folder.Server.Dir(), "three", TCurrentRev::ReleaseOrNext, folder.Signing(), 1);
    EXPECT_EQ(promoted.Rev, 4);
    EXPECT_EQ(promoted.Rebuilt, 1u);
    EXPECT_EQ(Decoded(folder.Server.OsFile("a.txt.bz2")), "third");
    EXPECT_TRUE(AnnouncementsOf(folder.List()).empty());
    EXPECT_EQ(VerifyServerFolder(folder.Server.Dir(), 1, {folder.Key.Public}, true), TStringList{});
}

// Installations numbered at random take a rollout in the share asked for, within two points.
TEST(ReleaseAnnouncement, RolloutSharesHoldOverRandomInstallations) {
    for (const int share : {10, 25, 50}) {
        int taking = 0;
        for (int i = 0; i < 10000; ++i) taking += TakesRollout(NewRolloutNumber(), share) ? 1 : 0;
        EXPECT_NEAR(taking / 100.0, share, 2.0) << share;
    }
    EXPECT_FALSE(TakesRollout(-1, 99)) << "no number yet takes nothing";
    EXPECT_TRUE(TakesRollout(2499, 25));
    EXPECT_FALSE(TakesRollout(2500, 25));
}
