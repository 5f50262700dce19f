// The little-endian writer and the format layouts' field walks: what the writers put in a file
// must be what the loaders take out of it, at the offsets files from elsewhere use.
#include "files/le_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "files/field_io.h"
#include "files/le_bytes.h"
#include "files/le_reader.h"
#include "support/sample_files.h"

namespace lapquill {
namespace {

TEST(LeWriter, WritesLittleEndianThatTheReaderReadsBack) {
    std::vector<std::uint8_t> out;
    LeWriter w(&out);
    w.WriteU32(0x11223344u);
    w.WriteI16(-2);
    w.WriteU16(0xBEEF);
    w.WriteI32(std::numeric_limits<std::int32_t>::min());
    w.WriteF32(-0.0f);
    std::uint32_t nanBits = 0x7FC01234u;  // a NaN with a payload travels bit for bit
    float nan;
    std::memcpy(&nan, &nanBits, sizeof nan);
    w.WriteF32(nan);
    w.WriteU8(0xA5);
    EXPECT_EQ(w.Offset(), 4 + 2 + 2 + 4 + 4 + 4 + 1);
    ASSERT_EQ(out.size(), 21u);
    EXPECT_EQ((std::vector<std::uint8_t>{out.begin(), out.begin() + 6}),
              (std::vector<std::uint8_t>{0x44, 0x33, 0x22, 0x11, 0xFE, 0xFF}));

    LeReader r(out);
    std::uint32_t a, fbits;
    std::int16_t b;
    std::uint16_t c;
    std::int32_t d;
    float e, f;
    std::uint8_t g;
    ASSERT_TRUE(r.ReadU32(&a) && r.ReadI16(&b) && r.ReadU16(&c) && r.ReadI32(&d) && r.ReadF32(&e) &&
                r.ReadF32(&f) && r.ReadU8(&g));
    EXPECT_EQ(a, 0x11223344u);
    EXPECT_EQ(b, -2);
    EXPECT_EQ(c, 0xBEEF);
    EXPECT_EQ(d, std::numeric_limits<std::int32_t>::min());
    EXPECT_TRUE(std::signbit(e));
    std::memcpy(&fbits, &f, sizeof fbits);
    EXPECT_EQ(fbits, nanBits);
    EXPECT_EQ(g, 0xA5);
}

TEST(LeWriter, ZerosLikeSkipsAndBytesAppendAsGiven) {
    std::vector<std::uint8_t> out = {9};
    LeWriter w(&out);
    w.WriteZeros(-5);
    w.WriteZeros(0);
    EXPECT_EQ(out.size(), 1u);
    w.WriteZeros(3);
    const std::uint8_t raw[] = {7, 8};
    w.WriteBytes(raw, 2);
    w.WriteBytes(nullptr, 0);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{9, 0, 0, 0, 7, 8}));
}

TEST(LeBytes, StoresTouchOnlyTheirWidthAndLoadBack) {
    std::vector<std::uint8_t> b(8, 0xEE);
    StoreLeI16(&b[1], -300);
    StoreLeF32(&b[3], 1.5f);
    EXPECT_EQ(b[0], 0xEE);
    EXPECT_EQ(b[7], 0xEE);
    EXPECT_EQ(LoadLeI16(&b[1]), -300);
    EXPECT_EQ(LoadLeU16(&b[1]), 0xFED4);
    EXPECT_EQ(LoadLeF32(&b[3]), 1.5f);
    EXPECT_EQ(LoadLeU32(&b[3]), 0x3FC00000u);
    StoreLeI32(&b[3], -1);
    EXPECT_EQ(LoadLeI32(&b[3]), -1);
    EXPECT_EQ(b[7], 0xEE);
}

TEST(FixedPoint, RoundsToNearestAndSaturates) {
    EXPECT_EQ(FloatToFixed(1.0f), 65536);
    EXPECT_EQ(FloatToFixed(-2.5f), -163840);
    EXPECT_EQ(FloatToFixed(1.0f / 131072.0f), 1);  // half a step rounds away from zero
    EXPECT_EQ(FloatToFixed(1e9f), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(FloatToFixed(-1e9f), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(FloatToFixed(std::numeric_limits<float>::quiet_NaN()), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(FixedToFloat(FloatToFixed(-1234.25f)), -1234.25f);
    EXPECT_EQ(AxisToFixed(0.25f), 16384);
    EXPECT_EQ(AxisToFixed(0.75f), 32767);
    EXPECT_EQ(AxisToFixed(-0.75f), -32768);
    EXPECT_EQ(AxisToFloat(AxisToFixed(-0.125f)), -0.125f);
}

// Each record walk covers exactly the bytes the format gives the record; a field written
// twice or left out would shift everything after it.
template <typename Walk>
std::int64_t BytesWritten(Walk walk) {
    std::vector<std::uint8_t> out;
    LeWriter w(&out);
    FieldWriter io(w);
    EXPECT_TRUE(walk(io));
    return w.Offset();
}

TEST(FileLayouts, RecordWalksCoverTheirRecordSizes) {
    const ReplayRecord record{};
    EXPECT_EQ(BytesWritten([&](FieldWriter& io) { return raf::RecordFixedPart(io, record); }),
              kReplayRecordFixedSize);
    const SegmentMarkerRecord marker = MakeSegmentMarker("T1", 1, {2, 3, 4}, 5, 6);
    EXPECT_EQ(BytesWritten([&](FieldWriter& io) { return tsf::MarkerRecord(io, marker); }),
              kSegmentRecordSize);
    const MeshObject object{};
    const std::int32_t count = 0;
    EXPECT_EQ(BytesWritten([&](FieldWriter& io) {
                  return smx::ObjectSphere(io, object.centre, object.radius) &&
                         smx::ObjectCounts(io, count, count);
              }),
              smx::kObjectHeadSize);
    const MeshVertex vertex{1, 2, 3, 4};
    EXPECT_EQ(BytesWritten([&](FieldWriter& io) { return smx::VertexRecord(io, vertex); }), smx::kVertexSize);
    const MeshTriangle triangle{{1, 2, 3}};
    EXPECT_EQ(BytesWritten([&](FieldWriter& io) { return smx::TriangleRecord(io, triangle); }),
              smx::kTriangleSize);
}

TEST(FileLayouts, RecordPartReadsBackWhatWasWrittenAndFailsWhenCut) {
    const ReplayFile sample = test::SampleReplay(2, 1);
    const ReplayRecord& written = sample.records[1];
    std::vector<std::uint8_t> out;
    LeWriter w(&out);
    FieldWriter writer(w);
    raf::RecordFixedPart(writer, written);
    // The file's own offsets within a record: speed at 24, distance at 48, the gear at 20.
    EXPECT_EQ(LoadLeF32(&out[24]), written.speed);
    EXPECT_EQ(LoadLeF32(&out[48]), written.distance);
    EXPECT_EQ(out[20], written.gear);
    EXPECT_EQ(LoadLeI32(&out[32]), FloatToFixed(written.position.x));

    LeReader r(out);
    FieldReader reader(r);
    ReplayRecord read;
    ASSERT_TRUE(raf::RecordFixedPart(reader, read));
    EXPECT_EQ(read.throttle, written.throttle);
    EXPECT_EQ(read.kept44, written.kept44);
    EXPECT_EQ(read.position.y, written.position.y);
    EXPECT_EQ(read.forwardAxis.z, written.forwardAxis.z);

    out.pop_back();
    LeReader cut(out);
    FieldReader cutReader(cut);
    EXPECT_FALSE(raf::RecordFixedPart(cutReader, read));
}

// Headers written by other tools put their fields at these bytes; the accessors and the
// writer must agree with them, not only with each other.
TEST(FileLayouts, HeaderFieldsSitWhereTheFormatsPutThem) {
    ReplayHeaderFields f;
    f.playerName = "Pia";
    f.trackName = "Vale";
    f.splitTimes = {1000, 2500};
    f.blockCount = 3;
    f.recordCount = 0x01020304;
    const ReplayHeader h = BuildReplayHeader(f);
    EXPECT_EQ(std::memcmp(h.bytes.data(), "QZRRAF\0", 7), 0);
    EXPECT_EQ(h.bytes[8], kReplayVersion);
    EXPECT_EQ(LoadLeI16(&h.bytes[12]), 512 + 3 * 128);
    EXPECT_EQ(LoadLeI16(&h.bytes[14]), 64 + 3 * 28);
    EXPECT_EQ(LoadLeI32(&h.bytes[20]), 0x01020304);
    EXPECT_EQ(std::memcmp(&h.bytes[32], "Pia\0", 4), 0);
    EXPECT_EQ(std::memcmp(&h.bytes[96], "Vale\0", 5), 0);
    EXPECT_EQ(h.bytes[169], 3);
    EXPECT_EQ(h.bytes[171], 2);
    EXPECT_EQ(LoadLeI32(&h.bytes[176]), 2500);
    EXPECT_EQ(h.PaddingBeforeRecords(), 0);

    const TrackMeshHeader m = BuildTrackMeshHeader("Vale", 1, 2, 3);
    EXPECT_EQ(std::memcmp(m.bytes.data(), "QZRSMX\0", 7), 0);
    EXPECT_EQ(m.TrackName(), "Vale");
    EXPECT_EQ(std::memcmp(&m.bytes[16], "Vale", 4), 0);
    EXPECT_EQ(m.BackgroundColour(), 0xFF010203u);
    EXPECT_TRUE(m.IsListable());
    EXPECT_EQ(m.bytes[9], 3);
    EXPECT_EQ(m.bytes[11], 1);
    TrackMesh mesh;
    mesh.header = m;
    mesh.objects.resize(2);
    EXPECT_EQ(LoadLeI32(&EncodeTrackMesh(mesh)[60]), 2);

    TrackSegmentFile segments;
    segments.records.resize(5);
    const std::vector<std::uint8_t> tsf = EncodeTrackSegmentFile(segments);
    EXPECT_EQ(std::memcmp(tsf.data(), "QZRTSF\0", 7), 0);
    EXPECT_EQ(tsf[57], 5);
    EXPECT_EQ(tsf.size(), 64u + 5 * 64);
}

}  // namespace
}  // namespace lapquill
