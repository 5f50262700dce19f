// The inside of SoftwareDevice: the queue of draws and clears, the two stages that turn them into
// pixels (geometry: fetch, transform, clip, project, cull; raster: edge functions and spans) and
// the threads that run them. Owned by one SoftwareDevice; nothing here is used by other modules.
// Screen positions are 24.8 fixed-point pixels, y down; colours ARGB.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "render/render_device.h"

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace lapquill::software {

// Rounds to the nearest integer (ties to even) for values well inside the int32 range; one
// instruction where the library call would cost a function call per vertex.
inline std::int32_t RoundToInt(float v) {
#if defined(__SSE__) || defined(__x86_64__)
    return _mm_cvtss_si32(_mm_set_ss(v));
#else
    return static_cast<std::int32_t>(std::lrint(v));
#endif
}

// Fixed-point screen positions: 8 fraction bits, like the subpixel grid of real hardware.
inline constexpr int kSubpixelBits = 8;
inline constexpr std::int32_t kSubpixelScale = 1 << kSubpixelBits;
// Where a pixel is sampled, in subpixels from its integer position. Direct3D 8 samples pixel
// (i, j) at (i, j), so a quad from (0, 0) to (w, h) covers exactly the pixels 0..w-1, 0..h-1.
inline constexpr std::int32_t kPixelCentreOffset = 0;
// Top-left fill rule: a sample exactly on an edge belongs to the triangle only when the edge is
// a top or a left one; on the others the edge function must be strictly positive.
inline constexpr std::int64_t kNonTopLeftEdgeBias = -1;
// Geometry is clipped against near and far, and against a band this far outside the viewport
// only when it reaches beyond it, which keeps every edge function inside 64 bits.
inline constexpr float kGuardBandPixels = 16384.0f;
// The picture is cut into bands of this many rows, the unit of the threads' work: a thread that
// takes a band draws every triangle that touches it, in call order.
inline constexpr int kBandRows = 16;
// The threads take this many bands at a time: a unit twice as tall as the terrain's triangles at
// 4K means fewer triangles set up in two units, and a full-HD frame still has 34 units to share.
inline constexpr int kUnitBands = 2;
// Units of the largest back buffer (8192 rows).
inline constexpr int kMaxUnits = 8192 / (kBandRows * kUnitBands);
// Triangles set up between two synchronisations of the threads (the most a flush holds in
// memory at once), and the batches they are set up in, each taken by one thread.
inline constexpr std::uint32_t kChunkTriangles = 1u << 18;
inline constexpr std::uint32_t kBatchTriangles = 2048;

using ByteBlob = std::shared_ptr<std::uint8_t[]>;

// A texture as the sampler reads it: decoded to ARGB8888 at UnlockRect.
struct TextureImage {
    std::int32_t width = 0;             // texels
    std::int32_t height = 0;            // texels
    std::vector<std::uint32_t> texels;  // ARGB, row-major, no padding
};

enum class StageSource : std::uint8_t { Diffuse, Texture, Factor };
struct StageArg {
    StageSource source = StageSource::Diffuse;
    bool complement = false;      // 1 - x
    bool alphaReplicate = false;  // the alpha in every channel
};
enum class StageOp : std::uint8_t { Disable, SelectArg1, SelectArg2, Modulate, Add };

// Everything a draw needs, validated once when the state changed and shared by its triangles.
struct RasterState {
    // vertex fetch and transform
    bool pretransformed = false;      // XYZRHW: positions are pixels already
    bool wideVectors = false;         // set up with AVX2 (the processor has it)
    std::uint32_t stride = 0;         // bytes per vertex
    std::int32_t diffuseOffset = -1;  // bytes into the vertex; -1: no colour, white
    std::int32_t texOffset = -1;      // bytes into the vertex; -1: no coordinates, (0, 0)
    float wvp[4][4] = {};             // world * view * projection
    std::int32_t width = 0;           // viewport = back buffer, pixels
    std::int32_t height = 0;
    std::uint32_t cullMode = D3DCULL_CCW;
    bool flatShade = false;  // D3DSHADE_FLAT: the first vertex's colour everywhere
    // pixel pipeline
    bool opaque = true;          // the colour written is the stage output, dst unread
    bool srcAlphaBlend = false;  // SRCALPHA / INVSRCALPHA, the program's blend
    std::uint32_t srcBlend = D3DBLEND_ONE;
    std::uint32_t dstBlend = D3DBLEND_ZERO;
    bool alphaTest = false;
    std::uint32_t alphaFunc = D3DCMP_ALWAYS;
    std::uint32_t alphaRef = 0;    // 0..255
    bool stagePassThrough = true;  // stage 0 gives the diffuse colour unchanged
    StageOp colorOp = StageOp::Disable;
    StageOp alphaOp = StageOp::Disable;
    StageArg colorArg1, colorArg2, alphaArg1, alphaArg2;
    // Colour and alpha are both texture * diffuse (the text's stage), with a texture bound.
    bool modulateTexture = false;
    std::uint32_t textureFactor = 0xFFFFFFFF;     // ARGB
    std::shared_ptr<const TextureImage> texture;  // null: TEXTURE reads opaque white
    std::uint32_t magFilter = D3DTEXF_POINT;
    std::uint32_t minFilter = D3DTEXF_POINT;
    std::uint32_t addressU = D3DTADDRESS_WRAP;
    std::uint32_t addressV = D3DTADDRESS_WRAP;
};

enum TriangleFlags : std::uint32_t {
    kFlatColour = 1,    // the three colours are equal
    kOpaqueAlpha = 2,   // the three alphas are 255
    kConstantRhw = 4,   // the three rhw are equal: affine texture coordinates suffice
    kTiny = 8,          // at most 2 x 2 candidate pixels, the covered ones in kCoverageMask
    kSmall = 16,        // fits kNarrowTriangle: Gouraud colour steps across whole rows
    kNarrowSpans = 32,  // fits kNarrowSpanColumns: rows found 16 samples at a time in 32 bits
};
// For tiny triangles: bit (dy * 2 + dx) set when pixel (minX + dx, minY + dy) is covered.
inline constexpr int kCoverageShift = 8;
inline constexpr std::uint32_t kCoverageMask = 0xFu << kCoverageShift;

// A set-up, visible, non-degenerate triangle, clockwise on the screen (positive area).
struct RasterTriangle {
    // Left unset: set-up writes every field of the triangles it keeps, and zeroing them first
    // would cost a pass over them for each of the frame's hundred thousand triangles.
    RasterTriangle() {}       // NOLINT(modernize-use-equals-default): = default would zero them
    std::int32_t x[3], y[3];  // 24.8 fixed-point pixels
    std::uint32_t colour[3];  // ARGB
    std::int16_t minX, maxX;  // pixels whose centre may be covered, inside the viewport
    std::int16_t minY, maxY;
    std::uint32_t state;     // index into the flush's RasterState list
    std::uint32_t flags;     // TriangleFlags
    std::uint32_t textured;  // textured states: index into its list's TexturedCorners
};

// The texture coordinates and 1 / w of a textured triangle's corners, in the triangle's corner
// order. They are kept apart from the triangles: most of a frame has none, and every byte of a
// RasterTriangle is written by set-up and read back by each band that draws it.
struct TexturedCorners {
    float u[3], v[3];  // texture coordinates
    float rhw[3];      // 1 / w
};

// What set-up makes of a batch: its triangles, in call order, and their textured corners.
struct TriangleList {
    std::vector<RasterTriangle> triangles;
    std::vector<TexturedCorners> textured;
    void Clear() {
        triangles.clear();
        textured.clear();
    }
};

// Up to this many pixels wide, a row's samples are tested one by one.
inline constexpr int kNarrowTriangle = 8;
// Narrow triangles up to this many rows keep their edge functions within 32 bits.
inline constexpr int kSmallTriangleRows = 64;
// Up to this many pixels wide, a row's samples are tested 16 at a time.
inline constexpr int kNarrowSpanColumns = 16;

// A triangle whose box is less than `columns` pixels wide (boxColumns is maxX - minX) and
// whose vertices span less than that many pixels across and kSmallTriangleRows - 1 rows down
// (24.8 extents): the vertices count too, since the viewport may have cut the box down. Edge
// functions over the box of a triangle that fits kNarrowSpanColumns stay below 2^28.
inline bool FitsNarrowBox(std::int32_t boxColumns, std::int32_t vertexWidth,
                          std::int32_t vertexHeight, int columns) {
    return boxColumns < columns && vertexWidth < columns * kSubpixelScale &&
           vertexHeight < (kSmallTriangleRows - 1) * kSubpixelScale;
}

// Edge functions of a triangle, evaluated at pixel samples in subpixel units. The one place
// where the sample position and the fill rule enter.
struct Edges {
    std::int64_t atOrigin[3];  // value at the sample of pixel (minX, minY), bias included
    std::int64_t stepX[3];     // change per pixel to the right
    std::int64_t stepY[3];     // change per pixel down
    double inverseStepX[3];    // 1 / stepX, for wide triangles
};

// SetupEdges in 32 bits: the same values modulo 2^32, computed unsigned so that the wrap is
// defined. For a triangle that fits kNarrowSpanColumns they are the true values, and so are
// its samples inside the box.
struct Edges32 {
    std::uint32_t atOrigin[3];
    std::uint32_t stepX[3];
    std::uint32_t stepY[3];
};

// Both set-ups in one: Int is std::int64_t for Edges, std::uint32_t for Edges32.
template <typename Int, typename EdgeSet>
inline void SetupEdgeFunctions(const std::int32_t x[3], const std::int32_t y[3],
                               std::int32_t minX, std::int32_t minY, EdgeSet& e) {
    const Int sampleX = static_cast<Int>(minX) * kSubpixelScale + kPixelCentreOffset;
    const Int sampleY = static_cast<Int>(minY) * kSubpixelScale + kPixelCentreOffset;
    for (int i = 0; i < 3; ++i) {
        const int a = i;
        const int b = i == 2 ? 0 : i + 1;
        const std::int64_t dx = static_cast<std::int64_t>(x[b]) - x[a];
        const std::int64_t dy = static_cast<std::int64_t>(y[b]) - y[a];
        // The triangle is clockwise on the screen, so its top edge runs to the right and its
        // left edges run upwards.
        const bool topLeft = dy < 0 || (dy == 0 && dx > 0);
        const auto idx = static_cast<Int>(dx);
        const auto idy = static_cast<Int>(dy);
        e.atOrigin[i] = idx * (sampleY - static_cast<Int>(y[a])) -
                        idy * (sampleX - static_cast<Int>(x[a])) +
                        static_cast<Int>(topLeft ? 0 : kNonTopLeftEdgeBias);
        e.stepX[i] = static_cast<Int>(0) - idy * kSubpixelScale;
        e.stepY[i] = idx * kSubpixelScale;
    }
}

inline void SetupEdges(const std::int32_t x[3], const std::int32_t y[3], std::int32_t minX,
                       std::int32_t minY, Edges& e) {
    SetupEdgeFunctions<std::int64_t>(x, y, minX, minY, e);
}

inline void SetupEdges32(const std::int32_t x[3], const std::int32_t y[3], std::int32_t minX,
                         std::int32_t minY, Edges32& e) {
    SetupEdgeFunctions<std::uint32_t>(x, y, minX, minY, e);
}

struct DrawCommand {
    std::uint32_t state = 0;      // index into Pipeline::states
    ByteBlob data;                // the vertex buffer's memory at the time of the draw
    std::uint32_t firstByte = 0;  // of the first vertex
    std::uint32_t triangleCount = 0;
};

struct Command {
    bool isClear = false;
    std::uint32_t colour = 0;  // clear: ARGB
    D3DRECT rect{};            // clear: inside the viewport
    DrawCommand draw;
};

// True where the processor runs AVX2, which the geometry stage then uses for the vertices and
// the first tests of the triangles of transformed draws.
bool HasWideVectors();

// The geometry stage for triangles [first, first + count) of a draw: appends what is visible.
void SetupTriangles(const RasterState& state, std::uint32_t stateIndex, const DrawCommand& draw,
                    std::uint32_t first, std::uint32_t count, TriangleList& out);

// The raster stage: draws the rows of bands [firstBand, lastBand] of the triangles, in order.
struct Target {
    std::uint32_t* pixels;  // back buffer
    std::int32_t width;     // pixels; also the pitch in pixels
    std::int32_t height;
};
void RasterTriangles(const TriangleList& list, const RasterState* states, const Target& target,
                     int firstBand, int lastBand);
// The same for the triangles of `list` at `indices` (a unit's bin).
void RasterBin(const TriangleList& list, const std::uint32_t* indices, std::size_t count,
               const RasterState* states, const Target& target, int firstBand, int lastBand);
void ClearRows(const D3DRECT& rect, std::uint32_t colour, const Target& target, int firstBand,
               int lastBand);

// A barrier for the rasterising threads: spins briefly (the other side is usually a few
// microseconds away), then sleeps.
class SpinBarrier {
  public:
    explicit SpinBarrier(int count) : count_(count) {}
    void Wait();

  private:
    int count_;
    std::atomic<int> arrived_{0};
    std::atomic<std::uint32_t> generation_{0};
};

// With more than one thread, the other threads start on a frame as soon as its first command is
// queued: each batch the queue completes is published, and they set it up and bin it while the
// caller is still queueing the rest. Present then finishes the set-up and draws. What the early
// threads read (the commands, states and batch specs of published batches) is never moved while
// they may read it: the lists are grown only after the published batches are all set up.
struct Pipeline {
    explicit Pipeline(int threadCount);
    ~Pipeline();
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    void Resize(std::int32_t width, std::int32_t height);
    // Appends a clear or a draw, whose state is already in `states`.
    void Queue(Command&& command);
    // Appends a validated state and returns its index.
    std::uint32_t AddState(RasterState&& state);
    // Rasterises every queued command into `back` in order and empties the queue.
    void Flush();
    void DiscardQueue();
    void SwapBuffers() { back.swap(front); }

    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint32_t> back;   // drawn into
    std::vector<std::uint32_t> front;  // presented
    std::vector<RasterState> states;   // validated states of the queued draws; AddState appends
    std::vector<Command> commands;     // in call order; Queue appends
    int ThreadCount() const;
    // Batches that the other threads set up while their frame was still being queued, in the
    // flushes so far and in the frame being queued.
    std::uint64_t EarlyBatches() const {
        return earlyBatchesTotal_ + (early_ ? earlyBatches_.load(std::memory_order_relaxed) : 0);
    }

  private:
    // A clear, or up to kBatchTriangles consecutive triangles of the draws from `command` on.
    struct BatchSpec {
        bool isClear;
        std::size_t command;          // clear: its command; draw: first command
        std::uint32_t firstTriangle;  // draw: in that command
        std::uint32_t triangleCount;  // draw: over the following commands
    };
    // A batch set up by one thread, with its bins: the indices of the triangles touching unit u
    // are index[binStart[u] .. binStart[u + 1]).
    struct Batch {
        TriangleList triangles;
        std::vector<std::uint32_t> binStart;  // unit count + 1
        std::vector<std::uint32_t> index;
    };
    // Cuts commands[index] into specs_, closing batches and chunks as they fill.
    void CutCommand(std::size_t index);
    void CloseSpecs();
    void RunFlush();
    // Room for `more` appends to a list the early threads read: grown, if it must be, only
    // after they are done with it, so that no append moves it under them.
    template <typename T>
    void MakeRoom(std::vector<T>& list, std::size_t more);
    // The units in the order the threads take them for drawing: the ones with the most
    // triangles of the chunk first. One unit may hold most of a frame (where the ribbons of all
    // laps meet, say); taken last in picture order it would keep one thread drawing long after
    // the others ran out of units. The order does not change the pixels: each unit is still
    // drawn whole by one thread, in call order.
    void OrderUnits(std::size_t chunkStart, std::uint32_t batchCount, std::uint16_t* order) const;
    // The early phase of a frame (threadCount_ > 1), run by the main thread.
    void BeginEarly();
    void Publish();
    void HelpEarly();
    void DrainEarly();
    void EndEarly(bool flushFollows);
    // The other threads' side: sets up published batches until the phase ends; true when the
    // flush follows.
    bool EarlySetup();
    void SetupPublished(std::uint32_t index);
    bool ClaimPublished(std::uint32_t* index);
    void SetupBatch(const BatchSpec& job, TriangleList& out) const;
    void BinBatch(Batch& batch) const;
    int BandCount() const { return (height + kBandRows - 1) / kBandRows; }
    int UnitCount() const { return (BandCount() + kUnitBands - 1) / kUnitBands; }
    // The next unclaimed item of the flush's phase `phase`; items are claimed by whichever
    // thread is free, so a thread the system holds back delays the others as little as possible.
    std::uint32_t Claim(std::size_t phase) {
        return claims_[phase].fetch_add(1, std::memory_order_relaxed);
    }
    void WorkerLoop();

    int threadCount_;
    std::vector<BatchSpec> specs_;   // the queue cut into batches, in order
    std::vector<std::size_t> chunkEnds_;  // one past each chunk's last batch in specs_
    BatchSpec openSpec_{false, 0, 0, 0};  // the batch being filled by the queue
    bool specOpen_ = false;
    std::uint32_t chunkTriangles_ = 0;  // in the chunk being filled
    // The early phase: specs_[0, published_) may be set up by any thread; earlyNext_ is the next
    // one to claim and earlyDone_ counts the finished ones. frameEvent_ changes at every
    // publication and when the phase ends (earlyEnd_: 1 a flush follows, 2 the queue was dropped).
    bool early_ = false;
    std::atomic<std::uint32_t> published_{0};
    std::atomic<std::uint32_t> earlyNext_{0};
    std::atomic<std::uint32_t> earlyDone_{0};
    std::atomic<std::uint32_t> frameEvent_{0};
    std::atomic<int> earlyEnd_{0};
    std::atomic<std::uint32_t> earlyBatches_{0};  // set up by the other threads this frame
    std::uint64_t earlyBatchesTotal_ = 0;
    std::vector<Batch> batches_;          // of the chunk being drawn, from its first batch on
    std::unique_ptr<std::atomic<std::uint32_t>[]> claims_;  // per phase: next item
    std::size_t claimCapacity_ = 0;
    SpinBarrier barrier_;
    std::vector<std::thread> workers_;
    std::atomic<std::uint32_t> jobGeneration_{0};
    std::atomic<int> jobsDone_{0};
    std::atomic<bool> quit_{false};
};

}  // namespace lapquill::software
