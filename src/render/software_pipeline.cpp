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
//
// With more than one thread the first chunk's batches need not wait for the flush: the queue
// publishes each batch as it fills, and the other threads, woken by the frame's first command,
// set it up and bin it while the caller goes on queueing (the early phase). The flush sets up
// what is left, and set-up writes nothing but the batch's own lists, so when a batch is set up
// does not change what it holds.
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
    // Room for a frame of the view from the start, so that the early threads can take the
    // first frame's batches too; the lists keep what they grew to between frames.
    commands.reserve(1024);
    states.reserve(256);
    specs_.reserve(512);
    batches_.resize(kChunkTriangles / kBatchTriangles + 1);
    for (int t = 1; t < threadCount_; ++t) workers_.emplace_back([this] { WorkerLoop(); });
}

Pipeline::~Pipeline() {
    if (early_) EndEarly(false);
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
    if (early_) EndEarly(false);
    commands.clear();
    states.clear();
    specs_.clear();
    chunkEnds_.clear();
    specOpen_ = false;
    chunkTriangles_ = 0;
}

template <typename T>
void Pipeline::MakeRoom(std::vector<T>& list, std::size_t more) {
    if (list.capacity() - list.size() >= more) return;
    if (early_) DrainEarly();
    list.reserve(std::max(2 * list.capacity(), list.size() + more));
}

void Pipeline::Queue(Command&& command) {
    if (threadCount_ > 1 && !early_) BeginEarly();
    // The most batch specs one command can close: its full batches, one cut short at each
    // chunk end, the one it completes and a clear's own.
    const std::uint32_t n = command.isClear ? 0 : command.draw.triangleCount;
    MakeRoom(specs_, n / kBatchTriangles + n / kChunkTriangles + 3);
    MakeRoom(commands, 1);
    commands.push_back(std::move(command));
    CutCommand(commands.size() - 1);
    if (early_) Publish();
}

std::uint32_t Pipeline::AddState(RasterState&& state) {
    MakeRoom(states, 1);
    states.push_back(std::move(state));
    return static_cast<std::uint32_t>(states.size() - 1);
}

void Pipeline::CutCommand(std::size_t index) {
    const Command& command = commands[index];
    if (command.isClear) {
        if (specOpen_) specs_.push_back(openSpec_);
        specOpen_ = false;
        specs_.push_back(BatchSpec{true, index, 0, 0});
        return;
    }
    std::uint32_t first = 0;
    std::uint32_t remaining = command.draw.triangleCount;
    while (remaining > 0) {
        if (!specOpen_) {
            openSpec_ = BatchSpec{false, index, first, 0};
            specOpen_ = true;
        }
        const std::uint32_t take = std::min({kBatchTriangles - openSpec_.triangleCount, remaining,
                                             kChunkTriangles - chunkTriangles_});
        openSpec_.triangleCount += take;
        first += take;
        remaining -= take;
        chunkTriangles_ += take;
        if (openSpec_.triangleCount == kBatchTriangles) {
            specs_.push_back(openSpec_);
            specOpen_ = false;
        }
        if (chunkTriangles_ == kChunkTriangles) {
            if (specOpen_) specs_.push_back(openSpec_);
            specOpen_ = false;
            chunkEnds_.push_back(specs_.size());
            chunkTriangles_ = 0;
        }
    }
}

void Pipeline::CloseSpecs() {
    if (specOpen_) specs_.push_back(openSpec_);
    specOpen_ = false;
    if (!specs_.empty() && (chunkEnds_.empty() || chunkEnds_.back() != specs_.size())) {
        chunkEnds_.push_back(specs_.size());
    }
}

void Pipeline::BeginEarly() {
    published_.store(0, std::memory_order_relaxed);
    earlyNext_.store(0, std::memory_order_relaxed);
    earlyDone_.store(0, std::memory_order_relaxed);
    earlyEnd_.store(0, std::memory_order_relaxed);
    earlyBatches_.store(0, std::memory_order_relaxed);
    jobsDone_.store(0, std::memory_order_relaxed);
    early_ = true;
    jobGeneration_.fetch_add(1, std::memory_order_release);
    jobGeneration_.notify_all();
}

void Pipeline::Publish() {
    // Only the first chunk's batches, and only those with a Batch to set up into: the others
    // wait for the flush, which makes room for them.
    std::size_t limit = std::min(specs_.size(), batches_.size());
    if (!chunkEnds_.empty()) limit = std::min(limit, chunkEnds_[0]);
    if (limit > published_.load(std::memory_order_relaxed)) {
        published_.store(static_cast<std::uint32_t>(limit), std::memory_order_release);
        frameEvent_.fetch_add(1, std::memory_order_release);
        frameEvent_.notify_all();
    }
}

bool Pipeline::ClaimPublished(std::uint32_t* index) {
    std::uint32_t next = earlyNext_.load(std::memory_order_relaxed);
    while (next < published_.load(std::memory_order_acquire)) {
        if (earlyNext_.compare_exchange_weak(next, next + 1, std::memory_order_acq_rel,
                                             std::memory_order_relaxed)) {
            *index = next;
            return true;
        }
    }
    return false;
}

void Pipeline::SetupPublished(std::uint32_t index) {
    const BatchSpec& job = specs_[index];
    if (!job.isClear) {
        Batch& batch = batches_[index];
        batch.triangles.Clear();
        SetupBatch(job, batch.triangles);
        BinBatch(batch);
    }
    earlyDone_.fetch_add(1, std::memory_order_release);
    earlyDone_.notify_all();
}

void Pipeline::HelpEarly() {
    std::uint32_t index = 0;
    while (ClaimPublished(&index)) SetupPublished(index);
}

void Pipeline::DrainEarly() {
    HelpEarly();
    const std::uint32_t published = published_.load(std::memory_order_relaxed);
    for (std::uint32_t done = earlyDone_.load(std::memory_order_acquire); done != published;
         done = earlyDone_.load(std::memory_order_acquire)) {
        WaitWhileEqual(earlyDone_, done);
    }
}

void Pipeline::EndEarly(bool flushFollows) {
    early_ = false;
    earlyEnd_.store(flushFollows ? 1 : 2, std::memory_order_release);
    frameEvent_.fetch_add(1, std::memory_order_release);
    frameEvent_.notify_all();
    if (flushFollows) return;
    for (int done = jobsDone_.load(std::memory_order_acquire); done != threadCount_ - 1;
         done = jobsDone_.load(std::memory_order_acquire)) {
        WaitWhileEqual(jobsDone_, done);
    }
}

bool Pipeline::EarlySetup() {
    for (;;) {
        const std::uint32_t seen = frameEvent_.load(std::memory_order_acquire);
        const int end = earlyEnd_.load(std::memory_order_acquire);
        if (end == 2) return false;
        std::uint32_t index = 0;
        if (ClaimPublished(&index)) {
            SetupPublished(index);
            earlyBatches_.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        if (end == 1) return true;
        WaitWhileEqual(frameEvent_, seen);
    }
}

void Pipeline::SetupBatch(const BatchSpec& job, TriangleList& out) const {
    std::uint32_t first = job.firstTriangle;
    std::uint32_t left = job.triangleCount;
    // The batch's commands are all queued; the size of the list is not read, since the queue
    // may be growing while another thread sets this batch up.
    for (std::size_t i = job.command; left > 0; ++i) {
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
    for (const RasterTriangle& t : batch.triangles.triangles) {
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
    for (std::size_t i = batch.triangles.triangles.size(); i-- > 0;) {
        const RasterTriangle& t = batch.triangles.triangles[i];
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
        TriangleList& out = batches_[0].triangles;
        for (const BatchSpec& job : specs_) {
            if (job.isClear) {
                const Command& clear = commands[job.command];
                ClearRows(clear.rect, clear.colour, target, 0, bands - 1);
                continue;
            }
            out.Clear();
            SetupBatch(job, out);
            RasterTriangles(out, states.data(), target, 0, bands - 1);
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
            batch.triangles.Clear();
            SetupBatch(job, batch.triangles);
            BinBatch(batch);
        }
        barrier_.Wait();
        std::uint16_t order[kMaxUnits];
        OrderUnits(chunkStart, batchCount, order);
        for (auto c = static_cast<int>(Claim(2 * k + 1)); c < units;
             c = static_cast<int>(Claim(2 * k + 1))) {
            const int u = order[c];
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
                RasterBin(batch.triangles, batch.index.data() + from,
                          batch.binStart[u + 1] - from, states.data(), target, firstBand, lastBand);
            }
        }
        // The next chunk's batches reuse this one's lists.
        if (k + 1 < chunkEnds_.size()) barrier_.Wait();
        chunkStart = chunkEnd;
    }
}

void Pipeline::OrderUnits(std::size_t chunkStart, std::uint32_t batchCount,
                          std::uint16_t* order) const {
    // Every thread sorts the same counts the same way, so they all claim from one order.
    const int units = UnitCount();
    std::uint32_t triangles[kMaxUnits] = {};
    for (std::uint32_t i = 0; i < batchCount; ++i) {
        if (specs_[chunkStart + i].isClear) continue;
        const std::vector<std::uint32_t>& binStart = batches_[i].binStart;
        for (int u = 0; u < units; ++u) triangles[u] += binStart[u + 1] - binStart[u];
    }
    // Insertion sort, most triangles first and top to bottom among equals: a few dozen units.
    for (int u = 0; u < units; ++u) {
        int at = u;
        while (at > 0 && triangles[order[at - 1]] < triangles[u]) {
            order[at] = order[at - 1];
            --at;
        }
        order[at] = static_cast<std::uint16_t>(u);
    }
}

void Pipeline::WorkerLoop() {
    std::uint32_t seen = 0;
    for (;;) {
        WaitWhileEqual(jobGeneration_, seen);
        seen = jobGeneration_.load(std::memory_order_acquire);
        if (quit_.load(std::memory_order_acquire)) return;
        if (EarlySetup()) RunFlush();
        jobsDone_.fetch_add(1, std::memory_order_acq_rel);
        jobsDone_.notify_one();
    }
}

void Pipeline::Flush() {
    MakeRoom(specs_, 1);
    CloseSpecs();
    if (specs_.empty()) {
        DiscardQueue();
        return;
    }
    if (threadCount_ > 1 && !early_) BeginEarly();
    // The first chunk's batches that are not set up yet: published, then shared with the
    // other threads; after the drain nobody reads the lists, which may now grow.
    if (early_) {
        Publish();
        DrainEarly();
    }
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
        // The batches set up early are the first ones of the first chunk.
        claims_[0].store(published_.load(std::memory_order_relaxed), std::memory_order_relaxed);
        EndEarly(true);
        RunFlush();
        for (int done = jobsDone_.load(std::memory_order_acquire); done != threadCount_ - 1;
             done = jobsDone_.load(std::memory_order_acquire)) {
            WaitWhileEqual(jobsDone_, done);
        }
        earlyBatchesTotal_ += earlyBatches_.load(std::memory_order_relaxed);
    }
    DiscardQueue();
}

}  // namespace lapquill::software
