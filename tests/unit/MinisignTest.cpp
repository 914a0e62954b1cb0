#include "common/ScratchFolder.h"

#include "formats/Minisign.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace orvex::minisign;
using orvex::test::ScratchFolder;

namespace {

const std::string Data = "[files]\ngame.exe 0123 42\n[/files]\n";

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string LineOf(const std::string& text, std::size_t index) { return LinesOf(text).at(index); }

std::string ReplaceLine(const std::string& text, std::size_t index, const std::string& line) {
    std::vector<std::string> lines = LinesOf(text);
    lines.at(index) = line;
    std::string joined;
    for (const auto& each : lines) joined += each + "\n";
    return joined;
}

TEST(Minisign, EachTamperingFailsItsOwnCheck) {
    const TKeyPair pair = GenerateKeyPair();
    const TKeyPair other = GenerateKeyPair();
    TPublicKey impostor = other.Public;  // another key under the trusted key's id
    impostor.KeyId = pair.Public.KeyId;
    const std::string signature = Sign(pair.Secret, Data, "rev=3 seq=9", "for the list");
    const auto line = [&](std::size_t index) { return LineOf(signature, index); };
    struct Case {
        const char* name;
        std::vector<TPublicKey> keys;
        std::string signature;
        std::string data;
        TVerdict verdict;
    };
    const std::vector<Case> cases{
        {"untouched", {other.Public, pair.Public}, signature, Data, TVerdict::Ok},
        {"untrusted comment changed", {pair.Public}, ReplaceLine(signature, 0, "untrusted comment: x"), Data, TVerdict::Ok},
        {"data changed", {pair.Public}, signature, Data + " ", TVerdict::SignatureWrong},
        {"trusted comment changed", {pair.Public}, ReplaceLine(signature, 2, "trusted comment: rev=4 seq=9"), Data,
         TVerdict::TrustedCommentWrong},
        {"other key", {other.Public}, signature, Data, TVerdict::KeyNotTrusted},
        {"no keys", {}, signature, Data, TVerdict::KeyNotTrusted},
        {"other key under the same id", {impostor}, signature, Data, TVerdict::SignatureWrong},
        {"last line missing", {pair.Public}, signature.substr(0, signature.rfind('\n', signature.size() - 2) + 1), Data,
         TVerdict::Malformed},
        {"signature line cut", {pair.Public}, ReplaceLine(signature, 1, line(1).substr(0, 40)), Data, TVerdict::Malformed},
        {"signature line garbled", {pair.Public}, ReplaceLine(signature, 1, "!" + line(1).substr(1)), Data, TVerdict::Malformed},
        {"global signature cut", {pair.Public}, ReplaceLine(signature, 3, line(3).substr(4)), Data, TVerdict::Malformed},
        {"trusted comment prefix lost", {pair.Public}, ReplaceLine(signature, 2, "rev=3 seq=9"), Data, TVerdict::Malformed},
        {"empty", {pair.Public}, "", Data, TVerdict::Malformed},
    };
    for (const Case& c : cases) {
        const TVerification result = Verify(c.keys, c.signature, c.data);
        EXPECT_EQ(result.Verdict, c.verdict) << c.name << ": " << result.Reason;
        EXPECT_EQ(result.Verdict == TVerdict::Ok, result.Reason.empty()) << c.name;
        EXPECT_EQ(result.TrustedComment, c.verdict == TVerdict::Ok ? "rev=3 seq=9" : "") << c.name;
    }
}

TEST(Minisign, KeysParseAndRefuse) {
    const TKeyPair pair = GenerateKeyPair();
    const TPublicKey second = GenerateKeyPair().Public;
    const std::string line = PublicKeyLine(pair.Public);
    EXPECT_EQ(line.substr(0, 2), "RW");
    for (const std::string& text : {line, line + "\n", PublicKeyFile(pair.Public), "untrusted comment: x\r\n" + line + "\r\n"}) {
        const auto key = ParsePublicKey(text);
        ASSERT_TRUE(key) << text << key.Error;
        EXPECT_EQ(key.Value->KeyId, pair.Public.KeyId);
        EXPECT_EQ(key.Value->Key, pair.Public.Key);
    }
    for (const std::string& bad : {std::string(), line.substr(1), "RX" + line.substr(2), line + "\n" + line, "comment\n" + line})
        EXPECT_FALSE(ParsePublicKey(bad)) << bad;

    // Shown as minisign names it in its key files: a little-endian number without leading zeros.
    EXPECT_EQ(KeyIdText(TKeyId{0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01}), "123456789ABCDEF");

    const auto keys = ParsePublicKeys(" " + line + "  " + PublicKeyLine(second) + " ");
    ASSERT_TRUE(keys) << keys.Error;
    ASSERT_EQ(keys.Value->size(), 2u);
    EXPECT_EQ((*keys.Value)[1].Key, second.Key);
    EXPECT_EQ(ParsePublicKeys(line + " nonsense").Error.substr(0, 6), "key 2:");

    const auto secret = ParseSecretKey(SecretKeyFile(pair.Secret));
    ASSERT_TRUE(secret) << secret.Error;
    EXPECT_EQ(secret.Value->Key, pair.Secret.Key);
    EXPECT_EQ(secret.Value->PublicKey().Key, pair.Public.Key);
    TSecretKey damaged = pair.Secret;
    damaged.Key[40] ^= 1;  // the public half no longer belongs to the seed
    EXPECT_NE(ParseSecretKey(SecretKeyFile(damaged)).Error.find("damaged"), std::string::npos);
    std::string badChecksum = SecretKeyFile(pair.Secret);
    badChecksum[badChecksum.size() - 5] = badChecksum[badChecksum.size() - 5] == 'A' ? 'B' : 'A';
    EXPECT_NE(ParseSecretKey(badChecksum).Error.find("checksum"), std::string::npos);
}

TEST(Minisign, TrustedFields) {
    struct Case {
        std::string comment;
        std::optional<TTrustedFields> fields;
    };
    const std::vector<Case> cases{
        {"rev=12 seq=7 expires=1767225600", TTrustedFields{12, 7, 1767225600, ""}},
        {"  seq=7  file:x note=a=b rev=12 ", TTrustedFields{12, 7, std::nullopt, ""}},
        {"rev=12 seq=7 channel=live-2.eu_west", TTrustedFields{12, 7, std::nullopt, "live-2.eu_west"}},
        {"rev=12 seq=7 channel=", std::nullopt},
        {"rev=12 seq=7 channel=a/b", std::nullopt},
        {"rev=12 seq=7 channel=" + std::string(65, 'a'), std::nullopt},
        {"rev=12 seq=7 channel=a channel=a", std::nullopt},
        {"rev=12", std::nullopt},
        {"rev=12 seq=", std::nullopt},
        {"rev=12 seq=+7", std::nullopt},
        {"rev=12 seq=7 expires=soon", std::nullopt},
        {"rev=12 seq=7 rev=13", std::nullopt},
        {"rev=18446744073709551616 seq=7", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto parsed = ParseTrustedFields(c.comment);
        ASSERT_EQ(parsed.Value.has_value(), c.fields.has_value()) << c.comment << " " << parsed.Error;
        if (!c.fields) continue;
        EXPECT_EQ(parsed.Value->Rev, c.fields->Rev) << c.comment;
        EXPECT_EQ(parsed.Value->Seq, c.fields->Seq) << c.comment;
        EXPECT_EQ(parsed.Value->Expires, c.fields->Expires) << c.comment;
        EXPECT_EQ(parsed.Value->Channel, c.fields->Channel) << c.comment;
        const auto again = ParseTrustedFields(FormatTrustedFields(*parsed.Value));
        EXPECT_EQ(again.Value->Expires, c.fields->Expires);
        EXPECT_EQ(again.Value->Channel, c.fields->Channel);
    }
}

#ifndef _WIN32
// The real minisign program and this module read each other's files.
class MinisignTool : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("minisign -v >/dev/null 2>&1") != 0) GTEST_SKIP() << "minisign is not installed";
        data = scratch.Write("files.lst", Data);
    }
    int Run(const std::string& arguments) { return std::system(("minisign " + arguments + " >/dev/null 2>&1 </dev/null").c_str()); }
    std::string Path(const std::string& name) { return scratch.OsFile(name); }

    ScratchFolder scratch;
    std::string data;
};

TEST_F(MinisignTool, VerifiesWhatWeSignWithOurKey) {
    const TKeyPair pair = GenerateKeyPair();
    scratch.Write("our.pub", PublicKeyFile(pair.Public));
    scratch.Write("files.lst.minisig", Sign(pair.Secret, Data, "rev=3 seq=9"));
    EXPECT_EQ(Run("-Vm " + data + " -p " + Path("our.pub")), 0);
    scratch.Write("our.key", SecretKeyFile(pair.Secret));
    ASSERT_EQ(Run("-S -W -s " + Path("our.key") + " -m " + data + " -x " + Path("tool.minisig") + " -t 'rev=4 seq=1'"), 0);
    EXPECT_EQ(Verify({pair.Public}, scratch.Read("tool.minisig"), Data).TrustedComment, "rev=4 seq=1");

    scratch.Write("files.lst", Data + "x");
    EXPECT_NE(Run("-Vm " + data + " -p " + Path("our.pub")), 0);
}

TEST_F(MinisignTool, WeVerifyWhatItSignsWithItsKey) {
    ASSERT_EQ(Run("-G -W -p " + Path("tool.pub") + " -s " + Path("tool.key")), 0);
    const auto key = ParsePublicKey(scratch.Read("tool.pub"));
    ASSERT_TRUE(key) << key.Error;
    EXPECT_EQ(PublicKeyFile(*key.Value), scratch.Read("tool.pub"));
    ASSERT_EQ(Run("-S -W -s " + Path("tool.key") + " -m " + data + " -t 'rev=3 seq=9'"), 0);
    ASSERT_EQ(Run("-S -l -W -s " + Path("tool.key") + " -m " + data + " -x " + Path("legacy.minisig")), 0);

    const TVerification prehashed = Verify({*key.Value}, scratch.Read("files.lst.minisig"), Data);
    ASSERT_EQ(prehashed.Verdict, TVerdict::Ok) << prehashed.Reason;
    const auto fields = ParseTrustedFields(prehashed.TrustedComment);
    ASSERT_TRUE(fields) << fields.Error;
    EXPECT_EQ(fields.Value->Rev, 3u);
    EXPECT_EQ(fields.Value->Seq, 9u);
    EXPECT_EQ(ParseSignature(scratch.Read("legacy.minisig")).Value->Algorithm, TSignatureAlgorithm::Legacy);
    EXPECT_EQ(Verify({*key.Value}, scratch.Read("legacy.minisig"), Data).Verdict, TVerdict::Ok);
    EXPECT_EQ(Verify({*key.Value}, scratch.Read("legacy.minisig"), Data + "x").Verdict, TVerdict::SignatureWrong);

    const auto secret = ParseSecretKey(scratch.Read("tool.key"));
    ASSERT_TRUE(secret) << secret.Error;
    EXPECT_EQ(secret.Value->PublicKey().Key, key.Value->Key);
    scratch.Write("ours.minisig", Sign(*secret.Value, Data, "rev=5 seq=10"));
    EXPECT_EQ(Run("-Vm " + data + " -x " + Path("ours.minisig") + " -p " + Path("tool.pub")), 0);
}

// Once minisign takes the password off, the key carries a real checksum, which must match ours.
TEST_F(MinisignTool, KeyWithPasswordIsRefusedUntilItIsRemoved) {
    const std::string key = Path("enc.key");
    ASSERT_EQ(std::system(("printf 'pw\\npw\\n' | minisign -G -p " + Path("enc.pub") + " -s " + key + " >/dev/null 2>&1").c_str()), 0);
    EXPECT_NE(ParseSecretKey(scratch.Read("enc.key")).Error.find("without"), std::string::npos);
    ASSERT_EQ(std::system(("printf 'pw\\n' | minisign -C -W -s " + key + " >/dev/null 2>&1").c_str()), 0);
    const auto secret = ParseSecretKey(scratch.Read("enc.key"));
    ASSERT_TRUE(secret) << secret.Error;
    EXPECT_EQ(PublicKeyFile(secret.Value->PublicKey()), scratch.Read("enc.pub"));
}
#endif

}  // namespace
