// The inside of SoftwareDevice: the queue of draws and clears, the two stages that turn them into
// pixels (geometry: fetch, transform, clip, project, cull; raster: edge functions and spans) and
// the threads that run them. Owned by one SoftwareDevice; nothing here is used by other modules.
// Screen positions are 24.8 fixed-point pixels, y down; colours ARGB.
#pragma once

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
    kFlatColour = 1,   // the three colours are equal
    kOpaqueAlpha = 2,  // the three alphas are 255
    kConstantRhw = 4,  // the three rhw are equal: affine texture coordinates suffice
    kTiny = 8,         // at most 2 x 2 candidate pixels, the covered ones in kCoverageMask
};
// For tiny triangles: bit (dy * 2 + dx) set when pixel (minX + dx, minY + dy) is covered.
inline constexpr int kCoverageShift = 8;
inline constexpr std::uint32_t kCoverageMask = 0xFu << kCoverageShift;

// A set-up, visible, non-degenerate triangle, clockwise on the screen (positive area).
struct RasterTriangle {
    std::int32_t x[3], y[3];  // 24.8 fixed-point pixels
    std::uint32_t colour[3];  // ARGB
    float u[3], v[3];         // texture coordinates (textured states only)
    float rhw[3];             // 1 / w (textured states only)
    std::int16_t minX, maxX;  // pixels whose centre may be covered, inside the viewport
    std::int16_t minY, maxY;
    std::uint32_t state;  // index into the flush's RasterState list
    std::uint32_t flags;  // TriangleFlags
};

// Edge functions of a triangle, evaluated at pixel samples in subpixel units. The one place
// where the sample position and the fill rule enter.
struct Edges {
    std::int64_t atOrigin[3];  // value at the sample of pixel (minX, minY), bias included
    std::int64_t stepX[3];     // change per pixel to the right
    std::int64_t stepY[3];     // change per pixel down
    double inverseStepX[3];    // 1 / stepX, for wide triangles
};

inline void SetupEdges(const std::int32_t x[3], const std::int32_t y[3], std::int32_t minX,
                       std::int32_t minY, Edges& e) {
    const std::int64_t sampleX =
        static_cast<std::int64_t>(minX) * kSubpixelScale + kPixelCentreOffset;
    const std::int64_t sampleY =
        static_cast<std::int64_t>(minY) * kSubpixelScale + kPixelCentreOffset;
    for (int i = 0; i < 3; ++i) {
        const int a = i;
        const int b = i == 2 ? 0 : i + 1;
        const std::int64_t dx = static_cast<std::int64_t>(x[b]) - x[a];
        const std::int64_t dy = static_cast<std::int64_t>(y[b]) - y[a];
        // The triangle is clockwise on the screen, so its top edge runs to the right and its
        // left edges run upwards.
        const bool topLeft = dy < 0 || (dy == 0 && dx > 0);
        e.atOrigin[i] =
            dx * (sampleY - y[a]) - dy * (sampleX - x[a]) + (topLeft ? 0 : kNonTopLeftEdgeBias);
        e.stepX[i] = -dy * kSubpixelScale;
        e.stepY[i] = dx * kSubpixelScale;
    }
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

// The geometry stage for triangles [first, first + count) of a draw: appends what is visible.
void SetupTriangles(const RasterState& state, std::uint32_t stateIndex, const DrawCommand& draw,
                    std::uint32_t first, std::uint32_t count, std::vector<RasterTriangle>& out);

// The raster stage: draws the rows of bands [firstBand, lastBand] of the triangles, in order.
struct Target {
    std::uint32_t* pixels;  // back buffer
    std::int32_t width;     // pixels; also the pitch in pixels
    std::int32_t height;
};
void RasterTriangles(const RasterTriangle* triangles, std::size_t count, const RasterState* states,
                     const Target& target, int firstBand, int lastBand);
// The same for the triangles at `indices` (a band's bin), drawn in band `band` only.
void RasterBin(const RasterTriangle* triangles, const std::uint32_t* indices, std::size_t count,
               const RasterState* states, const Target& target, int band);
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

struct Pipeline {
    explicit Pipeline(int threadCount);
    ~Pipeline();
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    void Resize(std::int32_t width, std::int32_t height);
    // Rasterises every queued command into `back` in order and empties the queue.
    void Flush();
    void DiscardQueue();
    void SwapBuffers() { back.swap(front); }

    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint32_t> back;   // drawn into
    std::vector<std::uint32_t> front;  // presented
    std::vector<RasterState> states;   // validated states of the queued draws
    std::vector<Command> commands;     // in call order
    int ThreadCount() const;

  private:
    // A clear, or up to kBatchTriangles consecutive triangles of the draws from `command` on.
    struct BatchSpec {
        bool isClear;
        std::size_t command;          // clear: its command; draw: first command
        std::uint32_t firstTriangle;  // draw: in that command
        std::uint32_t triangleCount;  // draw: over the following commands
    };
    // A batch set up by one thread, with its bins: the indices of the triangles touching band b
    // are index[binStart[b] .. binStart[b + 1]).
    struct Batch {
        std::vector<RasterTriangle> triangles;
        std::vector<std::uint32_t> binStart;  // band count + 1
        std::vector<std::uint32_t> index;
    };
    void BuildBatches();
    void RunFlush();
    void SetupBatch(const BatchSpec& job, std::vector<RasterTriangle>& out) const;
    void BinBatch(Batch& batch) const;
    int BandCount() const { return (height + kBandRows - 1) / kBandRows; }
    // The next unclaimed item of the flush's phase `phase`; items are claimed by whichever
    // thread is free, so a thread the system holds back delays the others as little as possible.
    std::uint32_t Claim(std::size_t phase) {
        return claims_[phase].fetch_add(1, std::memory_order_relaxed);
    }
    void WorkerLoop();

    int threadCount_;
    std::vector<BatchSpec> specs_;   // the queue cut into batches, in order
    std::vector<std::size_t> chunkEnds_;  // one past each chunk's last batch in specs_
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
