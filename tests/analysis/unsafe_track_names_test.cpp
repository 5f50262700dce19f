// A replay's track and configuration names are pasted into the segment file's path: names
// that would lead that path out of data/smx/ must never reach the file system.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "analysis/replay_set.h"
#include "files/le_reader.h"
#include "support/sample_files.h"

namespace lapquill {
namespace {

// Runs the test inside a fresh folder holding data/smx/, and returns to where it was.
class InDataFolder {
public:
    InDataFolder() : previous_(std::filesystem::current_path()) {
        std::filesystem::create_directories(dir_.path() / "data" / "smx" / "sub");
        std::filesystem::current_path(dir_.path());
    }
    ~InDataFolder() { std::filesystem::current_path(previous_); }
    InDataFolder(const InDataFolder&) = delete;
    InDataFolder& operator=(const InDataFolder&) = delete;

private:
    test::TempDir dir_;
    std::filesystem::path previous_;
};

TEST(UnsafeTrackNames, TheirSegmentFilesCountAsMissing) {
    struct Case {
        const char* track;
        const char* config;
        const char* planted;  // where the pasted path would have found a segment file
    };
    const Case cases[] = {
        {"../x", "GP", "data/x GP.tsf"},
        {"sub/dir", "GP", "data/smx/sub/dir GP.tsf"},
        {"Harrow Vale", "../../y", "y.tsf"},
        {"sub\\..", "GP", nullptr},  // backslash and dots are refused even where harmless here
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.track + std::string(" / ") + c.config);
        InDataFolder folder;
        ASSERT_TRUE(WriteBytesToFile("data/smx/track.smx",
                                     EncodeTrackMesh(test::SampleMesh(c.track))));
        if (c.planted) {
            TrackSegmentFile planted;
            planted.records = {MakeSegmentMarker("Planted", 10, {0, 0, 0}, 0, 5)};
            planted.SetMarkerCount(1);
            ASSERT_TRUE(WriteBytesToFile(c.planted, EncodeTrackSegmentFile(planted)));
        }
        ReplayFile lap = test::SampleReplay(4);
        SetHeaderText(&lap.header.bytes[96], 32, c.track);
        SetHeaderText(&lap.header.bytes[128], 16, c.config);
        ASSERT_TRUE(WriteBytesToFile("lap.raf", EncodeReplayFile(lap)));

        TrackCatalogue catalogue;
        BuildTrackCatalogue(&catalogue);
        ReplaySet set;
        std::vector<std::string> messages;
        ASSERT_EQ(AcceptReplay(&set, catalogue, "lap.raf", &messages), AcceptResult::Accepted);
        EXPECT_EQ(set.MarkerCount(), 0);
        EXPECT_EQ(set.segmentFile.MarkerCount(), 0);
        EXPECT_EQ(LastLoadFailure().step, "unsafe track name");
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], NoSegmentsMessage(c.track, c.config, SegmentFilePath(c.track, c.config)));
        ClearReplaySet(&set);
    }
}

TEST(UnsafeTrackNames, OrdinaryNamesStaySafe) {
    for (const char* name : {"Harrow Vale", "GP", "St. Anne's 2.0", "a.b", "Rennweg-Süd"})
        EXPECT_TRUE(SafeSegmentFileName(name)) << name;
    for (const char* name : {"/", "a/b", "a\\b", "..", "a..b", "../a", "a/.."})
        EXPECT_FALSE(SafeSegmentFileName(name)) << name;
}

}  // namespace
}  // namespace lapquill
