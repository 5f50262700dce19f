// --data-folder: the commands that open replays find the track and segment file in the folder
// the user names (as File > Set Data Folder... does for the desktop program) when neither
// data/smx nor the replays' own data folder has them.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>

#include "support/cli_run.h"
#include "support/replay_builder.h"
#include "tools/command_line.h"

namespace lapquill::cli {
namespace {

namespace fs = std::filesystem;

using test::Cli;
using test::CommandRun;

// The track and its markers live in mine/smx; the laps in laps/, with no data/smx beside them,
// and the commands run from a folder without data/smx.
class DataFolderTest : public ::testing::Test {
  protected:
    DataFolderTest() {
        world.AddMarkedTrack(100.0f, 200.0f);
        fs::create_directories("mine");
        fs::rename("data/smx", "mine/smx");
        fs::create_directories("laps");
        fast = (fs::current_path() / "laps/fast.raf").string();
        slow = (fs::current_path() / "laps/slow.raf").string();
        WriteBytesToFile(fast, EncodeReplayFile(test::BuildLap({})));
        test::LapPlan slowPlan;
        slowPlan.step = 0.2f;
        slowPlan.records = 2500;
        WriteBytesToFile(slow, EncodeReplayFile(test::BuildLap(slowPlan)));
        mine = (fs::current_path() / "mine").string();
        fs::create_directories("elsewhere");
        fs::current_path("elsewhere");
    }
    test::TestWorld world;
    std::string fast, slow, mine;
};

TEST_F(DataFolderTest, TableAndRenderFindTheTrackThere) {
    const CommandRun without = Cli({"table", "--json", fast});
    EXPECT_EQ(nlohmann::json::parse(without.out)["replays"].size(), 0u) << without.out;
    EXPECT_NE(without.out.find("Could not load a track for"), std::string::npos) << without.out;

    const CommandRun with = Cli({"table", "--json", "--data-folder", mine, fast});
    ASSERT_EQ(with.status, 0) << with.err;
    const nlohmann::json table = nlohmann::json::parse(with.out);
    EXPECT_EQ(table["replays"].size(), 1u);
    EXPECT_EQ(table["markers"].size(), 2u) << "the segment file was found there too";

    // The smx folder itself may be named as well.
    const CommandRun smx = Cli({"render", "--data-folder", mine + "/smx", "--out", "f.png", fast});
    EXPECT_EQ(smx.status, 0) << smx.err;
    EXPECT_TRUE(fs::exists("f.png"));
}

TEST_F(DataFolderTest, CompareAndExportFindTheTrackThere) {
    EXPECT_NE(Cli({"compare", fast, slow}).status, 0);
    const CommandRun compare = Cli({"compare", "--json", "--data-folder", mine, fast, slow});
    ASSERT_EQ(compare.status, 0) << compare.err;
    EXPECT_EQ(nlohmann::json::parse(compare.out)["laps"].size(), 2u) << compare.out;
    const CommandRun exported = Cli({"export", "--data-folder", mine, "--out", "e.csv", fast, slow});
    EXPECT_EQ(exported.status, 0) << exported.err;
    EXPECT_GT(fs::file_size("e.csv"), 100u);
}

TEST_F(DataFolderTest, AFolderThatDoesNotExistIsAUsageError) {
    for (const char* command : {"table", "render", "compare", "export"}) {
        const CommandRun r = Cli({command, "--data-folder", "no-such-folder", fast});
        EXPECT_EQ(r.status, 2) << command;
        EXPECT_NE(r.err.find("--data-folder 'no-such-folder' is not a folder"), std::string::npos)
            << command << ": " << r.err;
    }
}

}  // namespace
}  // namespace lapquill::cli
