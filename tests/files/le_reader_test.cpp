#include "files/le_reader.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "support/sample_files.h"

namespace lapquill {
namespace {

TEST(LeReader, AssemblesLittleEndianValues) {
    const std::vector<std::uint8_t> bytes = {0x34, 0x12, 0xFE, 0xFF, 0x78, 0x56, 0x34, 0x12,
                                             0x00, 0x00, 0x80, 0x3F, 0xFF};
    LeReader r(bytes);
    std::int16_t a;
    std::int16_t b;
    std::int32_t c;
    float d;
    std::uint8_t e;
    ASSERT_TRUE(r.ReadI16(&a) && r.ReadI16(&b) && r.ReadI32(&c) && r.ReadF32(&d) && r.ReadU8(&e));
    EXPECT_EQ(a, 0x1234);
    EXPECT_EQ(b, -2);
    EXPECT_EQ(c, 0x12345678);
    EXPECT_EQ(d, 1.0f);
    EXPECT_EQ(e, 0xFF);
    EXPECT_FALSE(r.ReadU8(&e));
}

TEST(LeReader, ShortReadFailsAndLeavesReaderAtEnd) {
    const std::vector<std::uint8_t> bytes = {1, 2, 3};
    LeReader r(bytes);
    std::int32_t v;
    EXPECT_FALSE(r.ReadI32(&v));
    EXPECT_EQ(r.Remaining(), 0);
}

TEST(LeReaderSkip, ZeroOrNegativeDoesNothing) {
    const std::vector<std::uint8_t> bytes = {9};
    LeReader r(bytes);
    EXPECT_TRUE(r.Skip(0));
    EXPECT_TRUE(r.Skip(-100));
    EXPECT_EQ(r.Offset(), 0);
}

TEST(LeReaderSkip, ReachingTheEndInsideFails) {
    const std::vector<std::uint8_t> bytes(10);
    LeReader r(bytes);
    EXPECT_TRUE(r.Skip(10));
    LeReader r2(bytes);
    EXPECT_FALSE(r2.Skip(11));
}

TEST(LeReader, FileReadsMatchMemoryReadsAcrossBufferBoundaries) {
    // Longer than the reader's buffer so that values straddle refills.
    std::vector<std::uint8_t> bytes(200000);
    std::iota(bytes.begin(), bytes.end(), 0);
    test::TempDir dir;
    const std::string path = dir.File("data.bin");
    ASSERT_TRUE(WriteBytesToFile(path, bytes));

    LeReader fromFile(path);
    LeReader fromMemory(bytes);
    ASSERT_TRUE(fromFile.IsOpen());
    EXPECT_EQ(fromFile.Size(), 200000);
    for (int step = 0; fromMemory.Remaining() >= 7; ++step) {
        std::int32_t a, b;
        std::int16_t c, d;
        ASSERT_EQ(fromFile.ReadI32(&a), fromMemory.ReadI32(&b));
        ASSERT_EQ(a, b) << "at step " << step;
        ASSERT_TRUE(fromFile.ReadI16(&c) && fromMemory.ReadI16(&d));
        ASSERT_EQ(c, d);
        ASSERT_TRUE(fromFile.Skip(step % 5) && fromMemory.Skip(step % 5));
    }
    EXPECT_EQ(fromFile.Offset(), fromMemory.Offset());
}

TEST(LeReader, RefusesMissingFilesAndFolders) {
    test::TempDir dir;
    EXPECT_FALSE(LeReader(dir.File("missing.raf")).IsOpen());
    EXPECT_FALSE(LeReader(dir.path().string()).IsOpen());
}

TEST(SizeArithmetic, DetectsOverflowAndNegativeOperands) {
    std::int64_t out = 0;
    EXPECT_TRUE(MulSizes(1 << 20, 1 << 20, &out));
    EXPECT_EQ(out, std::int64_t{1} << 40);
    EXPECT_FALSE(MulSizes(std::int64_t{1} << 40, std::int64_t{1} << 40, &out));
    EXPECT_FALSE(MulSizes(-1, 5, &out));
    EXPECT_TRUE(AddSizes(5, 6, &out));
    EXPECT_EQ(out, 11);
    EXPECT_FALSE(AddSizes(INT64_MAX, 1, &out));
}

}  // namespace
}  // namespace lapquill
