// Best-lap marks and the order of laps opened with one lap first.
#include "library/lap_browse.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/sample_files.h"

namespace lapquill {
namespace {

LapEntry Lap(const char* track, const char* config, std::optional<std::int32_t> ms) {
    LapEntry e;
    e.track = track;
    e.config = config;
    e.lapTimeMs = ms;
    return e;
}

TEST(BestLapFlags, MarksEveryFastestLapPerTrackAndConfigurationAndNeverALapWithoutTime) {
    const std::vector<LapEntry> laps = {
        Lap("Vale", "GP", 81000),     Lap("Vale", "GP", 80500), Lap("Vale", "GP", 80500),
        Lap("Vale", "Club", 90000),   Lap("Ring", "GP", std::nullopt),
        Lap("Ring", "GP", 99000),     Lap("Moor", "GP", std::nullopt),
    };
    EXPECT_EQ(BestLapFlags(laps), (std::vector<bool>{false, true, true, true, false, true, false}));
    EXPECT_TRUE(BestLapFlags({}).empty());
}

TEST(LapsWithFirst, LeadsWithTheLapKeepsOthersOnceAndHoldsSix) {
    const std::vector<std::string> shown = {"/l/a.raf", "/l/b.raf", "/l/c.raf", "/l/d.raf", "/l/e.raf", "/l/f.raf"};
    EXPECT_EQ(LapsWithFirst("/l/c.raf", shown, true),
              (std::vector<std::string>{"/l/c.raf", "/l/a.raf", "/l/b.raf", "/l/d.raf", "/l/e.raf", "/l/f.raf"}));
    EXPECT_EQ(LapsWithFirst("/l/z.raf", shown, true),
              (std::vector<std::string>{"/l/z.raf", "/l/a.raf", "/l/b.raf", "/l/c.raf", "/l/d.raf", "/l/e.raf"}));
    EXPECT_EQ(LapsWithFirst("/l/z.raf", shown, false), std::vector<std::string>{"/l/z.raf"});
    EXPECT_EQ(LapsWithFirst("/l/z.raf", {}, true), std::vector<std::string>{"/l/z.raf"});
}

TEST(LapsWithFirst, TheSameFileUnderAnotherNameCountsOnce) {
    test::TempDir dir;
    const auto file = dir.path() / "lap.raf";
    std::ofstream(file) << "x";
    std::filesystem::create_symlink(file, dir.path() / "link.raf");
    const std::string spelled = (dir.path() / "." / "lap.raf").string();
    EXPECT_EQ(LapsWithFirst(file.string(), {spelled, (dir.path() / "link.raf").string()}, true),
              std::vector<std::string>{file.string()});
    const std::string other = (dir.path() / "other.raf").string();
    EXPECT_EQ(LapsNotShown({spelled, other, (dir.path() / "link.raf").string()}, {file.string()}),
              std::vector<std::string>{other});
    EXPECT_EQ(LapsNotShown({other}, {}), std::vector<std::string>{other});
}

}  // namespace
}  // namespace lapquill
