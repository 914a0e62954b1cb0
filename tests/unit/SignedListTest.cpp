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
        {"an older list", {list}, signature(key, list, "rev=3 seq=4"), "5", "its sequence number 4 is lower", 1},
        {"expired", {list}, signature(key, list, "rev=3 seq=5 expires=999"), "0", "it expired at 999", 1},
    };
    for (const auto& c : cases) {
        int fetches = 0;
        const TSignedList result = FetchSignedList([&] { return std::optional(Bytes(c.lists.at(fetches++))); },
                                                   [&] { return c.signature; }, {key.Public}, c.listSeq, 1000);
        EXPECT_EQ(result.Refusal.rfind(c.refusal, 0), 0u) << c.name << ": " << result.Refusal;
        EXPECT_EQ(result.Refusal.empty(), c.refusal.empty()) << c.name << ": " << result.Refusal;
        EXPECT_EQ(fetches, c.listFetches) << c.name;
        if (c.refusal.empty()) {
            EXPECT_EQ(result.Fields.Seq, 5u) << c.name;
        }
    }
}

TEST(AcceptSignedList, HoldsTheListToItsSignedRevisionAndTrustsTheKeysItNamesOnce) {
    const TKeyPair known = GenerateKeyPair(), added = GenerateKeyPair();
    const std::string knownLine = PublicKeyLine(known.Public), addedLine = PublicKeyLine(added.Public);
    const auto listWithKeys = [](const std::string& keys) {
        return TListFile::FromText("[settings]\nRev|3\n[/settings]\n[keys]\n" + keys + "[/keys]\n");
    };
    const struct {
        const char* name;
        std::string keys;
        uint64_t signedRev;
        std::string refusal;
        std::string updateKey;
    } cases[] = {
        {"no new key", knownLine + "\n", 3, "", knownLine},
        {"a new key, named twice", addedLine + "\n" + addedLine + "\n", 3, "", knownLine + " " + addedLine},
        {"another revision", "", 4, "its signature is for revision 4, the list is revision 3", knownLine},
        {"not a key", "RWQ\n", 3, "its keys section holds \"RWQ\", not a public key", knownLine},
    };
    for (const auto& c : cases) {
        TListFile list = listWithKeys(c.keys);
        const TListTrust trust = AcceptSignedList({c.signedRev, 9, std::nullopt}, list, 3, knownLine);
        EXPECT_EQ(trust.Refusal.rfind(c.refusal, 0), 0u) << c.name << ": " << trust.Refusal;
        EXPECT_EQ(trust.Refusal.empty(), c.refusal.empty()) << c.name;
        if (c.refusal.empty()) {
            EXPECT_EQ(trust.UpdateKey, c.updateKey) << c.name;
        }
        EXPECT_EQ(trust.ListSeq, 9u) << c.name;
    }
}
