// A small file that declares huge counts must fail at once and cost little memory: every
// allocation made while loading is counted here by replacing the global allocator.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "files/replay_file.h"
#include "files/segment_file.h"
#include "files/track_mesh.h"
#include "support/sample_files.h"

namespace {
std::atomic<std::size_t> gLive{0};
std::atomic<std::size_t> gPeak{0};
std::atomic<bool> gCounting{false};

void* Allocate(std::size_t n) {
    // Each block carries its size in front, so that delete can count it back.
    auto* p = static_cast<std::size_t*>(std::malloc(n + sizeof(std::max_align_t)));
    if (!p) throw std::bad_alloc();
    *p = n;
    if (gCounting) {
        const std::size_t live = gLive += n;
        std::size_t peak = gPeak;
        while (live > peak && !gPeak.compare_exchange_weak(peak, live)) {
        }
    }
    return reinterpret_cast<char*>(p) + sizeof(std::max_align_t);
}

void Free(void* q) noexcept {
    if (!q) return;
    auto* p = reinterpret_cast<std::size_t*>(static_cast<char*>(q) - sizeof(std::max_align_t));
    if (gCounting) gLive -= std::min<std::size_t>(*p, gLive);
    std::free(p);
}
}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t) noexcept { Free(p); }

namespace lapquill {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The most memory a load of `bytes` took at once, beyond what was live before it.
template <typename Load>
std::size_t PeakWhileLoading(Load load) {
    gLive = 0;
    gPeak = 0;
    gCounting = true;
    load();
    gCounting = false;
    return gPeak;
}

// "A few times its own size": the loaders keep decoded records a little larger than in the
// file, plus a fixed amount for the result's bookkeeping.
std::size_t Allowance(const Bytes& file) { return 4 * file.size() + 4096; }

TEST(AllocationBound, ReplayDeclaringHugeCounts) {
    struct Case {
        const char* name;
        std::int32_t records;
        std::uint8_t blocks;
        std::int16_t recordStride;
    };
    const Case cases[] = {{"two billion records", INT32_MAX, 0, 64},
                          {"records of 32 KB", 1000000, 4, INT16_MAX},
                          {"255 blocks, no data", 1, 255, 64}};
    for (const auto& c : cases) {
        Bytes bytes = EncodeReplayFile(test::SampleReplay(8, 2));  // about 2 KB
        SetHeaderI32(&bytes[20], c.records);
        bytes[169] = c.blocks;
        SetHeaderI16(&bytes[14], c.recordStride);
        ReplayFile file;
        bool ok = true;
        const std::size_t peak = PeakWhileLoading([&] { ok = LoadReplayFileFromMemory(bytes, &file); });
        EXPECT_FALSE(ok) << c.name;
        EXPECT_LE(peak, Allowance(bytes)) << c.name << ": file of " << bytes.size() << " bytes";
    }
}

TEST(AllocationBound, ReplayFromDiskUsesASmallBuffer) {
    Bytes bytes = EncodeReplayFile(test::SampleReplay(2, 1));
    SetHeaderI32(&bytes[20], INT32_MAX);
    test::TempDir dir;
    ASSERT_TRUE(WriteBytesToFile(dir.File("huge.raf"), bytes));
    ReplayFile file;
    const std::size_t peak = PeakWhileLoading([&] { EXPECT_FALSE(LoadReplayFile(dir.File("huge.raf"), &file)); });
    EXPECT_LE(peak, Allowance(bytes));
}

TEST(AllocationBound, MeshDeclaringHugeCounts) {
    const Bytes good = EncodeTrackMesh(test::SampleMesh());
    for (std::size_t at : {std::size_t{60}, std::size_t{64 + 16}, std::size_t{64 + 20}, good.size() - 12}) {
        Bytes bytes = good;
        SetHeaderI32(&bytes[at], INT32_MAX);
        TrackMesh mesh;
        bool ok = true;
        const std::size_t peak = PeakWhileLoading([&] { ok = LoadTrackMeshFromMemory(bytes, &mesh); });
        EXPECT_FALSE(ok) << "count at " << at;
        EXPECT_LE(peak, Allowance(bytes)) << "count at " << at;
    }
}

TEST(AllocationBound, SegmentsDeclaringMoreMarkersThanPresent) {
    Bytes bytes = EncodeTrackSegmentFile(TrackSegmentFile{});
    bytes[57] = 255;  // 255 markers declared, none present
    TrackSegmentFile f;
    bool ok = true;
    const std::size_t peak = PeakWhileLoading([&] { ok = LoadTrackSegmentFileFromMemory(bytes, &f); });
    EXPECT_FALSE(ok);
    EXPECT_LE(peak, Allowance(bytes));
}

}  // namespace
}  // namespace lapquill
