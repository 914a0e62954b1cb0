#include "tools/publish/ServerVerify.h"

#include "common/PublishedClient.h"

#include "tools/publish/ListSignature.h"
#include "tools/publish/ServerFolder.h"
#include "tools/publish/StagedFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace orvex;
using orvex::test::Published;
namespace fs = std::filesystem;

TEST(VerifyServerFolder, ReportsEveryFault) {
    Published p;
    ASSERT_TRUE(VerifyServerFolder(p.Server.Dir()).empty());
    const fs::path server = p.Server.Path();

    // Damaged copy, joined streams, missing copy, wrong size.
    std::string damaged = p.Server.Read("game.exe.bz2");
    damaged[damaged.size() / 2] ^= 0x55;
    p.Server.Write("game.exe.bz2", damaged);
    const std::string text = p.Server.Read("data/text file.txt.bz2");
    p.Server.Write("data/text file.txt.bz2", text + text);
    fs::remove(server / "empty.bin.bz2");
    p.Server.Write(PublishMarkName, "");  // a publish stopped inside its burst
    std::string list = p.Server.Read("files.lst");
    // Wrong size, an escaping path, a missing field and a path differing only in letter case.
    const std::size_t m1 = list.find("data\\maps\\m 1.dat|");
    const std::size_t bar = list.rfind('|', list.find("\r\n", m1));
    list.replace(bar + 1, list.find("\r\n", m1) - bar - 1, "12");
    list.replace(list.find("[/files_normal]"), 0,
                 "..\\outside.dat|d41d8cd98f00b204e9800998ecf8427e|14\r\nshort|12\r\n"
                 "extra.dat|d41d8cd98f00b204e9800998ecf8427e|14\r\nEXTRA.dat|d41d8cd98f00b204e9800998ecf8427e|14\r\n");
    list.replace(list.find("ModHosts|0"), 10, "ModHosts|1");
    list += "[keys]\r\nRWQnot-a-key\r\n[/keys]\r\n";
    p.Client.Write("files.lst", list);
    ASSERT_TRUE(CompressFile(p.Client.File("files.lst"), p.Server.File("files.lst.bz2")).Size > 0);

    const TStringList problems = VerifyServerFolder(p.Server.Dir());
    std::string all;
    for (const std::string& problem : problems) all += problem + "\n";
    const auto reports = [&all](const std::string& what) { return all.find(what) != std::string::npos; };
    EXPECT_TRUE(reports("ModHosts is 1 but [hosts] has no entries")) << all;
    EXPECT_TRUE(reports("game.exe.bz2 is not valid bzip2 data; only build --full compresses it again")) << all;
    EXPECT_TRUE(reports("text file.txt.bz2 has data after its bzip2 stream")) << all;
    EXPECT_TRUE(reports("empty.bin.bz2 is missing")) << all;
    EXPECT_TRUE(reports("1.dat.bz2 has ")) << all;
    EXPECT_TRUE(reports("bytes, the list says 12; a build compresses it again")) << all;
    EXPECT_TRUE(reports("\"..\\outside.dat|d41d8cd98f00b204e9800998ecf8427e|14\": the path leaves the server folder")) << all;
    EXPECT_TRUE(reports("\"short|12\": has 2 fields, not 3")) << all;
    EXPECT_TRUE(reports("[keys] line \"RWQnot-a-key\" is not a public key")) << all;
    EXPECT_TRUE(reports("\"EXTRA.dat|d41d8cd98f00b204e9800998ecf8427e|14\": differs only in letter case from \"extra.dat\"")) << all;
    EXPECT_TRUE(reports("publish-in-progress: a publish is putting its files in place")) << all;
    EXPECT_EQ(problems.size(), 13u) << all;  // joined streams also have the wrong size

    fs::remove(p.Server.OsFile(PublishMarkName));
    p.Client.Write("files.lst", "[settings]\r\nRev|x\r\n[/settings]\r\n");
    CompressFile(p.Client.File("files.lst"), p.Server.File("files.lst.bz2"));
    EXPECT_EQ(VerifyServerFolder(p.Server.Dir()),
              (TStringList{"files.lst: Rev \"x\" is not a whole number", "files.lst: [settings] has no ModHosts"}));
}

TEST(VerifyServerFolder, HoldsTheSelfEntryAndTheFilesToTheLaunchersRule) {
    Published p;
    std::string list = p.Server.Read("files.lst");
    list.replace(list.find("[files_critical]"), 0,
                 "[self]\r\nOrvex(2).exe|d41d8cd98f00b204e9800998ecf8427e|14\r\n[/self]\r\n");
    list.replace(list.find("[/files_normal]"), 0,
                 "_settings.ini|d41d8cd98f00b204e9800998ecf8427e|14\r\n"
                 "data\\aux.dat|d41d8cd98f00b204e9800998ecf8427e|14\r\n");
    p.Client.Write("files.lst", list);
    ASSERT_TRUE(CompressFile(p.Client.File("files.lst"), p.Server.File("files.lst.bz2")).Size > 0);

    std::string all;
    for (const std::string& problem : VerifyServerFolder(p.Server.Dir())) all += problem + "\n";
    const auto reports = [&all](const std::string& what) { return all.find(what) != std::string::npos; };
    EXPECT_TRUE(reports("self entry \"Orvex(2).exe|")) << all;
    EXPECT_TRUE(reports("the self name holds a character Update.bat cannot carry")) << all;
    EXPECT_TRUE(reports("the path is the installation's own _settings.ini")) << all;
    EXPECT_TRUE(reports("the path has the Windows device name \"aux.dat\"")) << all;
}

// Without keys only the trusted comment can be read: a signature of another Rev (a list published
// unsigned over a signed one) is still told.
TEST(VerifyServerFolder, ChecksTheListSignatureWholeOnlyWithKeys) {
    Published p;
    const minisign::TKeyPair publisher = minisign::GenerateKeyPair(), stranger = minisign::GenerateKeyPair();
    const std::string packed = p.Server.Read("files.lst.bz2");
    EXPECT_TRUE(VerifyServerFolder(p.Server.Dir()).empty()) << "an unsigned folder stays sound without keys";
    const struct {
        const char* Case;
        minisign::TSecretKey Key;
        std::string Signed, Comment, Expected, ExpectedWithoutKeys;
    } rows[] = {
        {"sound", publisher.Secret, packed, "rev=1 seq=4", "", ""},
        {"sound, expiring later", publisher.Secret, packed, "rev=1 seq=4 expires=99999999999", "", ""},
        {"another list", publisher.Secret, packed + "x", "rev=1 seq=4", "the signature does not match the data", ""},
        {"another key", stranger.Secret, packed, "rev=1 seq=4", "which is not trusted", ""},
        {"another Rev", publisher.Secret, packed, "rev=2 seq=4", "signs rev 2, the list's Rev is 1",
         "signs rev 2, the list's Rev is 1: it does not match the list"},
        {"no seq", publisher.Secret, packed, "rev=1", "seq is missing", "cannot be read"},
        {"expired", publisher.Secret, packed, "rev=1 seq=4 expires=1000",
         "expired at 1970-01-01 00:16:40 UTC (Unix time 1000)", ""},
        {"expired on a leap day", publisher.Secret, packed, "rev=1 seq=4 expires=1709251199",
         "expired at 2024-02-29 23:59:59 UTC", ""},
    };
    const auto expect = [](const TStringList& problems, const std::string& expected, const std::string& what) {
        if (expected.empty()) {
            EXPECT_TRUE(problems.empty()) << what << ": " << problems[0];
        } else {
            ASSERT_EQ(problems.size(), 1u) << what;
            EXPECT_NE(problems[0].find(expected), std::string::npos) << what << ": " << problems[0];
        }
    };
    for (const auto& row : rows) {
        p.Server.Write(ListSignatureName, minisign::Sign(row.Key, row.Signed, row.Comment));
        expect(VerifyServerFolder(p.Server.Dir(), 1, {publisher.Public}), row.Expected, row.Case);
        expect(VerifyServerFolder(p.Server.Dir(), 1), row.ExpectedWithoutKeys, std::string(row.Case) + ", no keys");
    }
    // What verify prints it checked: the signature as read, told checked only with its key.
    p.Server.Write(ListSignatureName, minisign::Sign(publisher.Secret, packed, "rev=1 seq=4 expires=99999999999 channel=live"));
    const TServerCheck withKey = CheckServerFolder(p.Server.Dir(), TVerifyOptions{1, {publisher.Public}, false, {}});
    ASSERT_TRUE(withKey.Signature);
    EXPECT_EQ(withKey.Signature->KeyId, minisign::KeyIdText(publisher.Public.KeyId));
    EXPECT_EQ(withKey.Signature->Seq, 4u);
    EXPECT_EQ(withKey.Signature->Channel, "live");
    EXPECT_EQ(withKey.Signature->Expires, 99999999999u);
    EXPECT_TRUE(withKey.Signature->Checked);
    EXPECT_FALSE(CheckServerFolder(p.Server.Dir(), TVerifyOptions{1, {stranger.Public}, false, {}}).Signature->Checked);
    EXPECT_EQ(withKey.Rev, "1");
    EXPECT_EQ(withKey.Files, 4u);
    EXPECT_EQ(withKey.Copies, 4u);

    fs::remove(p.Server.Path() / ListSignatureName);
    const TStringList missing = VerifyServerFolder(p.Server.Dir(), 1, {publisher.Public});
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_TRUE(missing[0].ends_with("files.lst.bz2.minisig is missing")) << missing[0];
}
