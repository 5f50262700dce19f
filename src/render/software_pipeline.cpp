// The queue of SoftwareDevice and the threads that rasterise it.
//
// A flush cuts the queued draws into chunks of at most kChunkTriangles triangles. For every chunk
// each thread first sets up its share of the triangles (transform, clip, project, cull) into its
// own list, then all threads walk all lists in order, each drawing only the rows of its bands.
// The set-up of chunk k + 1 overlaps the drawing of chunk k, so one barrier per chunk suffices.
// Because every pixel is written by one thread, in the order of the calls, the picture does not
// depend on the number of threads.
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
    for (int t = 1; t < threadCount_; ++t) workers_.emplace_back([this, t] { WorkerLoop(t); });
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

void Pipeline::BuildChunks() {
    chunks_.clear();
    Chunk open{false, 0, 0, 0};
    bool isOpen = false;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const Command& command = commands[i];
        if (command.isClear) {
            if (isOpen) chunks_.push_back(open);
            isOpen = false;
            chunks_.push_back(Chunk{true, i, 0, 0});
            continue;
        }
        std::uint32_t first = 0;
        std::uint32_t remaining = command.draw.triangleCount;
        while (remaining > 0) {
            if (!isOpen) {
                open = Chunk{false, i, first, 0};
                isOpen = true;
            }
            const std::uint32_t take = std::min(kChunkTriangles - open.triangleCount, remaining);
            open.triangleCount += take;
            first += take;
            remaining -= take;
            if (open.triangleCount == kChunkTriangles) {
                chunks_.push_back(open);
                isOpen = false;
            }
        }
    }
    if (isOpen) chunks_.push_back(open);
}

void Pipeline::SetupChunk(const Chunk& chunk, int thread, std::vector<RasterTriangle>& out) {
    // This thread's share of the chunk, in triangles counted from the chunk's start.
    const std::uint64_t total = chunk.triangleCount;
    const std::uint64_t begin =
        total * static_cast<std::uint64_t>(thread) / static_cast<std::uint64_t>(threadCount_);
    const std::uint64_t end =
        total * static_cast<std::uint64_t>(thread + 1) / static_cast<std::uint64_t>(threadCount_);
    std::uint64_t position = 0;
    std::uint32_t first = chunk.firstTriangle;
    for (std::size_t i = chunk.command; i < commands.size() && position < end; ++i) {
        const DrawCommand& draw = commands[i].draw;
        const std::uint64_t available =
            std::min<std::uint64_t>(draw.triangleCount - first, total - position);
        const std::uint64_t lo = std::max(position, begin);
        const std::uint64_t hi = std::min(position + available, end);
        if (lo < hi) {
            SetupTriangles(states[draw.state], draw.state, draw,
                           first + static_cast<std::uint32_t>(lo - position),
                           static_cast<std::uint32_t>(hi - lo), out);
        }
        position += available;
        first = 0;
    }
}

void Pipeline::RunFlush(int thread) {
    const Target target{back.data(), width, height};
    auto setup = [&](std::size_t k) {
        std::vector<RasterTriangle>& out = output_[k & 1][thread];
        out.clear();
        if (!chunks_[k].isClear) SetupChunk(chunks_[k], thread, out);
    };
    setup(0);
    if (threadCount_ > 1) barrier_.Wait();
    for (std::size_t k = 0; k < chunks_.size(); ++k) {
        const Chunk& chunk = chunks_[k];
        if (chunk.isClear) {
            const Command& clear = commands[chunk.command];
            ClearRows(clear.rect, clear.colour, target, thread, threadCount_);
        } else {
            for (int t = 0; t < threadCount_; ++t) {
                const std::vector<RasterTriangle>& list = output_[k & 1][t];
                RasterTriangles(list.data(), list.size(), states.data(), target, thread,
                                threadCount_);
            }
        }
        if (k + 1 < chunks_.size()) setup(k + 1);
        if (threadCount_ > 1) barrier_.Wait();
    }
}

void Pipeline::WorkerLoop(int thread) {
    std::uint32_t seen = 0;
    for (;;) {
        WaitWhileEqual(jobGeneration_, seen);
        seen = jobGeneration_.load(std::memory_order_acquire);
        if (quit_.load(std::memory_order_acquire)) return;
        RunFlush(thread);
        jobsDone_.fetch_add(1, std::memory_order_acq_rel);
        jobsDone_.notify_one();
    }
}

void Pipeline::Flush() {
    BuildChunks();
    if (!chunks_.empty()) {
        if (threadCount_ == 1) {
            RunFlush(0);
        } else {
            jobsDone_.store(0, std::memory_order_relaxed);
            jobGeneration_.fetch_add(1, std::memory_order_release);
            jobGeneration_.notify_all();
            RunFlush(0);
            for (int done = jobsDone_.load(std::memory_order_acquire); done != threadCount_ - 1;
                 done = jobsDone_.load(std::memory_order_acquire)) {
                WaitWhileEqual(jobsDone_, done);
            }
        }
    }
    DiscardQueue();
}

}  // namespace lapquill::software
