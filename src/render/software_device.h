// SoftwareDevice: the RenderDevice of the program, a CPU rasteriser into an ARGB framebuffer.
// Whoever creates it owns it (the view, through its window's factory; the CLI; the tests) and
// destroys it after releasing the resources it made. Draws are queued and rasterised at Present
// on a small pool of threads that split the picture into interleaved bands of rows (the other
// threads start setting up the queued triangles while the frame is still being queued); every
// thread count gives the same pixels. Pixel (i, j) is sampled at (i, j) exactly, with the
// top-left fill rule; there is no depth buffer. Each device's state lives in the device alone.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "render/render_device.h"

namespace lapquill {

namespace software {
struct Pipeline;  // the queue and rasteriser, private to software_*.cpp
struct StateBlock;
}  // namespace software

struct SoftwareDeviceOptions {
    int threadCount = 0;                    // rasterising threads; 0 picks the cores, at most 8
    std::uint32_t maxTextureWidth = 4096;   // texels, reported by GetDeviceCaps
    std::uint32_t maxTextureHeight = 4096;  // texels
    // Sets triangles up eight at a time with AVX2 where the processor has it. The pictures are
    // the same to the bit either way; off, the device takes its SSE2 path on every processor.
    bool wideVectors = true;
};

// What the tests read: counted for every DrawPrimitive the device accepted.
struct DrawCounters {
    std::int64_t drawCalls = 0;  // DrawPrimitive calls
    std::int64_t triangles = 0;  // triangles asked for (before clipping and culling)
};

// One accepted DrawPrimitive, kept while SoftwareDevice::recordDrawCalls is set.
struct DrawCallRecord {
    std::uint32_t fvf;     // vertex format at the call
    std::uint32_t stride;  // bytes per vertex of stream 0
    std::uint32_t startVertex;
    std::uint32_t primitiveCount;  // triangles
    std::uint32_t cullMode;        // D3DRS_CULLMODE at the call
};

class SoftwareDevice final : public RenderDevice {
  public:
    static constexpr std::int32_t kMaxBackBufferSize = 8192;  // pixels per side

    // A back buffer of width x height pixels (clamped to 1..kMaxBackBufferSize), opaque black.
    SoftwareDevice(std::int32_t width, std::int32_t height,
                   const SoftwareDeviceOptions& options = {});
    ~SoftwareDevice() override;
    SoftwareDevice(const SoftwareDevice&) = delete;
    SoftwareDevice& operator=(const SoftwareDevice&) = delete;

    HRESULT TestCooperativeLevel() override;
    HRESULT Reset(std::int32_t width, std::int32_t height) override;
    HRESULT GetDeviceCaps(D3DCAPS8* caps) override;

    HRESULT Clear(std::uint32_t count, const D3DRECT* rects, std::uint32_t flags,
                  std::uint32_t colour, float z, std::uint32_t stencil) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Present() override;
    PresentedFrame GetPresentedFrame() const override;

    HRESULT SetRenderState(D3DRENDERSTATETYPE state, std::uint32_t value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, std::uint32_t* value) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const Matrix4* matrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, Matrix4* matrix) override;
    HRESULT SetTexture(std::uint32_t stage, Texture* texture) override;
    HRESULT GetTexture(std::uint32_t stage, Texture** texture) override;
    HRESULT SetTextureStageState(std::uint32_t stage, D3DTEXTURESTAGESTATETYPE type,
                                 std::uint32_t value) override;
    HRESULT GetTextureStageState(std::uint32_t stage, D3DTEXTURESTAGESTATETYPE type,
                                 std::uint32_t* value) override;
    HRESULT SetVertexShader(std::uint32_t fvf) override;
    HRESULT SetStreamSource(std::uint32_t streamNumber, VertexBuffer* buffer,
                            std::uint32_t stride) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, std::uint32_t startVertex,
                          std::uint32_t primitiveCount) override;

    HRESULT CreateVertexBuffer(std::uint32_t length, std::uint32_t usage, std::uint32_t fvf,
                               D3DPOOL pool, VertexBuffer** buffer) override;
    HRESULT CreateTexture(std::uint32_t width, std::uint32_t height, std::uint32_t levels,
                          std::uint32_t usage, D3DFORMAT format, D3DPOOL pool,
                          Texture** texture) override;

    HRESULT BeginStateBlock() override;
    HRESULT EndStateBlock(std::uint32_t* token) override;
    HRESULT ApplyStateBlock(std::uint32_t token) override;
    HRESULT CaptureStateBlock(std::uint32_t token) override;
    HRESULT DeleteStateBlock(std::uint32_t token) override;

    // Test hooks for the device-loss path. After SimulateDeviceLost(true) TestCooperativeLevel
    // reports D3DERR_DEVICENOTRESET until a successful Reset; with false it reports
    // D3DERR_DEVICELOST and Reset fails until SimulateDeviceLost(true). While lost, draws and
    // clears do nothing and Present fails with D3DERR_DEVICELOST.
    void SimulateDeviceLost(bool canReset = true);
    // The next `successes` creations succeed, later ones fail with D3DERR_OUTOFVIDEOMEMORY;
    // -1 (the default) never fails.
    void FailVertexBufferCreationAfter(int successes) { vertexBufferCreationsLeft_ = successes; }
    void FailTextureCreationAfter(int successes) { textureCreationsLeft_ = successes; }

    std::int32_t Width() const { return width_; }    // back buffer, pixels
    std::int32_t Height() const { return height_; }  // back buffer, pixels
    int ThreadCount() const;
    // Batches of triangles the other threads set up before Present, since construction.
    std::uint64_t EarlySetupBatches() const;

    DrawCounters counters;                    // since construction or ResetCounters
    bool recordDrawCalls = false;             // keep drawCallLog
    std::vector<DrawCallRecord> drawCallLog;  // accepted draws while recordDrawCalls is set
    void ResetCounters() {
        counters = DrawCounters{};
        drawCallLog.clear();
    }

  private:
    enum class Loss { None, NotReset, Lost };
    struct DeviceState;

    HRESULT SetRenderStateImpl(std::uint32_t state, std::uint32_t value);
    void ResetStateToDefaults();
    void DeleteAllStateBlocks();
    void ValidateDrawState();
    void Flush();
    software::StateBlock* FindStateBlock(std::uint32_t token);

    std::int32_t width_;   // back buffer, pixels
    std::int32_t height_;  // back buffer, pixels
    SoftwareDeviceOptions options_;
    Loss loss_ = Loss::None;
    bool inScene_ = false;
    int vertexBufferCreationsLeft_ = -1;
    int textureCreationsLeft_ = -1;
    std::unique_ptr<DeviceState> state_;                              // what the Set* calls changed
    std::unique_ptr<software::StateBlock> recording_;                 // between Begin/EndStateBlock
    std::vector<std::unique_ptr<software::StateBlock>> stateBlocks_;  // token - 1 -> block
    std::shared_ptr<std::atomic<int>> liveDefaultPoolResources_;      // shared with the resources
    std::unique_ptr<software::Pipeline> pipeline_;  // queue, framebuffers, threads
};

}  // namespace lapquill
