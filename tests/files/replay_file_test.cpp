#include "files/replay_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "files/le_reader.h"
#include "support/compare.h"
#include "support/sample_files.h"

namespace lapquill {
namespace {

using Bytes = std::vector<std::uint8_t>;

bool Load(const Bytes& bytes, ReplayFile* file) { return LoadReplayFileFromMemory(bytes, file); }

void ExpectSameRecord(const ReplayRecord& a, const ReplayRecord& b) {
    EXPECT_EQ(a.throttle, b.throttle);
    EXPECT_EQ(a.brake, b.brake);
    EXPECT_EQ(a.steer, b.steer);
    EXPECT_EQ(a.clutch, b.clutch);
    EXPECT_EQ(a.handbrake, b.handbrake);
    EXPECT_EQ(a.gear, b.gear);
    EXPECT_EQ(a.kept21, b.kept21);
    EXPECT_EQ(a.speed, b.speed);
    EXPECT_EQ(a.kept28, b.kept28);
    EXPECT_EQ(a.kept44, b.kept44);
    EXPECT_EQ(a.distance, b.distance);
    EXPECT_NEAR(a.position.x, b.position.x, test::kFixedPointStep);
    EXPECT_NEAR(a.position.y, b.position.y, test::kFixedPointStep);
    EXPECT_NEAR(a.position.z, b.position.z, test::kFixedPointStep);
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR((&a.lateralAxis.x)[k], (&b.lateralAxis.x)[k], test::kFixedPointStep);
        EXPECT_NEAR((&a.forwardAxis.x)[k], (&b.forwardAxis.x)[k], test::kFixedPointStep);
    }
}

TEST(LoadReplayFile, RoundTripsEveryField) {
    const ReplayFile original = test::SampleReplay(4, 3, 40, 12, 20);
    const Bytes bytes = EncodeReplayFile(original);
    test::TempDir dir;
    ASSERT_TRUE(WriteBytesToFile(dir.File("lap.raf"), bytes));
    ReplayFile loaded;
    ASSERT_TRUE(LoadReplayFile(dir.File("lap.raf"), &loaded)) << LastLoadFailure().step;

    EXPECT_EQ(loaded.header.bytes, original.header.bytes);
    EXPECT_EQ(loaded.header.PlayerName(), "^1Ma^7rta");
    EXPECT_EQ(loaded.header.CarName(), "Formula Vee");
    EXPECT_EQ(loaded.header.TrackName(), "Harrow Vale");
    EXPECT_EQ(loaded.header.TrackConfig(), "GP");
    EXPECT_EQ(loaded.header.Weather(), "Overcast");
    ASSERT_EQ(loaded.header.SectorCount(), 3);
    EXPECT_EQ(loaded.header.SplitTime(2), 93456);
    ASSERT_EQ(loaded.blocks.size(), 3u);
    for (std::size_t b = 0; b < 3; ++b) EXPECT_EQ(loaded.blocks[b].bytes, original.blocks[b].bytes);
    EXPECT_EQ(loaded.blocks[0].LateralOffset(), -0.8f);
    ASSERT_EQ(loaded.RecordCount(), 4);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        ExpectSameRecord(loaded.records[i], original.records[i]);
        const auto a = loaded.SamplesOf(i);
        const auto b = original.SamplesOf(i);
        ASSERT_EQ(a.size(), 3u);
        for (std::size_t s = 0; s < 3; ++s) EXPECT_EQ(a[s].bytes, b[s].bytes);
    }
}

TEST(LoadReplayFile, ConvertsFixedPointPositionsAndAxes) {
    ReplayFile f = test::SampleReplay(1, 0);
    Bytes bytes = EncodeReplayFile(f);
    const std::size_t rec = 512;
    // position.x = 65536 (1.0 m); lateralAxis.x = 32767.
    SetHeaderI32(&bytes[rec + 32], 65536);
    SetHeaderI16(&bytes[rec + 52], 32767);
    ReplayFile loaded;
    ASSERT_TRUE(Load(bytes, &loaded));
    EXPECT_EQ(loaded.records[0].position.x, 1.0f);
    EXPECT_NEAR(loaded.records[0].lateralAxis.x, 0.49998f, 1e-5f);
}

TEST(LoadReplayFile, RejectsMagicWithoutTerminatorAndWrongVersions) {
    const Bytes good = EncodeReplayFile(test::SampleReplay());
    ReplayFile f;
    ASSERT_TRUE(Load(good, &f));
    Bytes noTerminator = good;
    noTerminator[6] = 'X';
    EXPECT_FALSE(Load(noTerminator, &f));
    Bytes lowerCase = good;
    lowerCase[0] = 'q';
    EXPECT_FALSE(Load(lowerCase, &f));
    for (std::uint8_t version : {1, 3}) {
        Bytes v = good;
        v[8] = version;
        EXPECT_FALSE(Load(v, &f)) << int(version);
        EXPECT_EQ(LastLoadFailure().step, "version");
    }
}

TEST(LoadReplayFile, BareHeaderWithoutBlocksOrRecordsLoads) {
    const Bytes bytes = EncodeReplayFile(test::SampleReplay(0, 0));
    ASSERT_EQ(bytes.size(), 512u);
    ReplayFile f;
    ASSERT_TRUE(Load(bytes, &f));
    EXPECT_TRUE(f.blocks.empty());
    EXPECT_TRUE(f.records.empty());
    EXPECT_TRUE(f.samples.empty());
}

TEST(LoadReplayFile, ZeroOrNegativeRecordCountLoadsWhateverFollows) {
    for (std::int32_t count : {0, -1, INT32_MIN}) {
        Bytes bytes = EncodeReplayFile(test::SampleReplay(2, 1));
        SetHeaderI32(&bytes[20], count);
        ReplayFile f;
        EXPECT_TRUE(Load(bytes, &f)) << count;
        EXPECT_TRUE(f.records.empty());
    }
}

TEST(LoadReplayFile, HonoursStridesAndPadding) {
    struct Case {
        const char* name;
        std::uint8_t blocks;
        std::int16_t sampleStride;
        std::int16_t extraRecordBytes;
        std::int16_t padding;
    };
    const Case cases[] = {
        {"no blocks, record surplus skipped", 0, 28, 36, 0},
        {"wide samples", 4, 40, 0, 0},
        {"wide samples and record surplus", 2, 33, 7, 100},
        {"narrow samples still read 28 bytes", 2, 20, 16, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ReplayFile original = test::SampleReplay(3, c.blocks, c.sampleStride, c.extraRecordBytes, c.padding);
        ReplayFile f;
        ASSERT_TRUE(Load(EncodeReplayFile(original), &f)) << LastLoadFailure().step;
        ASSERT_EQ(f.RecordCount(), 3);
        for (int i = 0; i < 3; ++i) ExpectSameRecord(f.records[i], original.records[i]);
        EXPECT_EQ(f.SamplesOf(2).size(), c.blocks);
    }
}

TEST(LoadReplayFile, SmallDataOffsetSkipsNothing) {
    // dataOffset below the end of the blocks: the records follow the blocks directly.
    ReplayFile original = test::SampleReplay(2, 2);
    SetHeaderI16(&original.header.bytes[12], 100);
    ReplayFile f;
    ASSERT_TRUE(Load(EncodeReplayFile(original), &f));
    ExpectSameRecord(f.records[1], original.records[1]);
}

TEST(LoadReplayFile, FailsWhenCutAnywhereWithRecordsToRead) {
    const Bytes full = EncodeReplayFile(test::SampleReplay(2, 2, 30, 3, 5));
    ReplayFile f;
    ASSERT_TRUE(Load(full, &f));
    for (std::size_t n = 0; n < full.size(); ++n) {
        const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        ASSERT_FALSE(Load(cut, &f)) << "cut at " << n;
    }
}

TEST(LoadReplayFile, CutInsideBlocksIsRefusedEvenWithoutRecords) {
    // Without records nothing after the blocks is read, so only the blocks show the cut.
    const Bytes whole = EncodeReplayFile(test::SampleReplay(0, 3));
    ReplayFile f;
    ASSERT_TRUE(Load(whole, &f)) << LastLoadFailure().step;
    for (const std::size_t cut : {512u + 1u, 512u + 128u + 40u, 512u + 2u * 128u + 127u}) {
        SCOPED_TRACE(cut);
        Bytes bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_FALSE(Load(bytes, &f));
        EXPECT_EQ(LastLoadFailure().step, "blocks");
        SetHeaderI32(&bytes[20], 1);  // and with records to read after them
        EXPECT_FALSE(Load(bytes, &f));
    }
}

TEST(LoadReplayFile, TextFieldFillingItsWidthIsTakenWhole) {
    ReplayFile original = test::SampleReplay(1, 0);
    std::memset(&original.header.bytes[32], 'A', 32);   // playerName, no terminator
    std::memset(&original.header.bytes[128], 'C', 16);  // trackConfig, no terminator
    ReplayFile f;
    ASSERT_TRUE(Load(EncodeReplayFile(original), &f));
    EXPECT_EQ(f.header.PlayerName(), std::string(32, 'A'));
    EXPECT_EQ(f.header.TrackConfig(), std::string(16, 'C'));
    EXPECT_EQ(f.header.CarName(), "Formula Vee");
}

TEST(LoadReplayFile, RejectsMoreSplitTimesThanTheHeaderHolds) {
    Bytes bytes = EncodeReplayFile(test::SampleReplay(1, 0));
    ReplayFile f;
    bytes[171] = 85;
    EXPECT_TRUE(Load(bytes, &f));
    bytes[171] = 86;
    EXPECT_FALSE(Load(bytes, &f));
    EXPECT_EQ(LastLoadFailure().step, "sector count");
}

TEST(LoadReplayFile, HugeRecordCountFailsBeforeAllocating) {
    // A 1 KB file claiming two billion records of 64 KB each must fail at once.
    Bytes bytes = EncodeReplayFile(test::SampleReplay(2, 1));
    SetHeaderI32(&bytes[20], INT32_MAX);
    SetHeaderI16(&bytes[14], INT16_MAX);
    ReplayFile f;
    EXPECT_FALSE(Load(bytes, &f));
    EXPECT_EQ(LastLoadFailure().step, "record count");
    EXPECT_EQ(f.records.capacity(), 0u);
}

TEST(ReleaseReplayFile, EmptiesTheFile) {
    ReplayFile f;
    ASSERT_TRUE(Load(EncodeReplayFile(test::SampleReplay(3, 2)), &f));
    ReleaseReplayFile(&f);
    EXPECT_TRUE(f.blocks.empty());
    EXPECT_TRUE(f.records.empty());
    EXPECT_TRUE(f.samples.empty());
    EXPECT_TRUE(f.SamplesOf(0).empty());
}

}  // namespace
}  // namespace lapquill
