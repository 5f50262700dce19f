// The loaders' two entry points, over a file and over memory, run one reader: a damaged file
// fails at the same step and byte, for the same reason, whichever way its bytes arrive; and a
// release gives back all that a load filled.
#include "files/load_entry.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "files/replay_file.h"
#include "files/segment_file.h"
#include "files/track_mesh.h"
#include "support/sample_files.h"

namespace lapquill {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Format {
    const char* fileName;
    Bytes whole;      // a sample file of the format
    std::size_t cut;  // bytes cut off its end for the damaged copy
    std::function<bool(const std::string&)> fromFile;
    std::function<bool(const Bytes&)> fromMemory;
};

TEST(LoaderEntryPoints, FileAndMemoryFailAlikeAndReleaseGivesEverythingBack) {
    ReplayFile replay;
    TrackMesh mesh;
    TrackSegmentFile segments;
    const Format formats[] = {
        {"lap.raf", EncodeReplayFile(test::SampleReplay()), 7,
         [&](const std::string& path) { return LoadReplayFile(path, &replay); },
         [&](const Bytes& bytes) { return LoadReplayFileFromMemory(bytes, &replay); }},
        {"vale.smx", EncodeTrackMesh(test::SampleMesh()), 5,
         [&](const std::string& path) { return LoadTrackMesh(path, &mesh); },
         [&](const Bytes& bytes) { return LoadTrackMeshFromMemory(bytes, &mesh); }},
        {"Vale GP.tsf", EncodeTrackSegmentFile(test::SampleSegments()), 3,
         [&](const std::string& path) { return LoadTrackSegmentFile(path, &segments); },
         [&](const Bytes& bytes) { return LoadTrackSegmentFileFromMemory(bytes, &segments); }},
    };
    test::TempDir dir;
    for (const Format& f : formats) {
        SCOPED_TRACE(f.fileName);
        const Bytes damaged(f.whole.begin(), f.whole.end() - static_cast<std::ptrdiff_t>(f.cut));
        ASSERT_TRUE(WriteBytesToFile(dir.File(f.fileName), damaged));
        ASSERT_FALSE(f.fromMemory(damaged));
        const LoadFailure fromMemory = LastLoadFailure();
        EXPECT_FALSE(fromMemory.step.empty());
        ASSERT_FALSE(f.fromFile(dir.File(f.fileName)));
        EXPECT_EQ(LastLoadFailure().step, fromMemory.step);
        EXPECT_EQ(LastLoadFailure().offset, fromMemory.offset);
        EXPECT_EQ(LastLoadFailure().Reason(), fromMemory.Reason());
        ASSERT_TRUE(f.fromMemory(f.whole)) << LastLoadFailure().Reason();
    }

    ASSERT_FALSE(replay.records.empty());
    ASSERT_FALSE(mesh.objects.empty());
    ASSERT_FALSE(segments.records.empty());
    ReleaseReplayFile(&replay);
    ReleaseTrackMesh(&mesh);
    ReleaseTrackSegmentFile(&segments);
    EXPECT_EQ(replay.blocks.capacity() + replay.records.capacity() + replay.samples.capacity(), 0u);
    EXPECT_EQ(mesh.objects.capacity() + mesh.trailer.capacity(), 0u);
    EXPECT_EQ(mesh.trailerCount, 0);
    EXPECT_EQ(segments.records.capacity(), 0u);
}

}  // namespace
}  // namespace lapquill
