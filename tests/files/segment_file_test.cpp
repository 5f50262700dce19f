#include "files/segment_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "files/le_reader.h"
#include "support/sample_files.h"

namespace lapquill {
namespace {

using Bytes = std::vector<std::uint8_t>;

bool Load(const Bytes& bytes, TrackSegmentFile* f) { return LoadTrackSegmentFileFromMemory(bytes, f); }

TEST(LoadTrackSegmentFile, RoundTripsEveryField) {
    const TrackSegmentFile original = test::SampleSegments();
    test::TempDir dir;
    ASSERT_TRUE(WriteBytesToFile(dir.File("Vale GP.tsf"), EncodeTrackSegmentFile(original)));
    TrackSegmentFile f;
    ASSERT_TRUE(LoadTrackSegmentFile(dir.File("Vale GP.tsf"), &f));
    ASSERT_EQ(f.MarkerCount(), 2);
    ASSERT_EQ(f.records.size(), 2u);
    EXPECT_EQ(f.records[0].Name(), "Turn 1");
    EXPECT_EQ(f.records[1].Name(), "The Esses");
    EXPECT_EQ(f.records[0].markerDistance, 120.5f);
    EXPECT_EQ(f.records[1].position.x, -40.0f);
    EXPECT_EQ(f.records[1].position.z, 2.0f);
    EXPECT_EQ(f.records[0].heading, 0.5f);
    EXPECT_EQ(f.records[1].width, 12.0f);
    EXPECT_EQ(f.records[1].reserved[3], 0x77);
}

TEST(LoadTrackSegmentFile, ZeroMarkersLoadAndTrailingBytesDoNotMatter) {
    TrackSegmentFile none;
    Bytes b = EncodeTrackSegmentFile(none);
    b.insert(b.end(), 100, 0xEE);
    TrackSegmentFile f;
    ASSERT_TRUE(Load(b, &f));
    EXPECT_TRUE(f.records.empty());
}

TEST(LoadTrackSegmentFile, FailsWhenFewerWholeRecordsThanCounted) {
    Bytes b = EncodeTrackSegmentFile(test::SampleSegments());
    b[57] = 3;
    TrackSegmentFile f;
    EXPECT_FALSE(Load(b, &f));
    const Bytes full = EncodeTrackSegmentFile(test::SampleSegments());
    for (std::size_t n = 0; n < full.size(); ++n) {
        ASSERT_FALSE(Load(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)), &f)) << n;
    }
}

TEST(LoadTrackSegmentFile, RejectsBadMagicAndVersion) {
    const Bytes good = EncodeTrackSegmentFile(test::SampleSegments());
    TrackSegmentFile f;
    Bytes b = good;
    b[6] = 'S';
    EXPECT_FALSE(Load(b, &f));
    b = good;
    b[8] = 1;
    EXPECT_FALSE(Load(b, &f));
}

TEST(SegmentMarkerRecord, NameEndsAtFirstZeroOrFillsTheField) {
    TrackSegmentFile s = test::SampleSegments();
    std::memset(s.records[0].name, 'N', 31);
    s.records[0].name[31] = 0;
    std::memset(s.records[1].name, 'W', 32);  // no terminator at all
    TrackSegmentFile f;
    ASSERT_TRUE(Load(EncodeTrackSegmentFile(s), &f));
    EXPECT_EQ(f.records[0].Name(), std::string(31, 'N'));
    EXPECT_EQ(f.records[1].Name(), std::string(32, 'W'));
}

}  // namespace
}  // namespace lapquill
