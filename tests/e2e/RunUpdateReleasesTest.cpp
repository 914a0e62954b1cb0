// Releases the current list announces: a rollout taken by the installations within its share, a
// preload staged ahead of its day and committed on it for the price of the list.
#include "RunUpdateFixture.h"

#include "common/RandomBytes.h"
#include "formats/Minisign.h"
#include "tools/publish/Releases.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using namespace orvex;
using namespace orvex::test;

namespace {

class ReleaseRunTest : public RunUpdateTest {
protected:
    void SetUp() override {
        RunUpdateTest::SetUp();
        FUpdateKey = minisign::PublicKeyLine(FKey.Public);
        FListSeq = "0";
        FBig = RandomBytes(2 * MiB, 7);
    }

    // Publishes release name: big.dat with its tenth from offset changed, small.txt holding name.
    TPublishSummary PublishRelease(const std::string& name, std::size_t offset,
                                   std::optional<TReleaseAnnouncement::TKind> announce = {}, int share = 0,
                                   bool dryRun = false) {
        FBig.replace(offset, FBig.size() / 10, RandomBytes(FBig.size() / 10, static_cast<unsigned>(offset + 1)));
        Put(Under(FClient, "data\\big.dat"), FBig);
        Put(Under(FClient, "small.txt"), "release " + name);
        FDescription.NormalFiles = {"data\\big.dat", "small.txt"};
        TPublishOptions options;
        options.Chunks = true;
        options.Release = name;
        options.Announce = announce;
        options.RolloutShare = share;
        options.Signing = Signing();
        options.DryRun = dryRun;
        FReleases[name] = {FBig, "release " + name};
        return PublishServerFolder(FClient.string(), FServer.string(), FDescription, options);
    }
    TListSigning Signing() { return TListSigning{FKey.Secret, ++FSeq, std::nullopt, std::nullopt, ""}; }

    // A run of the installation, which keeps what the run records as the launcher's settings do.
    void RunKept() {
        FView = RecordingView();
        Run(FAtRevision);
        if (!FView.SavedRevisions.empty()) FAtRevision = std::stoi(FView.SavedRevisions.back());
        if (!FView.SavedTrust.empty()) FListSeq = FView.SavedTrust.back().second;
    }
    bool AtRelease(const std::string& name) const {
        const auto& [big, small] = FReleases.at(name);
        return ReadWholeFile(Under(FInstall, "data\\big.dat")) == big && ReadWholeFile(Under(FInstall, "small.txt")) == small;
    }
    bool Told(const std::string& start) const {
        return std::any_of(FView.Notices.begin(), FView.Notices.end(),
                           [&](const std::string& notice) { return notice.rfind(start, 0) == 0; });
    }

    minisign::TKeyPair FKey = minisign::GenerateKeyPair();
    uint64_t FSeq = 0;
    int32_t FAtRevision = 0;
    std::string FBig;
    std::map<std::string, std::pair<std::string, std::string>> FReleases;
};

// An installation outside the share stays; raising the share takes it; withdrawing brings it back.
TEST_F(ReleaseRunTest, RolloutTakenWithinItsShareAndLeftWhenWithdrawn) {
    PublishRelease("r1", 0);
    RunKept();
    ASSERT_TRUE(AtRelease("r1")) << FStatus;
    PublishRelease("r2", MiB, TReleaseAnnouncement::TKind::Rollout, 30);

    FRolloutNumber = 5000;
    RunKept();
    EXPECT_EQ(FStatus, "") << "nothing to do";
    EXPECT_TRUE(AtRelease("r1"));

    SetRolloutShare(FServer.string(), "r2", 60, Signing());
    RunKept();
    EXPECT_EQ(FStatus, "All the files have been updated");
    EXPECT_TRUE(AtRelease("r2"));
    EXPECT_TRUE(Told("This installation takes release r2, rolled out to 60% of the installations"));
    EXPECT_LT(FFetched.Bytes, 512 * 1024u) << "only the chunks of the changed tenth";

    WithdrawRelease(FServer.string(), "r2", Signing());
    RunKept();
    EXPECT_EQ(FStatus, "All the files have been updated");
    EXPECT_TRUE(AtRelease("r1"));

    // An installation without a number makes one, once.
    FRolloutNumber = -1;
    PublishRelease("r3", 0, TReleaseAnnouncement::TKind::Rollout, 10);
    RunKept();
    ASSERT_EQ(FView.SavedRolloutNumbers.size(), 1u);
    EXPECT_LT(std::stoi(FView.SavedRolloutNumbers[0]), RolloutScale);
}

// A preloaded release costs its day only the list, its signature and its index.
TEST_F(ReleaseRunTest, PreloadStagedAheadAndCommittedOnPromotion) {
    PublishRelease("r1", 0);
    RunKept();
    ASSERT_TRUE(AtRelease("r1")) << FStatus;
    PublishRelease("r2", MiB, TReleaseAnnouncement::TKind::Preload);

    RunKept();
    EXPECT_EQ(FStatus, "") << "nothing to do";
    EXPECT_TRUE(AtRelease("r1")) << "nothing is put in place before the release's day";
    EXPECT_TRUE(Told("Release r2 preloaded: 2 files wait for its day"));

    MakeReleaseCurrent(FServer.string(), "r2", TCurrentRev::ReleaseOrNext, Signing(), 1);
    RunKept();
    EXPECT_EQ(FStatus, "All the files have been updated");
    EXPECT_TRUE(AtRelease("r2"));
    const uint64_t dayCost = fs::file_size(FServer / PackedListName) + fs::file_size(FServer / ListSignatureName) +
                             fs::file_size(FServer / ChunkIndexName);
    EXPECT_LE(FFetched.Bytes, dayCost);
    EXPECT_TRUE(FFetched.Built.empty());
    ExpectNoLeftovers();
}

// What plan says the players at the current release download through chunks is what they do.
TEST_F(ReleaseRunTest, PlanGivesWhatTheRunDownloads) {
    PublishRelease("r1", 0);
    RunKept();
    const std::string atR1 = FBig;
    const TPublishSummary plan = PublishRelease("r2", MiB, std::nullopt, 0, true);
    ASSERT_EQ(plan.Costs.size(), 1u);
    EXPECT_EQ(plan.Costs[0].Changed, 2u);
    FBig = atR1;  // the same change again, published this time
    PublishRelease("r2", MiB);
    RunKept();
    ASSERT_TRUE(AtRelease("r2")) << FStatus;
    uint64_t downloaded = 0;
    for (const auto& built : FFetched.Built) downloaded += built.Downloaded;
    EXPECT_EQ(downloaded, plan.Costs[0].ChunkBytes);
}

}  // namespace
