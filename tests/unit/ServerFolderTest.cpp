#include "tools/publish/ServerFolder.h"

#include "base/CodePage.h"

#include "common/Links.h"
#include "common/PublishedClient.h"
#include "common/RandomBytes.h"
#include "common/ScratchFolder.h"

#include "base/Os.h"
#include "tools/publish/ListSignature.h"
#include "tools/publish/ServerVerify.h"
#include "tools/publish/StagedFiles.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <fstream>
#include <iterator>
#include <set>

using namespace orvex;
using orvex::test::AllNormal;
using orvex::test::Decoded;
using orvex::test::Mixed;
using orvex::test::Published;
using orvex::test::RandomBytes;
using orvex::test::ReadWholeFile;
using orvex::test::ScratchFolder;
using orvex::test::Tree;
namespace fs = std::filesystem;

namespace {

// Decodes data that must be exactly one bzip2 stream with nothing after it.
std::string DecodeOneStream(const std::string& data) {
    bz_stream stream{};
    EXPECT_EQ(BZ2_bzDecompressInit(&stream, 0, 0), BZ_OK);
    stream.next_in = const_cast<char*>(data.data());
    stream.avail_in = static_cast<unsigned>(data.size());
    std::string out;
    char buffer[65536];
    int result;
    do {
        stream.next_out = buffer;
        stream.avail_out = sizeof buffer;
        result = BZ2_bzDecompress(&stream);
        out.append(buffer, sizeof buffer - stream.avail_out);
    } while (result == BZ_OK && (stream.avail_out == 0 || stream.avail_in != 0));
    EXPECT_EQ(result, BZ_STREAM_END);
    EXPECT_EQ(stream.avail_in, 0u) << "bytes after the stream";
    BZ2_bzDecompressEnd(&stream);
    return out;
}

std::string Listed(const TPublishedFile& file) { return file.Path + "|" + file.MD5 + "|" + std::to_string(file.Size); }

}  // namespace

TEST(CompressFile, WritesOneLevelNineStreamOfTheWholeFileAndItsDigest) {
    const ScratchFolder dir;
    // More than one 900k block, part incompressible, part repetitive.
    std::string data = RandomBytes(1200000, 1);
    data += std::string(1500000, 'z');
    const std::string source = dir.Write("in.bin", data);
    const std::string target = dir.OsFile("out/deeper/in.bin.bz2");

    const TCompressedFile copy = CompressFile(source, target);
    const std::string packed = ReadWholeFile(target);
    EXPECT_EQ(packed.substr(0, 4), "BZh9");
    EXPECT_EQ(copy.Size, static_cast<int64_t>(packed.size()));
    EXPECT_EQ(copy.SourceDigest, FileMD5(source));
    EXPECT_TRUE(DecodeOneStream(packed) == data);

    const TCompressedFile empty = CompressFile(dir.Write("empty.bin", ""), dir.OsFile("empty.bin.bz2"));
    const std::string emptyPacked = dir.Read("empty.bin.bz2");
    EXPECT_EQ(empty.Size, static_cast<int64_t>(emptyPacked.size()));
    EXPECT_EQ(DigestToHex(empty.SourceDigest), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(DecodeOneStream(emptyPacked), "");
}

TEST(CompressFile, MissingSourceLeavesNothingBehind) {
    const ScratchFolder dir;
    EXPECT_THROW(CompressFile(dir.OsFile("missing.bin"), dir.OsFile("missing.bin.bz2")), EFOpenError);
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

TEST(ServerFolder, PublishesEveryFileUnderItsPathAndListsItsDigestAndCopySize) {
    const ScratchFolder client, server;
    const std::map<std::string, std::string> files = {
        {"OrvexUpdater.exe", RandomBytes(50000, 2)},
        {"game.exe", RandomBytes(70000, 3)},
        {"data/maps/m1.dat", RandomBytes(300000, 4) + std::string(200000, '\0')},
        {"data/text.txt", std::string(10000, 'a')},
        {"system/option.ini", "[Option]\r\nWidth=800\r\n"},
        {"empty.bin", ""},
    };
    for (const auto& [name, content] : files) client.Write(name, content);

    TPublishDescription description;
    description.Rev = 12;
    description.ModHosts = 1;
    description.Hosts = {{"127.0.0.1", "login.example.net"}, {"10.0.0.2", "patch.example.net"}};
    description.SelfName = "OrvexUpdater.exe";
    description.CriticalFiles = {"game.exe", "data/maps/m1.dat", "empty.bin"};
    description.NormalFiles = {"data\\text.txt", "system\\option.ini"};

    const TPublishedFolder folder = BuildServerFolder(client.Dir(), server.Dir(), description);
    ASSERT_TRUE(folder.Self);
    ASSERT_EQ(folder.Critical.size(), 3u);
    ASSERT_EQ(folder.Normal.size(), 2u);
    EXPECT_EQ(folder.Critical[1].Path, "data\\maps\\m1.dat");

    std::vector<TPublishedFile> all = {*folder.Self};
    all.insert(all.end(), folder.Critical.begin(), folder.Critical.end());
    all.insert(all.end(), folder.Normal.begin(), folder.Normal.end());
    std::set<std::string> expectedNames = {"files.lst", "files.lst.bz2"};
    for (const TPublishedFile& file : all) {
        std::string name = file.Path;
        std::replace(name.begin(), name.end(), '\\', '/');
        expectedNames.insert(name + ".bz2");
        const std::string packed = server.Read(name + ".bz2");
        EXPECT_EQ(packed.substr(0, 4), "BZh9") << name;
        EXPECT_EQ(file.Size, static_cast<int64_t>(packed.size())) << name;
        EXPECT_TRUE(DecodeOneStream(packed) == files.at(name)) << name;
        EXPECT_EQ(file.MD5, DigestToHex(FileMD5(client.OsFile(name)))) << name;
    }

    const std::string list = server.Read("files.lst");
    EXPECT_EQ(list,
              "[settings]\r\nRev|12\r\nModHosts|1\r\n[/settings]\r\n"
              "[hosts]\r\n127.0.0.1|login.example.net\r\n10.0.0.2|patch.example.net\r\n[/hosts]\r\n"
              "[self]\r\n" + Listed(all[0]) + "\r\n[/self]\r\n"
              "[files_critical]\r\n" + Listed(all[1]) + "\r\n" + Listed(all[2]) + "\r\n" + Listed(all[3]) + "\r\n[/files_critical]\r\n"
              "[files_normal]\r\n" + Listed(all[4]) + "\r\n" + Listed(all[5]) + "\r\n[/files_normal]\r\n");
    EXPECT_EQ(all[3].MD5, "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(DecodeOneStream(server.Read("files.lst.bz2")), list);

    // Nothing else is left in the server folder, temporary files included.
    std::set<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(server.Path()))
        if (entry.is_regular_file()) found.insert(fs::relative(entry.path(), server.Path()).generic_string());
    EXPECT_EQ(found, expectedNames);
}

TEST(ServerFolder, RebuildReplacesChangedCopiesAndOmitsAnAbsentSelfEntry) {
    const ScratchFolder client, server;
    client.Write("a/b.dat", "first");
    TPublishDescription description;
    description.NormalFiles = {"a/b.dat", "a\\b.dat"};
    BuildServerFolder(client.Dir(), server.Dir(), description);

    client.Write("a/b.dat", "second version");
    description.Rev = 2;
    const TPublishedFolder folder = BuildServerFolder(client.Dir(), server.Dir(), description);
    EXPECT_EQ(DecodeOneStream(server.Read("a/b.dat.bz2")), "second version");
    ASSERT_EQ(folder.Normal.size(), 2u);
    EXPECT_EQ(folder.Normal[0].MD5, DigestToHex(FileMD5(client.OsFile("a/b.dat"))));
    EXPECT_EQ(Listed(folder.Normal[0]), Listed(folder.Normal[1]));
    const std::string list = server.Read("files.lst");
    EXPECT_NE(list.find("Rev|2\r\n"), std::string::npos);
    EXPECT_EQ(list.find("[self]"), std::string::npos);
}

TEST(ServerFolder, RefusesEntriesTheListCannotCarryBeforeWritingAnything) {
    const ScratchFolder client, server;
    client.Write("ok.dat", "x");
    const auto build = [&](const std::function<void(TPublishDescription&)>& change) {
        TPublishDescription description;
        description.CriticalFiles = {"ok.dat"};
        change(description);
        BuildServerFolder(client.Dir(), server.Dir(), description);
    };
    // Paths leaving the folder (the rule itself is tested with the path routines) or breaking the line.
    for (const char* path : {"", "../ok.dat", "a/./ok.dat", "a|b", "ok\r\n.dat"})
        EXPECT_THROW(build([&](TPublishDescription& d) { d.NormalFiles = {path}; }), EPublishError) << path;
    // Names the launcher would refuse: its own files, devices, names Windows alters, paths too long
    // for the assumed installation folder, the launcher as a file; self names Update.bat cannot carry.
    for (const std::string& path : TStringList{"Update.bat", "_settings.ini", "data/CON.txt", "a.", "_SETTI~1.INI",
                                               std::string(140, 'p'), "OrvexUpdater.exe"})
        EXPECT_THROW(build([&](TPublishDescription& d) {
            d.SelfName = "OrvexUpdater.exe";
            d.NormalFiles = {path};
        }), EPublishError) << path;
    for (const char* name : {"bin/OrvexUpdater.exe", "a|b.exe", "..", "a&b.exe", "x(1).exe", "files.lst"})
        EXPECT_THROW(build([&](TPublishDescription& d) { d.SelfName = name; }), EPublishError) << name;
    try {
        build([](TPublishDescription& d) { d.NormalFiles = {"data/nul.txt"}; });
        ADD_FAILURE() << "a device name was published";
    } catch (const EPublishError& error) {
        EXPECT_STREQ(error.what(), "\"data/nul.txt\" has the Windows device name \"nul.txt\": it cannot be published");
    }
    EXPECT_THROW(build([](TPublishDescription& d) { d.Hosts = {{"127.0.0.1", "a|b"}}; }), EPublishError);
    EXPECT_THROW(build([](TPublishDescription& d) { d.Hosts = {{"", "host"}}; }), EPublishError);
    // Host entries the clients would refuse, failing every player's run.
    EXPECT_THROW(build([](TPublishDescription& d) { d.Hosts = {{"127.0.0.1", "localhost"}}; }), EPublishError);
    EXPECT_THROW(build([](TPublishDescription& d) { d.Hosts = {{"300.0.0.1", "login.example.net"}}; }), EPublishError);
    EXPECT_TRUE(fs::is_empty(server.Path()));

    EXPECT_THROW(build([](TPublishDescription& d) { d.NormalFiles = {"missing.dat"}; }), EFOpenError);
    EXPECT_FALSE(fs::exists(server.OsFile("files.lst")));
}

TEST(ListClientFiles, WalksSubFoldersWithSpacesAndSingleByteNames) {
    ScratchFolder client;
    client.Write("a b/c d/e f.txt", "1");
    client.Write("top.bin", "2");
    const bool windows = test::WindowsPaths();
    // On Windows the name must exist in the ANSI code page; here names are UTF-8.
    const fs::path accented = windows ? fs::path(L"caf\u00e9.dat") : fs::path(std::string("caf\xc3\xa9.dat"));
    std::ofstream(client.Path() / accented) << "3";
    const TStringList files = ListClientFiles(client.Dir());
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0], "a b\\c d\\e f.txt");
    EXPECT_EQ(files[1], LocalNameFrom(1252, "caf\xe9.dat"));
    EXPECT_EQ(files[2], "top.bin");

    // What the walker names, the publisher can read.
    ScratchFolder server;
    PublishServerFolder(client.Dir(), server.Dir(), AllNormal(client), {});
    EXPECT_TRUE(VerifyServerFolder(server.Dir()).empty());
    // Only in a code page that holds its names: 1251 has no accented Latin letters.
    TPublishDescription cyrillic = AllNormal(client);
    cyrillic.CodePage = 1251;
    ScratchFolder refused;
    try {
        PublishServerFolder(client.Dir(), refused.Dir(), cyrillic, {});
        ADD_FAILURE() << "published a name code page 1251 cannot hold";
    } catch (const EPublishError& error) {
        EXPECT_NE(std::string(error.what()).find("caf"), std::string::npos) << error.what();
        EXPECT_NE(std::string(error.what()).find("the list's code page 1251"), std::string::npos) << error.what();
    }

    ScratchFolder cased;
    cased.Write("Data/x.dat", "1");
    cased.Write("data/x.dat", "2");
    if (fs::exists(cased.Path() / "Data") && fs::exists(cased.Path() / "data") && Tree(cased.Path()).size() == 2) {
        EXPECT_THROW(ListClientFiles(cased.Dir()), EPublishError);
    }

    ScratchFolder foreign;
    std::ofstream(foreign.Path() / (windows ? fs::path(L"\u4e2d.dat") : fs::path("\xff.dat"))) << "x";
    EXPECT_THROW(ListClientFiles(foreign.Dir()), EPublishError);
}

TEST(PublishServerFolder, GivesAnInstallationIdenticalToTheClient) {
    Published p;
    p.Client.Write("_settings.ini", "[main]\r\n");  // never published
    ScratchFolder installation;
    const TUpdateList list = ReadUpdateList(p.Server.Read("files.lst"));
    for (const std::string& line : list.Normal) {
        TStringList fields;
        std::string rest = line;
        for (std::size_t bar; (bar = rest.find('|')) != std::string::npos; rest.erase(0, bar + 1))
            fields.push_back(rest.substr(0, bar));
        std::string path = fields[0];
        std::replace(path.begin(), path.end(), '\\', '/');
        installation.Write(path, Decoded((p.Server.Path() / (path + ".bz2")).string()));
    }
    auto client = Tree(p.Client.Path());
    client.erase("_settings.ini");
    EXPECT_EQ(Tree(installation.Path()), client);
}

TEST(PublishServerFolder, RepublishesOnlyWhatChangedAndCountsRevUp) {
    Published p;
    EXPECT_EQ(p.First.Rev, 1);
    EXPECT_EQ(p.First.Compressed, 4u);
    const std::string firstList = p.Server.Read("files.lst.bz2");

    const TPublishSummary same = PublishServerFolder(p.Client.Dir(), p.Server.Dir(), AllNormal(p.Client), {});
    EXPECT_EQ(same.Compressed, 0u);
    EXPECT_EQ(same.Reused, 4u);
    EXPECT_EQ(same.Rev, 1);
    EXPECT_FALSE(same.ListChanged);
    EXPECT_EQ(p.Server.Read("files.lst.bz2"), firstList);

    p.Client.Write("data/text file.txt", "changed");
    const TPublishSummary one = PublishServerFolder(p.Client.Dir(), p.Server.Dir(), AllNormal(p.Client), {});
    EXPECT_EQ(one.Compressed, 1u);
    EXPECT_EQ(one.Rev, 2);
    EXPECT_EQ(Decoded((p.Server.Path() / "data/text file.txt.bz2").string()), "changed");

    // A copy that lost bytes is compressed again although the file did not change.
    fs::resize_file(p.Server.Path() / "game.exe.bz2", 100);
    const TPublishSummary repaired = PublishServerFolder(p.Client.Dir(), p.Server.Dir(), AllNormal(p.Client), {});
    EXPECT_EQ(repaired.Compressed, 1u);
    EXPECT_EQ(repaired.Rev, 2);
    ASSERT_EQ(repaired.CopiesReplaced.size(), 1u);
    EXPECT_TRUE(repaired.CopiesReplaced[0].starts_with("game.exe.bz2 had 100 bytes, the list says ")) << repaired.CopiesReplaced[0];
    fs::remove(p.Server.Path() / "data/text file.txt.bz2");
    EXPECT_EQ(PublishServerFolder(p.Client.Dir(), p.Server.Dir(), AllNormal(p.Client), {}).CopiesReplaced,
              TStringList{os::NativePath("data\\text file.txt.bz2") + " was missing"});

    TPublishOptions fixed;
    fixed.Rev = 40;
    EXPECT_EQ(PublishServerFolder(p.Client.Dir(), p.Server.Dir(), AllNormal(p.Client), fixed).Rev, 40);
    EXPECT_EQ(ReadUpdateList(p.Server.Read("files.lst")).Rev, "40");
    EXPECT_TRUE(VerifyServerFolder(p.Server.Dir()).empty());
}

TEST(PublishServerFolder, PrunesCopiesOfRemovedFilesOnlyWhenAsked) {
    Published p;
    p.Server.Write("index.html", "kept");
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
    for (int i = 0; i < 24; ++i) client.Write("f/" + std::to_string(i) + ".bin", Mixed(20000 + 3000 * i, i));
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

TEST(PublishServerFolder, SignsAfterTheListCountingSeqOnFromAnyKeysSignature) {
    Published p;
    const minisign::TKeyPair first = minisign::GenerateKeyPair(), second = minisign::GenerateKeyPair();
    const auto publish = [&p](const minisign::TKeyPair& key, std::optional<uint64_t> seq = std::nullopt) {
        TPublishOptions options;
        options.Signing = TListSigning{key.Secret, seq, std::nullopt, "", ""};
        return PublishServerFolder(p.Client.Dir(), p.Server.Dir(), AllNormal(p.Client), options);
    };
    const auto signedFields = [&p](const minisign::TKeyPair& key) {
        const auto verified = minisign::Verify({key.Public}, p.Server.Read(ListSignatureName), p.Server.Read("files.lst.bz2"));
        EXPECT_EQ(verified.Verdict, minisign::TVerdict::Ok) << verified.Reason;
        return minisign::ParseTrustedFields(verified.TrustedComment).Value.value_or(minisign::TTrustedFields{});
    };

    const TPublishSummary unchanged = publish(first);  // an unsigned list gets its first signature
    EXPECT_TRUE(unchanged.Signed);
    EXPECT_EQ(unchanged.Seq, 1u);
    EXPECT_EQ(signedFields(first).Rev, 1u);
    const std::string signature = p.Server.Read(ListSignatureName);
    EXPECT_FALSE(publish(first).Signed) << "a current signature is kept";
    EXPECT_EQ(p.Server.Read(ListSignatureName), signature);
    EXPECT_TRUE(publish(second).Signed) << "another key signs again";
    EXPECT_EQ(signedFields(second).Seq, 2u);

    p.Client.Write("empty.bin", "now full");
    const TPublishSummary changed = publish(first);
    EXPECT_EQ(changed.Rev, 2);
    EXPECT_EQ(signedFields(first).Rev, 2u);
    EXPECT_EQ(signedFields(first).Seq, 3u);
    EXPECT_EQ(publish(first, 90).Seq, 90u);

    // Counting from 1 again would lock out players who took seq 90: nothing is written.
    p.Server.Write(ListSignatureName, "damaged");
    p.Client.Write("empty.bin", "");
    const std::string list = p.Server.Read("files.lst.bz2");
    EXPECT_THROW(publish(first), EPublishError);
    EXPECT_EQ(p.Server.Read("files.lst.bz2"), list);
}

// KEYFILE.seq keeps the last number signed, so a folder built anew counts on instead of starting
// at 1; the channel goes into the trusted comment, and a signature of another channel is not kept.
TEST(PublishServerFolder, TheKeptSequenceOutlivesTheServerFolderAndTheChannelIsSigned) {
    Published p;
    ScratchFolder keys, rebuilt;
    const minisign::TKeyPair key = minisign::GenerateKeyPair();
    const std::string seqFile = keys.OsFile("talvora.key.seq");
    const auto publish = [&](const ScratchFolder& server, std::optional<std::string> channel,
                             std::optional<uint64_t> seq = {}) {
        TPublishOptions options;
        options.Signing = TListSigning{key.Secret, seq, std::nullopt, channel, seqFile};
        return PublishServerFolder(p.Client.Dir(), server.Dir(), AllNormal(p.Client), options);
    };
    const auto signedFields = [&key](const ScratchFolder& server) {
        const auto verified = minisign::Verify({key.Public}, server.Read(ListSignatureName), server.Read("files.lst.bz2"));
        return minisign::ParseTrustedFields(verified.TrustedComment).Value.value_or(minisign::TTrustedFields{});
    };

    EXPECT_EQ(publish(p.Server, "").Seq, 1u);
    EXPECT_EQ(keys.Read("talvora.key.seq"), "1\n");
    EXPECT_EQ(publish(p.Server, "", 40).Seq, 40u);
    const TPublishSummary fresh = publish(rebuilt, "");
    EXPECT_TRUE(fresh.Signed);
    EXPECT_EQ(fresh.Seq, 41u) << "a folder built anew counts on from the kept number";
    EXPECT_EQ(keys.Read("talvora.key.seq"), "41\n");

    const TPublishSummary live = publish(rebuilt, "live");
    EXPECT_TRUE(live.Signed) << "a signature of no channel is not kept for channel live";
    EXPECT_EQ(signedFields(rebuilt).Channel, "live");
    EXPECT_EQ(signedFields(rebuilt).Seq, 42u);
    const TPublishSummary kept = publish(rebuilt, std::nullopt);
    EXPECT_FALSE(kept.Signed) << "no channel given: the published one's";
    EXPECT_EQ(kept.Seq, 42u) << "the kept signature's number";
    EXPECT_TRUE(publish(rebuilt, std::nullopt, 50).Signed);
    EXPECT_EQ(signedFields(rebuilt).Channel, "live") << "a new signature without --channel keeps the channel";

    keys.Write("talvora.key.seq", "forty");
    const std::string signature = rebuilt.Read(ListSignatureName);
    EXPECT_THROW(publish(rebuilt, "live"), EPublishError);
    EXPECT_EQ(rebuilt.Read(ListSignatureName), signature);
}

TEST(ListClientFiles, RefusesEveryLinkInOneRunUnlessExcluded) {
    ScratchFolder client, outside;
    client.Write("game.exe", "1");
    outside.Write("passwd", "secret");
    if (!test::MakeLink(outside.Path() / "passwd", client.Path() / "passwd") ||
        !test::MakeLink(outside.Path(), client.Path() / "server") ||
        !test::MakeLink(outside.Path() / "passwd", client.Path() / "logs.lnk"))
        GTEST_SKIP() << "no links here";
    std::string message;
    try {
        ListClientFiles(client.Dir(), [](const std::string& path) { return path == "logs.lnk"; });
    } catch (const EPublishError& error) {
        message = error.what();
    }
    EXPECT_EQ(message, "\"passwd\" is a link: only plain files are published\n"
                       "\"server\" is a link: only plain files are published");
    EXPECT_EQ(ListClientFiles(client.Dir(), [](const std::string& path) { return path != "game.exe"; }),
              TStringList{"game.exe"});
    // Named by a description made before the link came, it is refused all the same.
    const ScratchFolder server;
    TPublishDescription description;
    description.NormalFiles = {"game.exe", "passwd"};
    EXPECT_THROW(PublishServerFolder(client.Dir(), server.Dir(), description, {}), EPublishError);
    EXPECT_TRUE(fs::is_empty(server.Path()));
    for (const char* link : {"passwd", "server", "logs.lnk"}) test::RemoveLeftLink(client.Path() / link);
}

TEST(PublishServerFolder, FailingPublishLeavesTheOldReleaseAndNoTemporary) {
    Published p;
    const auto before = Tree(p.Server.Path());
    p.Client.Write("game.exe", Mixed(200000, 9));  // compressed before the missing file fails
    TPublishDescription description = AllNormal(p.Client);
    description.NormalFiles.push_back("missing.dat");
    TPublishOptions options;
    options.Chunks = true;
    options.Threads = 1;
    EXPECT_THROW(PublishServerFolder(p.Client.Dir(), p.Server.Dir(), description, options), EFOpenError);
    auto after = Tree(p.Server.Path());
    // New chunks are new names no list refers to yet; nothing else may differ.
    std::erase_if(after, [](const auto& file) { return file.first.starts_with("chunks"); });
    EXPECT_EQ(after, before);
}

TEST(PublishServerFolder, RemovesOnlyThePublishersLeftoverTemporaries) {
    Published p;
    const std::map<std::string, bool> planted = {
        {"game.exe.bz2.4242_0.orvex-part", true},       {"data/maps/m 1.dat.bz2.7_12.orvex-part", true},
        {"files.lst.bz2.1_1.orvex-part", true},         {"notes.orvex-part", false},
        {"game.exe.bz2.42x_0.orvex-part", false},       {"game.exe.bz2.4242_0.orvex-part.txt", false},
        {".1_1.orvex-part", false},
    };
    for (const auto& [name, _] : planted) p.Server.Write(name, "left");
    p.Server.Write(PublishMarkName, "");  // a publish stopped after its last rename: verify names it until now
    const TPublishSummary summary = PublishServerFolder(p.Client.Dir(), p.Server.Dir(), AllNormal(p.Client), {});
    EXPECT_EQ(summary.LeftoversRemoved, 3u);
    for (const auto& [name, removed] : planted) EXPECT_EQ(fs::exists(p.Server.OsFile(name)), !removed) << name;
    EXPECT_TRUE(VerifyServerFolder(p.Server.Dir()).empty());
}
