// The queue of SoftwareDevice and the threads that rasterise it.
//
// A flush cuts the queue into batches (a clear, or up to kBatchTriangles triangles) and the
// batches into chunks of at most kChunkTriangles triangles. For every chunk the threads first
// take batches one at a time, set up their triangles (transform, clip, project, cull) and sort
// them into bins by unit (kUnitBands bands); then they take units one at a time and draw each
// unit's bins of every batch in order. Work is claimed by whichever thread is free, so the threads
// share it evenly whatever the scene and however the system schedules them. A pixel's value depends
// only on the triangle, its band and the pixel, and every band is drawn by one thread in the order
// of the calls, so the picture does not depend on the number of threads.
#include <algorithm>

#include "render/software_pipeline.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define LAPQUILL_CPU_PAUSE() _mm_pause()
#else
#define LAPQUILL_CPU_PAUSE() ((void)0)
#endif

namespace lapquill::software {
namespace {

// About 20-50 microseconds of spinning before a thread goes to sleep: long enough to bridge the
// gap between two chunks, short enough not to burn a core when the other thread is descheduled.
constexpr int kSpinIterations = 20000;

template <typename T>
void WaitWhileEqual(const std::atomic<T>& value, T old) {
    for (int i = 0; i < kSpinIterations; ++i) {
        if (value.load(std::memory_order_acquire) != old) return;
        LAPQUILL_CPU_PAUSE();
    }
    while (value.load(std::memory_order_acquire) == old) value.wait(old, std::memory_order_acquire);
}

}  // namespace

void SpinBarrier::Wait() {
    const std::uint32_t generation = generation_.load(std::memory_order_acquire);
    if (arrived_.fetch_add(1, std::memory_order_acq_rel) == count_ - 1) {
        arrived_.store(0, std::memory_order_relaxed);
        generation_.fetch_add(1, std::memory_order_release);
        generation_.notify_all();
        return;
    }
    WaitWhileEqual(generation_, generation);
}

Pipeline::Pipeline(int threadCount)
    : threadCount_(std::clamp(threadCount, 1, 8)), barrier_(threadCount_) {
    for (int t = 1; t < threadCount_; ++t) workers_.emplace_back([this] { WorkerLoop(); });
}

Pipeline::~Pipeline() {
    quit_.store(true, std::memory_order_release);
    jobGeneration_.fetch_add(1, std::memory_order_release);
    jobGeneration_.notify_all();
    for (auto& worker : workers_) worker.join();
}

int Pipeline::ThreadCount() const {
    return threadCount_;
}

void Pipeline::Resize(std::int32_t newWidth, std::int32_t newHeight) {
    DiscardQueue();
    width = newWidth;
    height = newHeight;
    const std::size_t size = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    back.assign(size, 0xFF000000u);
    front.assign(size, 0xFF000000u);
}

void Pipeline::DiscardQueue() {
    commands.clear();
    states.clear();
}

void Pipeline::BuildBatches() {
    specs_.clear();
    chunkEnds_.clear();
    BatchSpec open{false, 0, 0, 0};
    bool isOpen = false;
    std::uint32_t chunkTriangles = 0;
    auto close = [&] {
        if (isOpen) specs_.push_back(open);
        isOpen = false;
    };
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const Command& command = commands[i];
        if (command.isClear) {
            close();
            specs_.push_back(BatchSpec{true, i, 0, 0});
            continue;
        }
        std::uint32_t first = 0;
        std::uint32_t remaining = command.draw.triangleCount;
        while (remaining > 0) {
            if (!isOpen) {
                open = BatchSpec{false, i, first, 0};
                isOpen = true;
            }
            const std::uint32_t take = std::min({kBatchTriangles - open.triangleCount, remaining,
                                                 kChunkTriangles - chunkTriangles});
            open.triangleCount += take;
            first += take;
            remaining -= take;
            chunkTriangles += take;
            if (open.triangleCount == kBatchTriangles) close();
            if (chunkTriangles == kChunkTriangles) {
                close();
                chunkEnds_.push_back(specs_.size());
                chunkTriangles = 0;
            }
        }
    }
    close();
    if (!specs_.empty() && (chunkEnds_.empty() || chunkEnds_.back() != specs_.size())) {
        chunkEnds_.push_back(specs_.size());
    }
}

void Pipeline::SetupBatch(const BatchSpec& job, std::vector<RasterTriangle>& out) const {
    std::uint32_t first = job.firstTriangle;
    std::uint32_t left = job.triangleCount;
    for (std::size_t i = job.command; i < commands.size() && left > 0; ++i) {
        const DrawCommand& draw = commands[i].draw;
        const std::uint32_t take = std::min(draw.triangleCount - first, left);
        if (take > 0) SetupTriangles(states[draw.state], draw.state, draw, first, take, out);
        left -= take;
        first = 0;
    }
}

void Pipeline::BinBatch(Batch& batch) const {
    // A counting sort by unit that keeps call order within each bin: count, turn the counts
    // into ends, then fill from the last triangle backwards.
    constexpr int kUnitRows = kBandRows * kUnitBands;
    const int units = UnitCount();
    batch.binStart.assign(static_cast<std::size_t>(units) + 1, 0);
    std::uint32_t total = 0;
    for (const RasterTriangle& t : batch.triangles) {
        const int last = t.maxY / kUnitRows;
        for (int u = t.minY / kUnitRows; u <= last; ++u) ++batch.binStart[u];
        total += static_cast<std::uint32_t>(last - t.minY / kUnitRows + 1);
    }
    std::uint32_t end = 0;
    for (int u = 0; u < units; ++u) {
        end += batch.binStart[u];
        batch.binStart[u] = end;
    }
    batch.binStart[units] = total;
    batch.index.resize(total);
    for (std::size_t i = batch.triangles.size(); i-- > 0;) {
        const RasterTriangle& t = batch.triangles[i];
        const int last = t.maxY / kUnitRows;
        for (int u = t.minY / kUnitRows; u <= last; ++u) {
            batch.index[--batch.binStart[u]] = static_cast<std::uint32_t>(i);
        }
    }
}

void Pipeline::RunFlush() {
    const Target target{back.data(), width, height};
    const int bands = BandCount();
    const int units = UnitCount();
    if (threadCount_ == 1) {
        // One thread sets up and draws each batch in turn, over all bands at once.
        std::vector<RasterTriangle>& out = batches_[0].triangles;
        for (const BatchSpec& job : specs_) {
            if (job.isClear) {
                const Command& clear = commands[job.command];
                ClearRows(clear.rect, clear.colour, target, 0, bands - 1);
                continue;
            }
            out.clear();
            SetupBatch(job, out);
            RasterTriangles(out.data(), out.size(), states.data(), target, 0, bands - 1);
        }
        return;
    }
    std::size_t chunkStart = 0;
    for (std::size_t k = 0; k < chunkEnds_.size(); ++k) {
        const std::size_t chunkEnd = chunkEnds_[k];
        const auto batchCount = static_cast<std::uint32_t>(chunkEnd - chunkStart);
        for (std::uint32_t i = Claim(2 * k); i < batchCount; i = Claim(2 * k)) {
            const BatchSpec& job = specs_[chunkStart + i];
            if (job.isClear) continue;
            Batch& batch = batches_[i];
            batch.triangles.clear();
            SetupBatch(job, batch.triangles);
            BinBatch(batch);
        }
        barrier_.Wait();
        for (auto u = static_cast<int>(Claim(2 * k + 1)); u < units;
             u = static_cast<int>(Claim(2 * k + 1))) {
            const int firstBand = u * kUnitBands;
            const int lastBand = std::min(firstBand + kUnitBands, bands) - 1;
            for (std::uint32_t i = 0; i < batchCount; ++i) {
                const BatchSpec& job = specs_[chunkStart + i];
                if (job.isClear) {
                    const Command& clear = commands[job.command];
                    ClearRows(clear.rect, clear.colour, target, firstBand, lastBand);
                    continue;
                }
                const Batch& batch = batches_[i];
                const std::uint32_t from = batch.binStart[u];
                RasterBin(batch.triangles.data(), batch.index.data() + from,
                          batch.binStart[u + 1] - from, states.data(), target, firstBand, lastBand);
            }
        }
        // The next chunk's batches reuse this one's lists.
        if (k + 1 < chunkEnds_.size()) barrier_.Wait();
        chunkStart = chunkEnd;
    }
}

void Pipeline::WorkerLoop() {
    std::uint32_t seen = 0;
    for (;;) {
        WaitWhileEqual(jobGeneration_, seen);
        seen = jobGeneration_.load(std::memory_order_acquire);
        if (quit_.load(std::memory_order_acquire)) return;
        RunFlush();
        jobsDone_.fetch_add(1, std::memory_order_acq_rel);
        jobsDone_.notify_one();
    }
}

void Pipeline::Flush() {
    BuildBatches();
    if (!specs_.empty()) {
        std::size_t largest = 1;
        std::size_t chunkStart = 0;
        for (std::size_t end : chunkEnds_) {
            largest = std::max(largest, end - chunkStart);
            chunkStart = end;
        }
        if (batches_.size() < largest) batches_.resize(largest);
        const std::size_t phases = 2 * chunkEnds_.size();
        if (claimCapacity_ < phases) {
            claims_ = std::make_unique<std::atomic<std::uint32_t>[]>(phases);
            claimCapacity_ = phases;
        }
        for (std::size_t i = 0; i < phases; ++i) claims_[i].store(0, std::memory_order_relaxed);
        if (threadCount_ == 1) {
            RunFlush();
        } else {
            jobsDone_.store(0, std::memory_order_relaxed);
            jobGeneration_.fetch_add(1, std::memory_order_release);
            jobGeneration_.notify_all();
            RunFlush();
            for (int done = jobsDone_.load(std::memory_order_acquire); done != threadCount_ - 1;
                 done = jobsDone_.load(std::memory_order_acquire)) {
                WaitWhileEqual(jobsDone_, done);
            }
        }
    }
    DiscardQueue();
}

}  // namespace lapquill::software
