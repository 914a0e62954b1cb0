// File names between this system, the update list's code page and the addresses of the copies.
#include "base/CodePage.h"

#include "common/WholeFile.h"
#include "formats/UpdateList.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace orvex;

namespace {

// The name as this system gives it: UTF-8, or on Windows the ANSI code page (none when that has no
// character for one of its characters).
std::optional<std::string> LocalOf(const std::string& utf8) {
    constexpr unsigned Utf8CodePage = 65001;
    return test::WindowsPaths() ? LocalNameFrom(Utf8CodePage, utf8) : std::optional(utf8);
}

struct TNameCase {
    const char* What;
    unsigned CodePage;
    std::string Name;                    // in UTF-8
    std::optional<std::string> Listed;   // as the list writes it; none: the code page cannot hold it
    std::string Request;                 // the copy's address in the server folder
};

}  // namespace

TEST(ListNames, TakeTheListsCodePageAndAskInPercentEncodedUtf8) {
    const TNameCase cases[] = {
        {"ASCII as ever", 1252, "data\\sub dir\\level 1.dat", "data\\sub dir\\level 1.dat",
         "data/sub dir/level 1.dat.bz2"},
        {"ASCII bytes stay as they were asked for", 1251, "a%b.txt", "a%b.txt", "a%b.txt.bz2"},
        {"Cyrillic in 1251", 1251, "data\\Карты и уровни\\карта 1.dat",
         "data\\\xCA\xE0\xF0\xF2\xFB \xE8 \xF3\xF0\xEE\xE2\xED\xE8\\\xEA\xE0\xF0\xF2\xE0 1.dat",
         "data/%D0%9A%D0%B0%D1%80%D1%82%D1%8B %D0%B8 %D1%83%D1%80%D0%BE%D0%B2%D0%BD%D0%B8/"
         "%D0%BA%D0%B0%D1%80%D1%82%D0%B0 1.dat.bz2"},
        {"Cyrillic in the DOS code page", 866, "карта.dat", "\xAA\xA0\xE0\xE2\xA0.dat",
         "%D0%BA%D0%B0%D1%80%D1%82%D0%B0.dat.bz2"},
        {"Latin in 1252", 1252, "café.dat", "caf\xE9.dat", "caf%C3%A9.dat.bz2"},
        {"Cyrillic is not in 1252", 1252, "карта.dat", std::nullopt, "%D0%BA%D0%B0%D1%80%D1%82%D0%B0.dat.bz2"},
        {"no look-alike for an accent 1251 lacks", 1251, "café.dat", std::nullopt, "caf%C3%A9.dat.bz2"},
    };
    for (const TNameCase& c : cases) {
        SCOPED_TRACE(c.What);
        const std::optional<std::string> local = LocalOf(c.Name);
        if (!local) continue;  // the ANSI code page here has no such name; the tools' test runs in others
        EXPECT_EQ(LocalNameIn(c.CodePage, *local), c.Listed);
        if (c.Listed) {
            EXPECT_EQ(LocalNameFrom(c.CodePage, *c.Listed), *local);
        }
        TListEntry entry;
        entry.Path = *local;
        EXPECT_EQ(entry.CopyRequest(), c.Request);
    }
}

TEST(ListCodePages, OnlySingleByteOnesThatKeepAscii) {
    const std::pair<unsigned, std::optional<std::string>> cases[] = {
        {1252, std::nullopt},
        {1251, std::nullopt},
        {866, std::nullopt},
        {932, "code page 932 is not a single-byte code page"},
        {37, "code page 37 does not keep ASCII as it is"},
        {99999, "code page 99999 is not known to this system"},
    };
    for (const auto& [codePage, reason] : cases) EXPECT_EQ(UnusableCodePage(codePage), reason) << codePage;
}
