#include "tools/publish/Releases.h"

#include "common/PublishedClient.h"
#include "common/WholeFile.h"

#include "formats/ChunkIndex.h"
#include "tools/publish/ServerVerify.h"

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

    TPublishSummary Publish(const std::string& release, bool prune = false, std::size_t keep = 3) {
        TPublishOptions options;
        options.Chunks = true;
        options.Release = release;
        options.Prune = prune;
        options.KeepReleases = keep;
        options.Signing = TListSigning{Key.Secret, ++Seq, std::nullopt, std::nullopt, ""};
        return PublishServerFolder(Client.Dir(), Server.Dir(), AllNormal(Client), options);
    }
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

    const TRollbackSummary back = RollBackTo(folder.Server.Dir(), "two", TListSigning{folder.Key.Secret, 10, {}, {}, ""}, 2);
    EXPECT_EQ(back.Rev, 4);
    EXPECT_EQ(back.Rebuilt, 2u) << "big.dat and gone.bin differ from the current release";
    EXPECT_EQ(back.Reused, 1u);
    for (const auto& [path, bytes] : clientTwo) EXPECT_EQ(Decoded(folder.Server.OsFile(path + ".bz2")), bytes) << path;
    EXPECT_EQ(VerifyServerFolder(folder.Server.Dir(), 1, {folder.Key.Public}, true), TStringList{});

    EXPECT_THROW(RollBackTo(folder.Server.Dir(), "one", TListSigning{folder.Key.Secret, 11, {}, {}, ""}, 1),
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
