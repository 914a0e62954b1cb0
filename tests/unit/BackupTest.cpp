#include "common/Links.h"
#include "common/ScratchFolder.h"

#include "util/Backup.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace orvex;
using namespace orvex::test;
namespace fs = std::filesystem;

// Whatever stands at the backup's place or on its way there, nothing outside the backup folder
// changes; a link on the way is replaced by a real folder, or (under Wine, which cannot remove a
// Unix link to a folder) there is no backup.
TEST(CopyToBackup, ReplacesWhatIsAtItsPlaceAndNeverWritesThroughALink) {
    struct Case {
        const char* what;
        const char* older;       // an earlier backup at the place, or nullptr
        const char* link;        // a link made before, or nullptr
        const char* linkTarget;  // "outside" or "outside/file.txt"
    };
    const Case cases[] = {
        {"no backup yet", nullptr, nullptr, nullptr},
        {"an older backup", "older", nullptr, nullptr},
        {"a link at the file's place", nullptr, "backup/data/game.dat", "outside/file.txt"},
        {"a link as a folder on the way", nullptr, "backup/data", "outside"},
        {"the backup folder a link", nullptr, "backup", "outside"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder scratch;
        scratch.Write("data/game.dat", "installed");
        scratch.Write("outside/file.txt", "precious");
        if (c.older) scratch.Write("backup/data/game.dat", c.older);
        const bool linkToFolder = c.link && std::string(c.linkTarget) == "outside";
        if (c.link) {
            fs::create_directories((scratch.Path() / c.link).parent_path());
            ASSERT_TRUE(MakeLink(scratch.Path() / c.linkTarget, scratch.Path() / c.link));
        }

        const bool made = CopyToBackup(scratch.File("data\\game.dat"), scratch.File("backup"), "data\\game.dat");

        EXPECT_EQ(made, !(UnderWine() && linkToFolder));
        if (made) {
            EXPECT_EQ(scratch.Read("backup/data/game.dat"), "installed");
            EXPECT_FALSE(fs::is_symlink(scratch.Path() / "backup" / "data"));
            EXPECT_FALSE(fs::is_symlink(scratch.Path() / "backup" / "data" / "game.dat"));
        }
        EXPECT_EQ(scratch.Read("outside/file.txt"), "precious");
        EXPECT_FALSE(scratch.Exists("outside/game.dat")) << "written through the link";
        EXPECT_FALSE(scratch.Exists("outside/data")) << "written through the link";
        EXPECT_EQ(scratch.Read("data/game.dat"), "installed");
        if (c.link) RemoveLeftLink(scratch.Path() / c.link);
    }
}
