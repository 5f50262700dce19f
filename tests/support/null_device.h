// A RenderDevice that accepts every call and draws nothing, for tests of the view's logic
// that need a device to exist (so that resets happen) but look at no pixels. It counts the
// calls that the view's life depends on.
#pragma once

#include "render/render_device.h"

namespace lapquill::test {

class NullDevice final : public RenderDevice {
  public:
    NullDevice(std::int32_t width, std::int32_t height) : width_(width), height_(height) {}

    int resets = 0;
    int presents = 0;
    HRESULT cooperativeLevel = D3D_OK;  // what TestCooperativeLevel answers

    HRESULT TestCooperativeLevel() override { return cooperativeLevel; }
    HRESULT Reset(std::int32_t width, std::int32_t height) override {
        ++resets;
        width_ = width;
        height_ = height;
        cooperativeLevel = D3D_OK;
        return D3D_OK;
    }
    HRESULT GetDeviceCaps(D3DCAPS8* caps) override {
        *caps = {4096, 4096, 65535, 256};
        return D3D_OK;
    }
    HRESULT Clear(std::uint32_t, const D3DRECT*, std::uint32_t, std::uint32_t, float,
                  std::uint32_t) override {
        return D3D_OK;
    }
    HRESULT BeginScene() override { return D3D_OK; }
    HRESULT EndScene() override { return D3D_OK; }
    HRESULT Present() override {
        ++presents;
        return D3D_OK;
    }
    PresentedFrame GetPresentedFrame() const override {
        return {width_, height_, width_ * 4, nullptr};
    }
    HRESULT SetRenderState(D3DRENDERSTATETYPE, std::uint32_t) override { return D3D_OK; }
    HRESULT GetRenderState(D3DRENDERSTATETYPE, std::uint32_t* value) override {
        *value = 0;
        return D3D_OK;
    }
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE, const Matrix4*) override { return D3D_OK; }
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE, Matrix4* m) override {
        *m = {};
        return D3D_OK;
    }
    HRESULT SetTexture(std::uint32_t, Texture*) override { return D3D_OK; }
    HRESULT GetTexture(std::uint32_t, Texture** t) override {
        *t = nullptr;
        return D3D_OK;
    }
    HRESULT SetTextureStageState(std::uint32_t, D3DTEXTURESTAGESTATETYPE, std::uint32_t) override {
        return D3D_OK;
    }
    HRESULT GetTextureStageState(std::uint32_t, D3DTEXTURESTAGESTATETYPE,
                                 std::uint32_t* value) override {
        *value = 0;
        return D3D_OK;
    }
    HRESULT SetVertexShader(std::uint32_t) override { return D3D_OK; }
    HRESULT SetStreamSource(std::uint32_t, VertexBuffer*, std::uint32_t) override { return D3D_OK; }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE, std::uint32_t, std::uint32_t) override {
        return D3D_OK;
    }
    HRESULT CreateVertexBuffer(std::uint32_t, std::uint32_t, std::uint32_t, D3DPOOL,
                               VertexBuffer** buffer) override {
        *buffer = nullptr;
        return E_OUTOFMEMORY;
    }
    HRESULT CreateTexture(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, D3DFORMAT,
                          D3DPOOL, Texture** texture) override {
        *texture = nullptr;
        return E_OUTOFMEMORY;
    }
    HRESULT BeginStateBlock() override { return D3D_OK; }
    HRESULT EndStateBlock(std::uint32_t* token) override {
        *token = 1;
        return D3D_OK;
    }
    HRESULT ApplyStateBlock(std::uint32_t) override { return D3D_OK; }
    HRESULT CaptureStateBlock(std::uint32_t) override { return D3D_OK; }
    HRESULT DeleteStateBlock(std::uint32_t) override { return D3D_OK; }

  private:
    std::int32_t width_, height_;
};

}  // namespace lapquill::test
