#include "tools/publish/ServerFolder.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <fstream>
#include <iterator>
#include <random>
#include <set>

using namespace orvex;
namespace fs = std::filesystem;

namespace {

class ScratchDir {
public:
    ScratchDir() {
        std::random_device seed;
        FPath = fs::temp_directory_path() / ("orvex_server_" + std::to_string(seed()));
        fs::create_directories(FPath);
    }
    ~ScratchDir() {
        std::error_code ignored;
        fs::remove_all(FPath, ignored);
    }
    // name with "/" between folders
    std::string Put(const std::string& name, const std::string& content) const {
        const fs::path path = FPath / fs::path(name);
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    std::string Path(const std::string& name = "") const { return (FPath / fs::path(name)).string(); }

private:
    fs::path FPath;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

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

std::string RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes) c = static_cast<char>(generator());
    return bytes;
}

std::string Listed(const TPublishedFile& file) { return file.Path + "|" + file.MD5 + "|" + std::to_string(file.Size); }

}  // namespace

TEST(CompressFile, WritesOneLevelNineStreamOfTheWholeFileAndItsDigest) {
    const ScratchDir dir;
    // More than one 900k block, part incompressible, part repetitive.
    std::string data = RandomBytes(1200000, 1);
    data += std::string(1500000, 'z');
    const std::string source = dir.Put("in.bin", data);
    const std::string target = dir.Path("out/deeper/in.bin.bz2");

    const TCompressedFile copy = CompressFile(source, target);
    const std::string packed = ReadAll(target);
    EXPECT_EQ(packed.substr(0, 4), "BZh9");
    EXPECT_EQ(copy.Size, static_cast<int64_t>(packed.size()));
    EXPECT_EQ(copy.SourceDigest, FileMD5(source));
    EXPECT_TRUE(DecodeOneStream(packed) == data);

    const TCompressedFile empty = CompressFile(dir.Put("empty.bin", ""), dir.Path("empty.bin.bz2"));
    const std::string emptyPacked = ReadAll(dir.Path("empty.bin.bz2"));
    EXPECT_EQ(empty.Size, static_cast<int64_t>(emptyPacked.size()));
    EXPECT_EQ(DigestToHex(empty.SourceDigest), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(DecodeOneStream(emptyPacked), "");
}

TEST(CompressFile, MissingSourceLeavesNothingBehind) {
    const ScratchDir dir;
    EXPECT_THROW(CompressFile(dir.Path("missing.bin"), dir.Path("missing.bin.bz2")), EFOpenError);
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

TEST(ServerFolder, PublishesEveryFileUnderItsPathAndListsItsDigestAndCopySize) {
    const ScratchDir client, server;
    const std::map<std::string, std::string> files = {
        {"OrvexUpdater.exe", RandomBytes(50000, 2)},
        {"game.exe", RandomBytes(70000, 3)},
        {"data/maps/m1.dat", RandomBytes(300000, 4) + std::string(200000, '\0')},
        {"data/text.txt", std::string(10000, 'a')},
        {"system/option.ini", "[Option]\r\nWidth=800\r\n"},
        {"empty.bin", ""},
    };
    for (const auto& [name, content] : files) client.Put(name, content);

    TPublishDescription description;
    description.Rev = 12;
    description.ModHosts = 1;
    description.Hosts = {{"127.0.0.1", "login.example.net"}, {"10.0.0.2", "patch.example.net"}};
    description.SelfName = "OrvexUpdater.exe";
    description.CriticalFiles = {"game.exe", "data/maps/m1.dat", "empty.bin"};
    description.NormalFiles = {"data\\text.txt", "system\\option.ini"};

    const TPublishedFolder folder = BuildServerFolder(client.Path(), server.Path(), description);
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
        const std::string packed = ReadAll(server.Path(name + ".bz2"));
        EXPECT_EQ(packed.substr(0, 4), "BZh9") << name;
        EXPECT_EQ(file.Size, static_cast<int64_t>(packed.size())) << name;
        EXPECT_TRUE(DecodeOneStream(packed) == files.at(name)) << name;
        EXPECT_EQ(file.MD5, DigestToHex(FileMD5(client.Path(name)))) << name;
    }

    const std::string list = ReadAll(server.Path("files.lst"));
    EXPECT_EQ(list,
              "[settings]\r\nRev|12\r\nModHosts|1\r\n[/settings]\r\n"
              "[hosts]\r\n127.0.0.1|login.example.net\r\n10.0.0.2|patch.example.net\r\n[/hosts]\r\n"
              "[self]\r\n" + Listed(all[0]) + "\r\n[/self]\r\n"
              "[files_critical]\r\n" + Listed(all[1]) + "\r\n" + Listed(all[2]) + "\r\n" + Listed(all[3]) + "\r\n[/files_critical]\r\n"
              "[files_normal]\r\n" + Listed(all[4]) + "\r\n" + Listed(all[5]) + "\r\n[/files_normal]\r\n");
    EXPECT_EQ(all[3].MD5, "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(DecodeOneStream(ReadAll(server.Path("files.lst.bz2"))), list);

    // Nothing else is left in the server folder, temporary files included.
    std::set<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(server.Path()))
        if (entry.is_regular_file()) found.insert(fs::relative(entry.path(), server.Path()).generic_string());
    EXPECT_EQ(found, expectedNames);
}

TEST(ServerFolder, RebuildReplacesChangedCopiesAndOmitsAnAbsentSelfEntry) {
    const ScratchDir client, server;
    client.Put("a/b.dat", "first");
    TPublishDescription description;
    description.NormalFiles = {"a/b.dat", "a\\b.dat"};
    BuildServerFolder(client.Path(), server.Path(), description);

    client.Put("a/b.dat", "second version");
    description.Rev = 2;
    const TPublishedFolder folder = BuildServerFolder(client.Path(), server.Path(), description);
    EXPECT_EQ(DecodeOneStream(ReadAll(server.Path("a/b.dat.bz2"))), "second version");
    ASSERT_EQ(folder.Normal.size(), 2u);
    EXPECT_EQ(folder.Normal[0].MD5, DigestToHex(FileMD5(client.Path("a/b.dat"))));
    EXPECT_EQ(Listed(folder.Normal[0]), Listed(folder.Normal[1]));
    const std::string list = ReadAll(server.Path("files.lst"));
    EXPECT_NE(list.find("Rev|2\r\n"), std::string::npos);
    EXPECT_EQ(list.find("[self]"), std::string::npos);
}

TEST(ServerFolder, RefusesEntriesTheListCannotCarryBeforeWritingAnything) {
    const ScratchDir client, server;
    client.Put("ok.dat", "x");
    const auto build = [&](const std::function<void(TPublishDescription&)>& change) {
        TPublishDescription description;
        description.CriticalFiles = {"ok.dat"};
        change(description);
        BuildServerFolder(client.Path(), server.Path(), description);
    };
    // Paths leaving the folder (the rule itself is tested with the path routines) or breaking the line.
    for (const char* path : {"", "../ok.dat", "a/./ok.dat", "a|b", "ok\r\n.dat"})
        EXPECT_THROW(build([&](TPublishDescription& d) { d.NormalFiles = {path}; }), EPublishError) << path;
    for (const char* name : {"bin/OrvexUpdater.exe", "a|b.exe", ".."})
        EXPECT_THROW(build([&](TPublishDescription& d) { d.SelfName = name; }), EPublishError) << name;
    EXPECT_THROW(build([](TPublishDescription& d) { d.Hosts = {{"127.0.0.1", "a|b"}}; }), EPublishError);
    EXPECT_THROW(build([](TPublishDescription& d) { d.Hosts = {{"", "host"}}; }), EPublishError);
    EXPECT_TRUE(fs::is_empty(server.Path()));

    EXPECT_THROW(build([](TPublishDescription& d) { d.NormalFiles = {"missing.dat"}; }), EFOpenError);
    EXPECT_FALSE(fs::exists(server.Path("files.lst")));
}
