// Track data found where the replays are: beside the replay's raf folder, then in the data
// folder the user set; and the detail of each message says why and where it looked.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "support/fake_window.h"
#include "support/replay_builder.h"
#include "view/analysis_view.h"

namespace lapquill {
namespace {

namespace fs = std::filesystem;
using test::BuildLap;
using test::FakeWindow;
using test::TestWorld;

// The world's data folder holds the track; the program runs from a folder without data/smx.
class TrackSearchTest : public ::testing::Test {
  protected:
    TrackSearchTest() {
        world.AddMarkedTrack(50.0f, 150.0f);
        lap = world.AddLap("a", BuildLap({}));
        fs::create_directory("elsewhere");
        fs::current_path("elsewhere");
    }
    ~TrackSearchTest() override { fs::current_path(world.Root()); }
    CAnalysisView& View() {
        if (!view) view = std::make_unique<CAnalysisView>(window, [] { return 0.0; });
        return *view;
    }
    TestWorld world;
    std::string lap;
    FakeWindow window;
    std::unique_ptr<CAnalysisView> view;
};

TEST_F(TrackSearchTest, TrackAndSegmentsFoundBesideTheReplaysRafFolder) {
    ASSERT_TRUE(View().AddReplay("../" + lap));
    EXPECT_TRUE(View().Replays().meshLoaded);
    EXPECT_EQ(View().Replays().MarkerCount(), 2);
    EXPECT_TRUE(window.messages.empty());
}

TEST_F(TrackSearchTest, UserDataFolderIsTriedAndEveryFolderIsNamed) {
    // The replay alone, away from its data folder: nothing is found, and the detail says
    // where the program looked.
    fs::copy_file("../" + lap, "a.raf");
    EXPECT_FALSE(View().AddReplay("a.raf"));
    ASSERT_EQ(window.messages, std::vector<std::string>{"Could not load a track for \"Harrow Vale\"!"});
    EXPECT_NE(window.details[0].find("Searched in:\n  data/smx (in "), std::string::npos);
    EXPECT_NE(window.details[0].find("File > Set Data Folder"), std::string::npos);

    window.messages.clear();
    window.details.clear();
    View().SetTrackSearch({world.Root() + "/data"});
    ASSERT_TRUE(View().AddReplay("a.raf"));
    EXPECT_EQ(View().Replays().MarkerCount(), 2);
    EXPECT_TRUE(window.messages.empty());

    // Without segments there, the warning's detail names the folders tried.
    View().ClearReplays();
    fs::remove(world.Root() + "/data/smx/Harrow Vale GP.tsf");
    ASSERT_TRUE(View().AddReplay("a.raf"));
    ASSERT_EQ(window.details.size(), 1u);
    EXPECT_NE(window.details[0].find("\n  " + world.Root() + "/data/smx"), std::string::npos)
        << window.details[0];
}

TEST_F(TrackSearchTest, ReplayThatFailsSaysWhy) {
    EXPECT_FALSE(View().AddReplay("missing.raf"));
    ASSERT_EQ(window.messages, std::vector<std::string>{"Could not load replay \"missing.raf\"!"});
    EXPECT_EQ(window.details[0], "The file does not exist.");
}

}  // namespace
}  // namespace lapquill
