#include "formats/LstFile.h"
#include "update/SignedList.h"

#include <gtest/gtest.h>

using namespace orvex;
using namespace orvex::minisign;

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace

// Each check of the signature and its trusted comment, in the order the run makes them.
TEST(FetchSignedList, RefusesWhatEachCheckFindsAndFetchesAListOfAnotherPublishOnceMore) {
    const TKeyPair key = GenerateKeyPair(), other = GenerateKeyPair();
    const std::string list = "list", newer = "newer list";
    const auto signature = [&](const TKeyPair& by, const std::string& data, const std::string& comment) {
        return std::optional(Bytes(Sign(by.Secret, data, comment)));
    };
    const struct {
        const char* name;
        std::vector<std::string> lists;  // what each fetch of the list gives
        std::optional<std::vector<uint8_t>> signature;
        std::string listSeq;
        std::string refusal;  // its beginning; empty: accepted
        int listFetches;
        std::string channel = "";  // the settings' Channel
        bool older = false;
    } cases[] = {
        {"good", {list}, signature(key, list, "rev=3 seq=5"), "5", "", 1},
        {"a publish between the downloads", {newer, list}, signature(key, list, "rev=3 seq=5"), "0", "", 2},
        {"not a signature of the list", {newer, newer}, signature(key, list, "rev=3 seq=5"), "0",
         "its signature is not a signature of this list", 2},
        {"no signature", {list}, std::nullopt, "0", "its signature files.lst.bz2.minisig could not be fetched", 1},
        {"another key", {list}, signature(other, list, "rev=3 seq=5"), "0",
         "its signature is made with a key not in UpdateKey", 1},
        {"no trusted fields", {list}, signature(key, list, "hello"), "0", "the signature's trusted comment is not readable", 1},
        {"ListSeq not a number", {list}, signature(key, list, "rev=3 seq=5"), "x", "ListSeq \"x\" in the settings", 1},
        {"an older list", {list}, signature(key, list, "rev=3 seq=4"), "5", "its sequence number 4 is lower", 1, "", true},
        {"expired", {list}, signature(key, list, "rev=3 seq=5 expires=999"), "0", "it expired at 999", 1},
        {"2^32 above the last", {list}, signature(key, list, "rev=3 seq=4294967301"), "5", "", 1},
        {"further above the last", {list}, signature(key, list, "rev=3 seq=4294967302"), "5",
         "its sequence number 4294967302 is more than 2^32 above the last accepted, 5", 1},
        {"the highest number", {list}, signature(key, list, "rev=3 seq=18446744073709551615"), "0",
         "its sequence number 18446744073709551615 is more than 2^32 above", 1},
        {"its channel", {list}, signature(key, list, "rev=3 seq=5 channel=live"), "5", "", 1, "live"},
        {"any channel without Channel", {list}, signature(key, list, "rev=3 seq=5 channel=beta"), "5", "", 1},
        {"another channel", {list}, signature(key, list, "rev=3 seq=5 channel=beta"), "5",
         "it is signed for channel \"beta\", the settings' Channel is \"live\"", 1, "live"},
        {"no channel with Channel set", {list}, signature(key, list, "rev=3 seq=5"), "5",
         "it is signed for no channel, the settings' Channel is \"live\"", 1, "live"},
    };
    for (const auto& c : cases) {
        int fetches = 0;
        const TSignedList result = FetchSignedList([&] { return std::optional(Bytes(c.lists.at(fetches++))); },
                                                   [&] { return c.signature; }, {{key.Public}, c.listSeq, c.channel, 1000});
        EXPECT_EQ(result.Refusal.rfind(c.refusal, 0), 0u) << c.name << ": " << result.Refusal;
        EXPECT_EQ(result.Refusal.empty(), c.refusal.empty()) << c.name << ": " << result.Refusal;
        EXPECT_EQ(result.Older, c.older) << c.name;
        EXPECT_EQ(fetches, c.listFetches) << c.name;
        if (c.refusal.empty()) {
            EXPECT_EQ(result.Signature.Fields.Rev, 3u) << c.name;
            EXPECT_EQ(result.Signature.Signer.Key, key.Public.Key) << c.name;
        }
    }
}

// A keys section replaces the trusted keys with the signing key and those it names, so a key that
// is no longer named is retired; more than fit the settings' value are refused.
TEST(AcceptSignedList, HoldsTheListToItsRevisionAndTrustsExactlyTheSignerAndTheKeysItNames) {
    std::vector<TKeyPair> keys;
    std::vector<std::string> lines;
    for (int i = 0; i < 9; ++i) {
        keys.push_back(GenerateKeyPair());
        lines.push_back(PublicKeyLine(keys.back().Public));
    }
    const auto joined = [&](std::initializer_list<int> which, const char* between) {
        std::string text;
        for (const int i : which) text += (text.empty() ? "" : between) + lines[i];
        return text;
    };
    const std::string named8 = joined({1, 2, 3, 4, 5, 6, 7}, "\n") + "\n";
    const auto ids = [&](std::initializer_list<int> which) {
        std::string text;
        for (const int i : which) text += (text.empty() ? "key " : ", key ") + KeyIdText(keys[static_cast<std::size_t>(i)].Public.KeyId);
        return text;
    };
    const std::string changed = "UpdateKey changed by the update list's keys section:";
    const struct {
        const char* name;
        int signer;
        std::string section;  // the keys section's lines; empty: no section
        uint64_t signedRev;
        std::string refusal;
        std::string updateKey;
        std::string change;
    } cases[] = {
        {"no keys section", 1, "", 3, "", joined({0, 1}, " "), ""},
        {"the same keys", 1, lines[0] + "\n", 3, "", joined({1, 0}, " "), ""},
        {"the signer alone", 0, lines[0] + "\n", 3, "", lines[0], changed + " retired " + ids({1})},
        {"a new key, named twice", 0, lines[2] + "\n" + lines[2] + "\n", 3, "", joined({0, 2}, " "),
         changed + " added " + ids({2}) + "; retired " + ids({1})},
        {"a key no longer named is retired", 1, lines[1] + "\n", 3, "", lines[1], changed + " retired " + ids({0})},
        {"eight in all", 0, named8, 3, "", joined({0, 1, 2, 3, 4, 5, 6, 7}, " "),
         changed + " added " + ids({2, 3, 4, 5, 6, 7})},
        {"nine in all", 0, named8 + lines[8] + "\n", 3, "its keys section would leave 9 keys trusted", "", ""},
        {"another revision", 0, "", 4, "its signature is for revision 4, the list is revision 3", "", ""},
        {"not a key", 0, "RWQ\n", 3, "its keys section holds \"RWQ\", not a public key", "", ""},
    };
    for (const auto& c : cases) {
        TListFile list = TListFile::FromText("[settings]\nRev|3\n[/settings]\n" +
                                             (c.section.empty() ? "" : "[keys]\n" + c.section + "[/keys]\n"));
        const TListSignature signature{{c.signedRev, 9, std::nullopt, ""}, keys[static_cast<std::size_t>(c.signer)].Public};
        const TListTrust trust = AcceptSignedList(signature, list, 3, joined({0, 1}, " "));
        EXPECT_EQ(trust.Refusal.rfind(c.refusal, 0), 0u) << c.name << ": " << trust.Refusal;
        EXPECT_EQ(trust.Refusal.empty(), c.refusal.empty()) << c.name;
        if (c.refusal.empty()) {
            EXPECT_EQ(trust.UpdateKey, c.updateKey) << c.name;
        }
        EXPECT_EQ(trust.Change, c.change) << c.name;
        EXPECT_EQ(trust.ListSeq, 9u) << c.name;
    }
}

// Earlier versions let UpdateKey grow past what a read returns, cutting the last key: the whole
// keys before it still count, so such a player can still take a list that names the keys anew.
TEST(WholeKeys, DropsOnlyAKeyCutAtTheLongestValue) {
    std::string many;
    while (many.size() < 2047) many += (many.empty() ? "" : " ") + PublicKeyLine(GenerateKeyPair().Public);
    const std::string cut = many.substr(0, 2047);
    const std::string whole = cut.substr(0, cut.rfind(' '));
    EXPECT_FALSE(ParsePublicKeys(cut));
    EXPECT_EQ(WholeKeys(cut), whole);
    EXPECT_TRUE(ParsePublicKeys(WholeKeys(cut)));
    EXPECT_EQ(WholeKeys(whole), whole) << "a value below the longest is taken as it is";
    EXPECT_EQ(WholeKeys("RWQ"), "RWQ") << "an unreadable short value stays unreadable";
}
