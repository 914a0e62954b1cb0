#include "tools/publish/ChunkStore.h"

#include "common/PublishedClient.h"
#include "common/ScratchFolder.h"

#include "formats/Zstd.h"
#include "tools/publish/ServerFolder.h"
#include "tools/publish/ServerVerify.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>

using namespace orvex;
using orvex::test::AllNormal;
using orvex::test::Decoded;
using orvex::test::Mixed;
using orvex::test::ReadWholeFile;
using orvex::test::ScratchFolder;
using orvex::test::Tree;
namespace fs = std::filesystem;

namespace {

TPublishOptions WithChunks(bool prune = false) {
    TPublishOptions options;
    options.Chunks = true;
    options.Prune = prune;
    return options;
}

// A client of several chunks a file, two files alike, an empty one, sub-folders.
struct ChunkedClient {
    ScratchFolder Client, Server;
    TPublishSummary First;
    ChunkedClient() {
        Client.Write("game.exe", Mixed(700000, 1));
        Client.Write("data/maps/m 1.dat", Mixed(1500000, 2));
        Client.Write("data/maps/copy of m 1.dat", Mixed(1500000, 2));
        Client.Write("data/text file.txt", std::string(5000, 'x'));
        Client.Write("empty.bin", "");
        First = Publish();
    }
    TPublishSummary Publish(bool prune = false) const {
        return PublishServerFolder(Client.Dir(), Server.Dir(), AllNormal(Client), WithChunks(prune));
    }
    TChunkIndex Index() const {
        const std::string bytes = Server.Read(ChunkIndexName);
        TParsed<TChunkIndex> index = ReadChunkIndex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        EXPECT_TRUE(index) << index.Error;
        return index ? *index.Value : TChunkIndex{};
    }
};

std::set<std::string> ChunkFiles(const ScratchFolder& server) {
    std::set<std::string> chunks;
    for (const auto& [name, content] : Tree(server.Path()))
        if (name.starts_with("chunks/")) chunks.insert(name);
    return chunks;
}

// The content of each file's copy, by name.
std::map<std::string, std::string> Copies(const ScratchFolder& server) {
    std::map<std::string, std::string> copies;
    for (const auto& [name, content] : Tree(server.Path()))
        if (name.ends_with(".bz2") && name != "files.lst.bz2") copies[name] = content;
    return copies;
}

std::set<TSha256Digest> ChunkHashes(const TChunkIndex& index) {
    std::set<TSha256Digest> hashes;
    for (const TChunkedFile& file : index.Files)
        for (const TChunkRef& chunk : file.Chunks) hashes.insert(chunk.Hash);
    return hashes;
}

std::string Reassembled(const ScratchFolder& server, const TChunkedFile& file) {
    std::string content;
    for (const TChunkRef& chunk : file.Chunks) {
        const std::string frame = server.Read(ChunkStorePath(chunk.Hash));
        EXPECT_EQ(frame.size(), chunk.CompressedSize);
        const std::vector<uint8_t> bytes =
            ZstdDecompress(reinterpret_cast<const uint8_t*>(frame.data()), frame.size(), chunk.Size, chunk.Size);
        content.append(bytes.begin(), bytes.end());
    }
    return content;
}

void RelistWith(const ScratchFolder& server, const std::function<void(std::string&)>& change) {
    std::string list = server.Read("files.lst");
    change(list);
    server.Write("files.lst", list);
    ASSERT_GT(CompressFile(server.OsFile("files.lst"), server.OsFile("files.lst.bz2")).Size, 0);
}

}  // namespace

TEST(PublishChunks, ListAndCopiesAreThoseOfAPublishWithoutChunksButForTheIndexLine) {
    const ChunkedClient c;
    const ScratchFolder plain;
    static_cast<void>(PublishServerFolder(c.Client.Dir(), plain.Dir(), AllNormal(c.Client), {}));

    const std::string index = c.Server.Read(ChunkIndexName);
    const std::string indexLine = std::string(IndexKey) + "|" + Sha256Hex(index.data(), index.size()) + "\r\n";
    std::string list = Decoded(c.Server.OsFile("files.lst.bz2"));
    const std::size_t at = list.find(indexLine);
    ASSERT_NE(at, std::string::npos);
    EXPECT_LT(at, list.find("[/settings]"));
    list.erase(at, indexLine.size());
    EXPECT_EQ(list, Decoded(plain.OsFile("files.lst.bz2")));
    EXPECT_TRUE(Copies(c.Server) == Copies(plain));
}

TEST(PublishChunks, IndexListsEveryFileInListOrderAndChunksReassembleItOnceStored) {
    const ChunkedClient c;
    const TChunkIndex index = c.Index();
    TStringList paths;
    for (const TChunkedFile& file : index.Files) {
        paths.push_back(file.Path);
        const std::string content = c.Client.Read(file.Path);
        EXPECT_EQ(file.Size, content.size()) << file.Path;
        EXPECT_EQ(file.Hash, Sha256(content.data(), content.size())) << file.Path;
        EXPECT_TRUE(Reassembled(c.Server, file) == content) << file.Path;
        // Cut in blocks as the whole file at once would be.
        std::vector<uint64_t> ends;
        for (const TChunkRef& chunk : file.Chunks) ends.push_back(chunk.Offset + chunk.Size);
        EXPECT_EQ(ends, CutPoints(reinterpret_cast<const uint8_t*>(content.data()), content.size())) << file.Path;
    }
    EXPECT_EQ(paths, AllNormal(c.Client).NormalFiles);
    EXPECT_EQ(index.Files[0].Path, "data\\maps\\copy of m 1.dat");
    EXPECT_EQ(index.Files[0].Chunks, index.Files[1].Chunks);
    // Every chunk once, nothing else in the store.
    EXPECT_EQ(ChunkFiles(c.Server).size(), ChunkHashes(index).size());
    EXPECT_EQ(c.First.ChunksWritten, ChunkHashes(index).size());
}

TEST(PublishChunks, RepublishCutsOnlyChangedFilesAndPruneKeepsWhatTheIndexNames) {
    ChunkedClient c;
    const std::size_t before = ChunkFiles(c.Server).size();
    const std::set<TSha256Digest> firstChunks = ChunkHashes(c.Index());
    const std::string firstIndex = c.Server.Read(ChunkIndexName);
    const TPublishSummary same = c.Publish();
    EXPECT_FALSE(same.ListChanged);
    EXPECT_EQ(same.ChunksWritten, 0u);
    EXPECT_EQ(c.Server.Read(ChunkIndexName), firstIndex);
    // An unchanged file whose chunk went missing is stored again rather than indexed as it was.
    fs::remove(c.Server.Path() / ChunkStorePath(c.Index().Files[2].Chunks[0].Hash));
    EXPECT_EQ(c.Publish().ChunksWritten, 1u);
    // A chunk cut short is written again by any publish, one damaged within its size by a full one;
    // neither is indexed with the size it was found at.
    const std::string damaged = ChunkStorePath(c.Index().Files[2].Chunks[0].Hash);
    const std::string frame = c.Server.Read(damaged);
    c.Server.Write(damaged, frame.substr(0, frame.size() / 2));
    const TPublishSummary shortened = c.Publish();
    EXPECT_EQ(shortened.ChunksReplaced, 1u);
    EXPECT_EQ(c.Server.Read(damaged), frame);
    std::string flipped = frame;
    flipped[frame.size() / 2] ^= 0x40;
    c.Server.Write(damaged, flipped);
    EXPECT_EQ(c.Publish().ChunksReplaced, 0u);
    TPublishOptions full = WithChunks();
    full.Incremental = false;
    EXPECT_EQ(PublishServerFolder(c.Client.Dir(), c.Server.Dir(), AllNormal(c.Client), full).ChunksReplaced, 1u);
    EXPECT_EQ(c.Server.Read(damaged), frame);
    EXPECT_EQ(c.Server.Read(ChunkIndexName), firstIndex);

    std::string game = c.Client.Read("game.exe");
    game[350000] ^= 0x20;
    c.Client.Write("game.exe", game);
    const TPublishSummary changed = c.Publish();
    EXPECT_EQ(changed.Compressed, 1u);
    EXPECT_GE(changed.ChunksWritten, 1u);
    EXPECT_LE(changed.ChunksWritten, 2u);  // the changed chunk, and the next when the cut moved
    EXPECT_EQ(ChunkFiles(c.Server).size(), before + changed.ChunksWritten);
    EXPECT_TRUE(Reassembled(c.Server, c.Index().Files[4]) == game);
    std::size_t stale = 0;
    const std::set<TSha256Digest> nowNamed = ChunkHashes(c.Index());
    for (const TSha256Digest& hash : firstChunks) stale += nowNamed.contains(hash) ? 0 : 1;
    EXPECT_GE(stale, 1u);

    // The stale chunks go, after the list, and a temporary file an interrupted publish left goes
    // first; the named ones stay.
    c.Server.Write("chunks/00/leftover.zst.1_2.orvex-part", "part");
    const TPublishSummary pruned = c.Publish(true);
    EXPECT_EQ(pruned.LeftoversRemoved, 1u);
    EXPECT_EQ(pruned.ChunksPruned, stale);
    std::set<std::string> named;
    for (const TSha256Digest& hash : ChunkHashes(c.Index())) named.insert(ChunkStorePath(hash));
    EXPECT_EQ(ChunkFiles(c.Server), named);
    EXPECT_FALSE(c.Server.Exists("chunks/00"));
    EXPECT_TRUE(VerifyServerFolder(c.Server.Dir(), 0, {}, true).empty());
}

TEST(VerifyServerFolder, ReportsChunkStoreFaults) {
    struct Case {
        const char* Name;
        std::function<void(const ChunkedClient&)> Damage;
        bool Deep;
        const char* Expected;  // part of the one problem; "" for none
    };
    const auto firstChunk = [](const ChunkedClient& c) { return ChunkStorePath(c.Index().Files[4].Chunks[1].Hash); };
    const auto corrupt = [&](const ChunkedClient& c) {
        std::string frame = c.Server.Read(firstChunk(c));
        frame[frame.size() / 2] ^= 0x40;
        c.Server.Write(firstChunk(c), frame);
    };
    const std::vector<Case> cases = {
        {"sound", [](const ChunkedClient&) {}, true, ""},
        {"missing chunk", [&](const ChunkedClient& c) { fs::remove(c.Server.Path() / firstChunk(c)); }, false,
         " is missing"},
        {"wrong Index", [](const ChunkedClient& c) {
             RelistWith(c.Server, [](std::string& list) {
                 char& digit = list[list.find("Index|") + 6];
                 digit = digit == '0' ? '1' : '0';
             });
         }, false, "the list's Index says"},
        {"missing index", [](const ChunkedClient& c) { fs::remove(c.Server.Path() / ChunkIndexName); }, false,
         "files.idx.zst is missing"},
        {"corrupted chunk, shallow", corrupt, false, ""},
        {"corrupted chunk, deep", corrupt, true, "does not decompress"},
        {"file unlisted", [](const ChunkedClient& c) {
             RelistWith(c.Server, [](std::string& list) {
                 const std::size_t at = list.find("empty.bin|");
                 list.erase(at, list.find("\r\n", at) + 2 - at);
             });
         }, false, "lists \"empty.bin\", which the list does not"},
    };
    for (const Case& test : cases) {
        const ChunkedClient c;
        test.Damage(c);
        const TStringList problems = VerifyServerFolder(c.Server.Dir(), 0, {}, test.Deep);
        if (std::string(test.Expected).empty()) {
            EXPECT_TRUE(problems.empty()) << test.Name << ": " << (problems.empty() ? "" : problems[0]);
        } else {
            ASSERT_EQ(problems.size(), 1u) << test.Name << ": " << (problems.empty() ? "" : problems[0]);
            EXPECT_NE(problems[0].find(test.Expected), std::string::npos) << test.Name << ": " << problems[0];
        }
    }
}
