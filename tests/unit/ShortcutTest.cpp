#include "app/Shortcut.h"

#include "base/Os.h"
#include "base/Shell.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace orvex;

namespace {

// The desktop as the system reports it; the tests skip when there is none.
class DesktopShortcut : public ::testing::Test {
protected:
    void SetUp() override {
        FDesktop = os::DesktopFolder();
        if (FDesktop.empty()) GTEST_SKIP() << "no desktop folder";
    }
    void TearDown() override {
        // A shortcut the test did not get to make is not there to delete.
        for (const auto& name : FMade) static_cast<void>(os::DeleteFile(name));
    }
    std::string Path(const std::string& name) {
        FMade.push_back(FDesktop + "\\" + name + os::ShortcutExtension);
        return FMade.back();
    }
    std::string FDesktop;
    std::vector<std::string> FMade;
};

}  // namespace

TEST_F(DesktopShortcut, PointsAtTheProgramWithTheWorkingFolderAndDescription) {
    const std::string name = "Orvex test " + std::to_string(::testing::UnitTest::GetInstance()->random_seed());
    const std::string path = Path(name);
    os::WriteShortcut(path, {"stale", "stale", "stale"});  // an existing one is replaced
    CreateDesktopShortcut(name, "C:\\Games\\Talvora\\", "Play Talvora");
    ASSERT_TRUE(os::FileExists(path));
    const os::TShortcut made = os::ReadShortcut(path);
    EXPECT_EQ(made.Target, os::ProgramFileName());
    EXPECT_EQ(made.WorkingFolder, os::NativePath("C:\\Games\\Talvora\\"));
    EXPECT_EQ(made.Description, "Play Talvora");
}

TEST_F(DesktopShortcut, NothingForAnEmptyNameOrAMissingSubfolder) {
    const auto before = std::distance(std::filesystem::directory_iterator(os::NativePath(FDesktop)), {});
    CreateDesktopShortcut("", "C:\\", "Play Talvora");
    EXPECT_NO_THROW(CreateDesktopShortcut("no such folder\\Talvora", "C:\\", "Play Talvora"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(os::NativePath(FDesktop)), {}), before);
}

TEST(Shortcut, ReadsBackWhatWasWritten) {
    const auto folder = std::filesystem::temp_directory_path() / ("orvex_link_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(folder);
    const std::string path = folder.string() + "\\Talvora" + os::ShortcutExtension;
    {
        const os::TShortcut written{os::ProgramFileName(), os::NativePath("C:\\Games\\Tal $vora\\"), "Play \"Talvora\""};
        os::WriteShortcut(path, written);
        const os::TShortcut read = os::ReadShortcut(path);
        EXPECT_EQ(read.Target, written.Target);
        EXPECT_EQ(read.WorkingFolder, written.WorkingFolder);
        EXPECT_EQ(read.Description, written.Description);
    }
    std::filesystem::remove_all(folder);
}
