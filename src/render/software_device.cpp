// SoftwareDevice: the device state, its resources and state blocks, and the validation that turns
// the state into a RasterState once per change. Drawing itself is queued to the Pipeline.
#include "render/software_device.h"

#include <algorithm>
#include <bitset>
#include <cstring>
#include <thread>

#include "math/math3d.h"
#include "render/software_pipeline.h"

namespace lapquill {
namespace software {
namespace {

static_assert(kMaxUnits * kUnitBands * kBandRows >= SoftwareDevice::kMaxBackBufferSize,
              "the pipeline orders the units of the largest back buffer on the stack");

// Which transform slot a D3DTS_* value names; -1 for the ones the device does not keep.
int TransformSlot(std::uint32_t state) {
    switch (state) {
        case D3DTS_WORLD:
            return 0;
        case D3DTS_VIEW:
            return 1;
        case D3DTS_PROJECTION:
            return 2;
        default:
            return -1;
    }
}

// The device's own object behind an interface pointer. False for an object some other device
// made; a null pointer is its own, null, object.
template <typename Concrete, typename Interface>
bool OwnObject(Interface* object, Concrete** out) {
    *out = object != nullptr ? dynamic_cast<Concrete*>(object) : nullptr;
    return object == nullptr || *out != nullptr;
}

Matrix4 Identity() {
    Matrix4 m;
    D3DXMatrixIdentity(&m);
    return m;
}

}  // namespace

// The reference count of the device's resources: one reference when made, freed by the last
// Release.
template <typename Interface>
class Counted : public Interface {
  public:
    std::uint32_t AddRef() override { return ++references_; }
    std::uint32_t Release() override {
        const std::uint32_t left = --references_;
        if (left == 0) delete this;  // the destructor is virtual
        return left;
    }

  private:
    std::uint32_t references_ = 1;
};

class SoftwareVertexBuffer final : public Counted<VertexBuffer> {
  public:
    SoftwareVertexBuffer(std::uint32_t length, std::uint32_t usage, std::uint32_t fvf, D3DPOOL pool,
                         std::shared_ptr<std::atomic<int>> liveDefaultPool)
        : data_(std::make_shared<std::uint8_t[]>(length)),
          desc_{usage, fvf, pool, length},
          liveDefaultPool_(pool == D3DPOOL_DEFAULT ? std::move(liveDefaultPool) : nullptr) {
        if (liveDefaultPool_) liveDefaultPool_->fetch_add(1);
    }


    HRESULT Lock(std::uint32_t offset, std::uint32_t size, std::uint8_t** data,
                 std::uint32_t flags) override {
        if (data == nullptr || offset > desc_.Size) return D3DERR_INVALIDCALL;
        if (size == 0) size = desc_.Size - offset;
        if (size > desc_.Size - offset) return D3DERR_INVALIDCALL;
        // Queued draws keep the memory they were given: a discarding lock hands out fresh memory,
        // a plain one copies first, and NOOVERWRITE promises not to touch what they read.
        if (data_.use_count() > 1) {
            // Neither needs the new memory cleared: discarded contents are undefined, and the
            // copy overwrites all of it.
            if ((flags & D3DLOCK_DISCARD) != 0) {
                data_ = std::make_shared_for_overwrite<std::uint8_t[]>(desc_.Size);
            } else if ((flags & (D3DLOCK_NOOVERWRITE | D3DLOCK_READONLY)) == 0) {
                ByteBlob copy = std::make_shared_for_overwrite<std::uint8_t[]>(desc_.Size);
                std::memcpy(copy.get(), data_.get(), desc_.Size);
                data_ = std::move(copy);
            }
        }
        ++locks_;
        *data = data_.get() + offset;
        return D3D_OK;
    }
    HRESULT Unlock() override {
        if (locks_ == 0) return D3DERR_INVALIDCALL;
        --locks_;
        return D3D_OK;
    }
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) override {
        if (desc == nullptr) return D3DERR_INVALIDCALL;
        *desc = desc_;
        return D3D_OK;
    }

    const ByteBlob& Data() const { return data_; }
    std::uint32_t Size() const { return desc_.Size; }
    bool IsLocked() const { return locks_ > 0; }

  private:
    ~SoftwareVertexBuffer() override {
        if (liveDefaultPool_) liveDefaultPool_->fetch_sub(1);
    }

    int locks_ = 0;
    ByteBlob data_;
    D3DVERTEXBUFFER_DESC desc_;
    std::shared_ptr<std::atomic<int>> liveDefaultPool_;  // null outside D3DPOOL_DEFAULT
};

class SoftwareTexture final : public Counted<Texture> {
  public:
    SoftwareTexture(std::uint32_t width, std::uint32_t height, std::uint32_t usage,
                    D3DFORMAT format, D3DPOOL pool,
                    std::shared_ptr<std::atomic<int>> liveDefaultPool)
        : desc_{format, usage, pool, width, height},
          bytesPerTexel_(format == D3DFMT_A4R4G4B4 ? 2u : 4u),
          storage_(static_cast<std::size_t>(width) * height * bytesPerTexel_),
          liveDefaultPool_(pool == D3DPOOL_DEFAULT ? std::move(liveDefaultPool) : nullptr) {
        auto image = std::make_shared<TextureImage>();
        image->width = static_cast<std::int32_t>(width);
        image->height = static_cast<std::int32_t>(height);
        image->texels.assign(static_cast<std::size_t>(width) * height,
                             format == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0u);
        image_ = std::move(image);
        if (liveDefaultPool_) liveDefaultPool_->fetch_add(1);
    }

    std::uint32_t GetLevelCount() override { return 1; }
    HRESULT GetLevelDesc(std::uint32_t level, D3DSURFACE_DESC* desc) override {
        if (level != 0 || desc == nullptr) return D3DERR_INVALIDCALL;
        *desc = desc_;
        return D3D_OK;
    }
    HRESULT LockRect(std::uint32_t level, D3DLOCKED_RECT* locked, const D3DRECT* rect,
                     std::uint32_t /*flags*/) override {
        if (level != 0 || locked == nullptr || locked_) return D3DERR_INVALIDCALL;
        D3DRECT r{0, 0, static_cast<std::int32_t>(desc_.Width),
                  static_cast<std::int32_t>(desc_.Height)};
        if (rect != nullptr) {
            if (rect->x1 < 0 || rect->y1 < 0 || rect->x2 > r.x2 || rect->y2 > r.y2 ||
                rect->x1 >= rect->x2 || rect->y1 >= rect->y2) {
                return D3DERR_INVALIDCALL;
            }
            r = *rect;
        }
        const std::size_t pitch = static_cast<std::size_t>(desc_.Width) * bytesPerTexel_;
        locked->Pitch = static_cast<std::int32_t>(pitch);
        locked->pBits = storage_.data() + static_cast<std::size_t>(r.y1) * pitch +
                        static_cast<std::size_t>(r.x1) * bytesPerTexel_;
        lockedRect_ = r;
        locked_ = true;
        return D3D_OK;
    }
    HRESULT UnlockRect(std::uint32_t level) override {
        if (level != 0 || !locked_) return D3DERR_INVALIDCALL;
        locked_ = false;
        Decode(lockedRect_);
        ++version_;
        return D3D_OK;
    }

    const std::shared_ptr<const TextureImage>& Image() const { return image_; }
    std::uint64_t Version() const { return version_; }

  private:
    ~SoftwareTexture() override {
        if (liveDefaultPool_) liveDefaultPool_->fetch_sub(1);
    }

    // Expands the changed texels to ARGB8888 for the sampler; queued draws keep the old image.
    void Decode(const D3DRECT& r) {
        std::shared_ptr<TextureImage> image;
        if (image_.use_count() == 1) {
            image = std::const_pointer_cast<TextureImage>(image_);
        } else {
            image = std::make_shared<TextureImage>(*image_);
        }
        const std::size_t width = desc_.Width;
        for (std::int32_t y = r.y1; y < r.y2; ++y) {
            for (std::int32_t x = r.x1; x < r.x2; ++x) {
                const std::size_t index = static_cast<std::size_t>(y) * width + x;
                const std::uint8_t* p = storage_.data() + index * bytesPerTexel_;
                std::uint32_t argb;
                if (desc_.Format == D3DFMT_A4R4G4B4) {
                    const std::uint32_t t = p[0] | (static_cast<std::uint32_t>(p[1]) << 8);
                    argb = (((t >> 12) & 0xF) * 17u) << 24 | (((t >> 8) & 0xF) * 17u) << 16 |
                           (((t >> 4) & 0xF) * 17u) << 8 | ((t & 0xF) * 17u);
                } else {
                    std::memcpy(&argb, p, 4);
                    if (desc_.Format == D3DFMT_X8R8G8B8) argb |= 0xFF000000u;
                }
                image->texels[index] = argb;
            }
        }
        image_ = std::move(image);
    }

    D3DSURFACE_DESC desc_;
    std::uint32_t bytesPerTexel_;
    std::vector<std::uint8_t> storage_;  // in the texture's own format, as LockRect shows it
    std::shared_ptr<const TextureImage> image_;
    std::uint64_t version_ = 0;  // bumped by every UnlockRect
    bool locked_ = false;
    D3DRECT lockedRect_{};
    std::shared_ptr<std::atomic<int>> liveDefaultPool_;
};

// The states a state block recorded, with their values. Holds references on its resources.
struct StateBlock {
    std::bitset<kRenderStateCount> renderStateSet;
    // The set states in ascending order, so that applying and capturing a block visits only
    // those (the text applies two blocks for every string).
    std::vector<std::uint32_t> renderStateList;
    std::vector<std::uint32_t> stageStateList;  // stage * kTextureStageStateCount + type
    std::uint32_t renderStates[kRenderStateCount] = {};
    std::bitset<kTextureStageCount * kTextureStageStateCount> stageStateSet;
    std::uint32_t stageStates[kTextureStageCount][kTextureStageStateCount] = {};
    bool textureSet[kTextureStageCount] = {};
    SoftwareTexture* textures[kTextureStageCount] = {};
    bool transformSet[3] = {};
    Matrix4 transforms[3] = {};
    bool fvfSet = false;
    std::uint32_t fvf = 0;
    bool streamSet = false;
    SoftwareVertexBuffer* stream = nullptr;
    std::uint32_t stride = 0;

    StateBlock() = default;
    StateBlock(const StateBlock&) = delete;
    StateBlock& operator=(const StateBlock&) = delete;
    ~StateBlock() {
        for (SoftwareTexture* texture : textures) {
            if (texture != nullptr) texture->Release();
        }
        if (stream != nullptr) stream->Release();
    }
    void RecordRenderState(std::uint32_t state, std::uint32_t value) {
        if (!renderStateSet.test(state)) {
            renderStateSet.set(state);
            renderStateList.insert(
                std::upper_bound(renderStateList.begin(), renderStateList.end(), state), state);
        }
        renderStates[state] = value;
    }
    void RecordStageState(std::uint32_t stage, std::uint32_t type, std::uint32_t value) {
        const std::uint32_t index = stage * kTextureStageStateCount + type;
        if (!stageStateSet.test(index)) {
            stageStateSet.set(index);
            stageStateList.insert(
                std::upper_bound(stageStateList.begin(), stageStateList.end(), index), index);
        }
        stageStates[stage][type] = value;
    }
    void SetTexture(std::uint32_t stage, SoftwareTexture* texture) {
        if (texture != nullptr) texture->AddRef();
        if (textures[stage] != nullptr) textures[stage]->Release();
        textures[stage] = texture;
        textureSet[stage] = true;
    }
    void SetStream(SoftwareVertexBuffer* buffer, std::uint32_t newStride) {
        if (buffer != nullptr) buffer->AddRef();
        if (stream != nullptr) stream->Release();
        stream = buffer;
        stride = newStride;
        streamSet = true;
    }
};

}  // namespace software

using software::SoftwareTexture;
using software::SoftwareVertexBuffer;
using software::StateBlock;

struct SoftwareDevice::DeviceState {
    std::uint32_t renderStates[kRenderStateCount] = {};
    std::uint32_t stageStates[kTextureStageCount][kTextureStageStateCount] = {};
    SoftwareTexture* textures[kTextureStageCount] = {};  // one reference each
    Matrix4 transforms[3];                               // world, view, projection
    std::uint32_t fvf = 0;
    SoftwareVertexBuffer* stream = nullptr;  // one reference
    std::uint32_t stride = 0;                // bytes

    bool dirty = true;                 // something changed since the last validation
    bool valid = false;                // the last validation succeeded
    std::uint32_t stateIndex = 0;      // of the validated state in the pipeline
    std::uint32_t vertexSize = 0;      // bytes the format needs per vertex
    std::uint64_t textureVersion = 0;  // of stage 0's texture at validation
};

SoftwareDevice::SoftwareDevice(std::int32_t width, std::int32_t height,
                               const SoftwareDeviceOptions& options)
    : width_(std::clamp(width, 1, kMaxBackBufferSize)),
      height_(std::clamp(height, 1, kMaxBackBufferSize)),
      options_(options),
      state_(std::make_unique<DeviceState>()),
      liveDefaultPoolResources_(std::make_shared<std::atomic<int>>(0)) {
    int threads = options.threadCount;
    if (threads <= 0) threads = static_cast<int>(std::thread::hardware_concurrency());
    pipeline_ = std::make_unique<software::Pipeline>(std::clamp(threads, 1, 8));
    pipeline_->Resize(width_, height_);
    ResetStateToDefaults();
}

SoftwareDevice::~SoftwareDevice() {
    recording_.reset();
    DeleteAllStateBlocks();
    pipeline_->DiscardQueue();
    for (SoftwareTexture*& texture : state_->textures) {
        if (texture != nullptr) texture->Release();
        texture = nullptr;
    }
    if (state_->stream != nullptr) state_->stream->Release();
}

int SoftwareDevice::ThreadCount() const {
    return pipeline_->ThreadCount();
}

std::uint64_t SoftwareDevice::EarlySetupBatches() const {
    return pipeline_->EarlyBatches();
}

void SoftwareDevice::ResetStateToDefaults() {
    DeviceState& s = *state_;
    for (SoftwareTexture*& texture : s.textures) {
        if (texture != nullptr) texture->Release();
        texture = nullptr;
    }
    if (s.stream != nullptr) s.stream->Release();
    s.stream = nullptr;
    s.stride = 0;
    s.fvf = 0;
    for (Matrix4& m : s.transforms) m = software::Identity();

    std::fill(std::begin(s.renderStates), std::end(s.renderStates), 0u);
    auto& rs = s.renderStates;
    rs[D3DRS_ZENABLE] = D3DZB_FALSE;  // no depth buffer was asked for
    rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
    rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    rs[D3DRS_ZWRITEENABLE] = 1;
    rs[D3DRS_LASTPIXEL] = 1;
    rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    rs[D3DRS_CULLMODE] = D3DCULL_CCW;
    rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFFu;
    rs[D3DRS_CLIPPING] = 1;
    rs[D3DRS_LIGHTING] = 1;
    rs[D3DRS_COLORVERTEX] = 1;
    rs[D3DRS_COLORWRITEENABLE] = 0xF;
    rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;

    for (std::uint32_t stage = 0; stage < kTextureStageCount; ++stage) {
        auto& ts = s.stageStates[stage];
        std::fill(std::begin(ts), std::end(ts), 0u);
        ts[D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        ts[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        ts[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        ts[D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        ts[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        ts[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        ts[D3DTSS_TEXCOORDINDEX] = stage;
        ts[D3DTSS_ADDRESSU] = D3DTADDRESS_WRAP;
        ts[D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
        ts[D3DTSS_ADDRESSW] = D3DTADDRESS_WRAP;
        ts[D3DTSS_MAGFILTER] = D3DTEXF_POINT;
        ts[D3DTSS_MINFILTER] = D3DTEXF_POINT;
        ts[D3DTSS_MIPFILTER] = D3DTEXF_NONE;
        ts[D3DTSS_MAXANISOTROPY] = 1;
        ts[D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_DISABLE;
    }
    s.dirty = true;
}

void SoftwareDevice::DeleteAllStateBlocks() {
    stateBlocks_.clear();
}

HRESULT SoftwareDevice::TestCooperativeLevel() {
    if (loss_ == Loss::NotReset) return D3DERR_DEVICENOTRESET;
    return loss_ == Loss::Lost ? D3DERR_DEVICELOST : D3D_OK;
}

void SoftwareDevice::SimulateDeviceLost(bool canReset) {
    loss_ = canReset ? Loss::NotReset : Loss::Lost;
    pipeline_->DiscardQueue();
    state_->dirty = true;
}

HRESULT SoftwareDevice::Reset(std::int32_t width, std::int32_t height) {
    if (loss_ == Loss::Lost) return D3DERR_DEVICELOST;
    if (width < 1 || height < 1 || width > kMaxBackBufferSize || height > kMaxBackBufferSize) {
        return D3DERR_INVALIDCALL;
    }
    recording_.reset();
    inScene_ = false;
    pipeline_->DiscardQueue();
    ResetStateToDefaults();
    DeleteAllStateBlocks();
    // Like a real swap chain, the back buffer cannot be rebuilt while memory of the default pool
    // is still held by the program.
    if (liveDefaultPoolResources_->load() > 0) {
        loss_ = Loss::NotReset;
        return D3DERR_INVALIDCALL;
    }
    width_ = width;
    height_ = height;
    pipeline_->Resize(width_, height_);
    loss_ = Loss::None;
    return D3D_OK;
}

HRESULT SoftwareDevice::GetDeviceCaps(D3DCAPS8* caps) {
    if (caps == nullptr) return D3DERR_INVALIDCALL;
    caps->MaxTextureWidth = options_.maxTextureWidth;
    caps->MaxTextureHeight = options_.maxTextureHeight;
    caps->MaxPrimitiveCount = 0xFFFFF;
    caps->MaxStreamStride = 255;
    return D3D_OK;
}

HRESULT SoftwareDevice::Clear(std::uint32_t count, const D3DRECT* rects, std::uint32_t flags,
                              std::uint32_t colour, float /*z*/, std::uint32_t /*stencil*/) {
    if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) != 0) return D3DERR_INVALIDCALL;
    if ((flags & D3DCLEAR_TARGET) == 0) return D3DERR_INVALIDCALL;
    if (count > 0 && rects == nullptr) return D3DERR_INVALIDCALL;
    if (loss_ != Loss::None) return D3D_OK;
    const D3DRECT whole{0, 0, width_, height_};
    const std::uint32_t n = count == 0 ? 1 : count;
    for (std::uint32_t i = 0; i < n; ++i) {
        const D3DRECT r = count == 0 ? whole : rects[i];
        software::Command command;
        command.isClear = true;
        command.colour = colour;
        command.rect = D3DRECT{std::max(r.x1, 0), std::max(r.y1, 0), std::min(r.x2, width_),
                               std::min(r.y2, height_)};
        if (command.rect.x1 >= command.rect.x2 || command.rect.y1 >= command.rect.y2) continue;
        pipeline_->Queue(std::move(command));
    }
    return D3D_OK;
}

HRESULT SoftwareDevice::BeginScene() {
    if (inScene_) return D3DERR_INVALIDCALL;
    inScene_ = true;
    return D3D_OK;
}

HRESULT SoftwareDevice::EndScene() {
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    return D3D_OK;
}

void SoftwareDevice::Flush() {
    pipeline_->Flush();
    state_->dirty = true;  // the validated states went with the queue
}

HRESULT SoftwareDevice::Present() {
    if (loss_ != Loss::None) {
        pipeline_->DiscardQueue();
        state_->dirty = true;
        return D3DERR_DEVICELOST;
    }
    Flush();
    pipeline_->SwapBuffers();
    return D3D_OK;
}

PresentedFrame SoftwareDevice::GetPresentedFrame() const {
    return PresentedFrame{pipeline_->width, pipeline_->height,
                          pipeline_->width * static_cast<std::int32_t>(sizeof(std::uint32_t)),
                          pipeline_->front.data()};
}

HRESULT SoftwareDevice::SetRenderStateImpl(std::uint32_t state, std::uint32_t value) {
    if (state >= kRenderStateCount) return D3DERR_INVALIDCALL;
    if (recording_) {
        recording_->RecordRenderState(state, value);
        return D3D_OK;
    }
    if (state_->renderStates[state] != value) {
        state_->renderStates[state] = value;
        state_->dirty = true;
    }
    return D3D_OK;
}

HRESULT SoftwareDevice::SetRenderState(D3DRENDERSTATETYPE state, std::uint32_t value) {
    return SetRenderStateImpl(state, value);
}

HRESULT SoftwareDevice::GetRenderState(D3DRENDERSTATETYPE state, std::uint32_t* value) {
    if (state >= kRenderStateCount || value == nullptr) return D3DERR_INVALIDCALL;
    *value = state_->renderStates[state];
    return D3D_OK;
}

HRESULT SoftwareDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const Matrix4* matrix) {
    const int slot = software::TransformSlot(state);
    if (slot < 0 || matrix == nullptr) return D3DERR_INVALIDCALL;
    if (recording_) {
        recording_->transformSet[slot] = true;
        recording_->transforms[slot] = *matrix;
        return D3D_OK;
    }
    state_->transforms[slot] = *matrix;
    state_->dirty = true;
    return D3D_OK;
}

HRESULT SoftwareDevice::GetTransform(D3DTRANSFORMSTATETYPE state, Matrix4* matrix) {
    const int slot = software::TransformSlot(state);
    if (slot < 0 || matrix == nullptr) return D3DERR_INVALIDCALL;
    *matrix = state_->transforms[slot];
    return D3D_OK;
}

HRESULT SoftwareDevice::SetTexture(std::uint32_t stage, Texture* texture) {
    if (stage >= kTextureStageCount) return D3DERR_INVALIDCALL;
    SoftwareTexture* concrete = nullptr;
    if (!software::OwnObject(texture, &concrete)) return D3DERR_INVALIDCALL;
    if (recording_) {
        recording_->SetTexture(stage, concrete);
        return D3D_OK;
    }
    SoftwareTexture*& slot = state_->textures[stage];
    if (slot == concrete) return D3D_OK;
    if (concrete != nullptr) concrete->AddRef();
    if (slot != nullptr) slot->Release();
    slot = concrete;
    state_->dirty = true;
    return D3D_OK;
}

HRESULT SoftwareDevice::GetTexture(std::uint32_t stage, Texture** texture) {
    if (stage >= kTextureStageCount || texture == nullptr) return D3DERR_INVALIDCALL;
    *texture = state_->textures[stage];
    if (*texture != nullptr) (*texture)->AddRef();
    return D3D_OK;
}

HRESULT SoftwareDevice::SetTextureStageState(std::uint32_t stage, D3DTEXTURESTAGESTATETYPE type,
                                             std::uint32_t value) {
    if (stage >= kTextureStageCount || type >= kTextureStageStateCount) return D3DERR_INVALIDCALL;
    if (recording_) {
        recording_->RecordStageState(stage, type, value);
        return D3D_OK;
    }
    if (state_->stageStates[stage][type] != value) {
        state_->stageStates[stage][type] = value;
        state_->dirty = true;
    }
    return D3D_OK;
}

HRESULT SoftwareDevice::GetTextureStageState(std::uint32_t stage, D3DTEXTURESTAGESTATETYPE type,
                                             std::uint32_t* value) {
    if (stage >= kTextureStageCount || type >= kTextureStageStateCount || value == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *value = state_->stageStates[stage][type];
    return D3D_OK;
}

HRESULT SoftwareDevice::SetVertexShader(std::uint32_t fvf) {
    if (recording_) {
        recording_->fvfSet = true;
        recording_->fvf = fvf;
        return D3D_OK;
    }
    if (state_->fvf != fvf) {
        state_->fvf = fvf;
        state_->dirty = true;
    }
    return D3D_OK;
}

HRESULT SoftwareDevice::SetStreamSource(std::uint32_t streamNumber, VertexBuffer* buffer,
                                        std::uint32_t stride) {
    if (streamNumber != 0) return D3DERR_INVALIDCALL;
    SoftwareVertexBuffer* concrete = nullptr;
    if (!software::OwnObject(buffer, &concrete)) return D3DERR_INVALIDCALL;
    if (recording_) {
        recording_->SetStream(concrete, stride);
        return D3D_OK;
    }
    if (concrete != nullptr) concrete->AddRef();
    if (state_->stream != nullptr) state_->stream->Release();
    state_->stream = concrete;
    if (state_->stride != stride) state_->dirty = true;
    state_->stride = stride;
    return D3D_OK;
}

namespace {

bool ParseStageOp(std::uint32_t value, software::StageOp* op) {
    switch (value) {
        case D3DTOP_DISABLE:
            *op = software::StageOp::Disable;
            return true;
        case D3DTOP_SELECTARG1:
            *op = software::StageOp::SelectArg1;
            return true;
        case D3DTOP_SELECTARG2:
            *op = software::StageOp::SelectArg2;
            return true;
        case D3DTOP_MODULATE:
            *op = software::StageOp::Modulate;
            return true;
        case D3DTOP_ADD:
            *op = software::StageOp::Add;
            return true;
        default:
            return false;
    }
}

bool ParseStageArg(std::uint32_t value, software::StageArg* arg) {
    if ((value & ~(D3DTA_SELECTMASK | D3DTA_COMPLEMENT | D3DTA_ALPHAREPLICATE)) != 0) return false;
    switch (value & D3DTA_SELECTMASK) {
        case D3DTA_DIFFUSE:
        case D3DTA_CURRENT:
            arg->source = software::StageSource::Diffuse;
            break;
        case D3DTA_TEXTURE:
            arg->source = software::StageSource::Texture;
            break;
        case D3DTA_TFACTOR:
            arg->source = software::StageSource::Factor;
            break;
        default:
            return false;
    }
    arg->complement = (value & D3DTA_COMPLEMENT) != 0;
    arg->alphaReplicate = (value & D3DTA_ALPHAREPLICATE) != 0;
    return true;
}

bool UsesTexture(software::StageOp op, const software::StageArg& a1, const software::StageArg& a2) {
    using software::StageOp;
    using software::StageSource;
    switch (op) {
        case StageOp::Disable:
            return false;
        case StageOp::SelectArg1:
            return a1.source == StageSource::Texture;
        case StageOp::SelectArg2:
            return a2.source == StageSource::Texture;
        default:
            return a1.source == StageSource::Texture || a2.source == StageSource::Texture;
    }
}

bool PassesDiffuse(software::StageOp op, const software::StageArg& a1,
                   const software::StageArg& a2) {
    using software::StageOp;
    using software::StageSource;
    auto plainDiffuse = [](const software::StageArg& a) {
        return a.source == StageSource::Diffuse && !a.complement && !a.alphaReplicate;
    };
    return (op == StageOp::SelectArg1 && plainDiffuse(a1)) ||
           (op == StageOp::SelectArg2 && plainDiffuse(a2));
}

}  // namespace

// Turns the device state into the RasterState of the following draws. On an unsupported state
// the draws fail until the state changes.
void SoftwareDevice::ValidateDrawState() {
    using software::StageOp;
    using software::StageSource;
    DeviceState& s = *state_;
    s.dirty = false;
    s.valid = false;
    software::RasterState r;
    r.wideVectors = options_.wideVectors && software::HasWideVectors();

    const std::uint32_t fvf = s.fvf;
    if ((fvf & ~0xFFFFu) != 0) return;  // texture coordinate sizes other than 2D
    std::uint32_t size = 0;
    switch (fvf & D3DFVF_POSITION_MASK) {
        case D3DFVF_XYZ:
            size = 12;
            break;
        case D3DFVF_XYZRHW:
            size = 16;
            r.pretransformed = true;
            break;
        default:
            return;
    }
    if ((fvf & D3DFVF_NORMAL) != 0) {
        if (r.pretransformed) return;
        size += 12;
    }
    if ((fvf & D3DFVF_PSIZE) != 0) size += 4;
    if ((fvf & D3DFVF_DIFFUSE) != 0) {
        r.diffuseOffset = static_cast<std::int32_t>(size);
        size += 4;
    }
    if ((fvf & D3DFVF_SPECULAR) != 0) size += 4;
    const std::uint32_t texCount = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (texCount > 8) return;
    if (texCount > 0) r.texOffset = static_cast<std::int32_t>(size);
    size += 8 * texCount;
    if (s.stride < size) return;
    s.vertexSize = size;
    r.stride = s.stride;

    if (!r.pretransformed) {
        Matrix4 worldView, wvp;
        D3DXMatrixMultiply(&worldView, &s.transforms[0], &s.transforms[1]);
        D3DXMatrixMultiply(&wvp, &worldView, &s.transforms[2]);
        std::memcpy(r.wvp, wvp.m, sizeof r.wvp);
    }
    r.width = width_;
    r.height = height_;

    const auto& rs = s.renderStates;
    r.cullMode = rs[D3DRS_CULLMODE];
    r.flatShade = rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
    const bool blend = rs[D3DRS_ALPHABLENDENABLE] != 0;
    r.srcBlend = rs[D3DRS_SRCBLEND];
    r.dstBlend = rs[D3DRS_DESTBLEND];
    if (blend && (r.srcBlend < D3DBLEND_ZERO || r.srcBlend > D3DBLEND_INVDESTCOLOR ||
                  r.dstBlend < D3DBLEND_ZERO || r.dstBlend > D3DBLEND_INVDESTCOLOR)) {
        return;
    }
    r.opaque = !blend || (r.srcBlend == D3DBLEND_ONE && r.dstBlend == D3DBLEND_ZERO);
    r.srcAlphaBlend =
        blend && r.srcBlend == D3DBLEND_SRCALPHA && r.dstBlend == D3DBLEND_INVSRCALPHA;
    r.alphaTest = rs[D3DRS_ALPHATESTENABLE] != 0;
    r.alphaFunc = rs[D3DRS_ALPHAFUNC];
    r.alphaRef = rs[D3DRS_ALPHAREF] & 0xFF;
    r.textureFactor = rs[D3DRS_TEXTUREFACTOR];

    const auto& ts = s.stageStates[0];
    if (!ParseStageOp(ts[D3DTSS_COLOROP], &r.colorOp) ||
        !ParseStageOp(ts[D3DTSS_ALPHAOP], &r.alphaOp) ||
        !ParseStageArg(ts[D3DTSS_COLORARG1], &r.colorArg1) ||
        !ParseStageArg(ts[D3DTSS_COLORARG2], &r.colorArg2) ||
        !ParseStageArg(ts[D3DTSS_ALPHAARG1], &r.alphaArg1) ||
        !ParseStageArg(ts[D3DTSS_ALPHAARG2], &r.alphaArg2)) {
        return;
    }
    const software::StageArg diffuse{};
    SoftwareTexture* texture = s.textures[0];
    if (r.colorOp == StageOp::Disable) {
        // A disabled first stage disables them all: the diffuse colour and alpha go through.
        r.colorOp = r.alphaOp = StageOp::SelectArg1;
        r.colorArg1 = r.alphaArg1 = diffuse;
    }
    if (texture == nullptr) {
        // Without a texture an operation that reads it passes the diffuse value on, which is
        // what untextured, vertex-coloured drawing under the default stage states relies on.
        if (UsesTexture(r.colorOp, r.colorArg1, r.colorArg2)) {
            r.colorOp = StageOp::SelectArg1;
            r.colorArg1 = diffuse;
        }
        if (UsesTexture(r.alphaOp, r.alphaArg1, r.alphaArg2)) {
            r.alphaOp = StageOp::SelectArg1;
            r.alphaArg1 = diffuse;
        }
    } else {
        r.texture = texture->Image();
        s.textureVersion = texture->Version();
    }
    r.stagePassThrough =
        PassesDiffuse(r.colorOp, r.colorArg1, r.colorArg2) &&
        (r.alphaOp == StageOp::Disable || PassesDiffuse(r.alphaOp, r.alphaArg1, r.alphaArg2));
    auto plain = [](const software::StageArg& a, software::StageSource source) {
        return a.source == source && !a.complement && !a.alphaReplicate;
    };
    using software::StageOp;
    using software::StageSource;
    r.modulateTexture = r.texture != nullptr && r.colorOp == StageOp::Modulate &&
                        r.alphaOp == StageOp::Modulate &&
                        plain(r.colorArg1, StageSource::Texture) &&
                        plain(r.colorArg2, StageSource::Diffuse) &&
                        plain(r.alphaArg1, StageSource::Texture) &&
                        plain(r.alphaArg2, StageSource::Diffuse);
    r.magFilter = ts[D3DTSS_MAGFILTER];
    r.minFilter = ts[D3DTSS_MINFILTER];
    r.addressU = ts[D3DTSS_ADDRESSU];
    r.addressV = ts[D3DTSS_ADDRESSV];

    s.stateIndex = pipeline_->AddState(std::move(r));
    s.valid = true;
}

HRESULT SoftwareDevice::DrawPrimitive(D3DPRIMITIVETYPE type, std::uint32_t startVertex,
                                      std::uint32_t primitiveCount) {
    if (loss_ != Loss::None) return D3D_OK;
    if (!inScene_ || type != D3DPT_TRIANGLELIST) return D3DERR_INVALIDCALL;
    DeviceState& s = *state_;
    if (s.stream == nullptr || s.stream->IsLocked()) return D3DERR_INVALIDCALL;
    if (s.textures[0] != nullptr && s.textures[0]->Version() != s.textureVersion) s.dirty = true;
    if (s.dirty) ValidateDrawState();
    if (!s.valid) return D3DERR_INVALIDCALL;
    if (primitiveCount > 0) {
        const std::uint64_t lastVertex =
            static_cast<std::uint64_t>(startVertex) + 3ull * primitiveCount - 1;
        if (lastVertex * s.stride + s.vertexSize > s.stream->Size()) return D3DERR_INVALIDCALL;
        software::Command command;
        command.draw.state = s.stateIndex;
        command.draw.data = s.stream->Data();
        command.draw.firstByte = startVertex * s.stride;
        command.draw.triangleCount = primitiveCount;
        pipeline_->Queue(std::move(command));
    }
    ++counters.drawCalls;
    counters.triangles += primitiveCount;
    if (recordDrawCalls) {
        drawCallLog.push_back(DrawCallRecord{s.fvf, s.stride, startVertex, primitiveCount,
                                             s.renderStates[D3DRS_CULLMODE]});
    }
    return D3D_OK;
}

HRESULT SoftwareDevice::CreateVertexBuffer(std::uint32_t length, std::uint32_t usage,
                                           std::uint32_t fvf, D3DPOOL pool, VertexBuffer** buffer) {
    if (buffer == nullptr) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0) return D3DERR_INVALIDCALL;
    if (vertexBufferCreationsLeft_ == 0) return D3DERR_OUTOFVIDEOMEMORY;
    if (vertexBufferCreationsLeft_ > 0) --vertexBufferCreationsLeft_;
    *buffer = new SoftwareVertexBuffer(length, usage, fvf, pool, liveDefaultPoolResources_);
    return D3D_OK;
}

HRESULT SoftwareDevice::CreateTexture(std::uint32_t width, std::uint32_t height,
                                      std::uint32_t levels, std::uint32_t usage, D3DFORMAT format,
                                      D3DPOOL pool, Texture** texture) {
    if (texture == nullptr) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (width == 0 || height == 0 || width > options_.maxTextureWidth ||
        height > options_.maxTextureHeight || levels > 1) {
        return D3DERR_INVALIDCALL;
    }
    if (format != D3DFMT_A4R4G4B4 && format != D3DFMT_A8R8G8B8 && format != D3DFMT_X8R8G8B8) {
        return D3DERR_INVALIDCALL;
    }
    if (textureCreationsLeft_ == 0) return D3DERR_OUTOFVIDEOMEMORY;
    if (textureCreationsLeft_ > 0) --textureCreationsLeft_;
    *texture = new SoftwareTexture(width, height, usage, format, pool, liveDefaultPoolResources_);
    return D3D_OK;
}

software::StateBlock* SoftwareDevice::FindStateBlock(std::uint32_t token) {
    if (token == 0 || token > stateBlocks_.size()) return nullptr;
    return stateBlocks_[token - 1].get();
}

HRESULT SoftwareDevice::BeginStateBlock() {
    if (recording_) return D3DERR_INVALIDCALL;
    recording_ = std::make_unique<StateBlock>();
    return D3D_OK;
}

HRESULT SoftwareDevice::EndStateBlock(std::uint32_t* token) {
    if (!recording_ || token == nullptr) return D3DERR_INVALIDCALL;
    // Reuse the first free token so that creating and deleting blocks does not grow the table.
    auto freeSlot = std::find(stateBlocks_.begin(), stateBlocks_.end(), nullptr);
    if (freeSlot == stateBlocks_.end()) {
        stateBlocks_.push_back(std::move(recording_));
        *token = static_cast<std::uint32_t>(stateBlocks_.size());
    } else {
        *freeSlot = std::move(recording_);
        *token = static_cast<std::uint32_t>(freeSlot - stateBlocks_.begin()) + 1;
    }
    return D3D_OK;
}

HRESULT SoftwareDevice::ApplyStateBlock(std::uint32_t token) {
    StateBlock* block = FindStateBlock(token);
    if (block == nullptr || recording_) return D3DERR_INVALIDCALL;
    for (std::uint32_t i : block->renderStateList) SetRenderStateImpl(i, block->renderStates[i]);
    for (std::uint32_t index : block->stageStateList) {
        const std::uint32_t stage = index / kTextureStageStateCount;
        const std::uint32_t type = index % kTextureStageStateCount;
        SetTextureStageState(stage, static_cast<D3DTEXTURESTAGESTATETYPE>(type),
                             block->stageStates[stage][type]);
    }
    for (std::uint32_t stage = 0; stage < kTextureStageCount; ++stage) {
        if (block->textureSet[stage]) SetTexture(stage, block->textures[stage]);
    }
    static constexpr D3DTRANSFORMSTATETYPE kTransforms[3] = {D3DTS_WORLD, D3DTS_VIEW,
                                                             D3DTS_PROJECTION};
    for (int slot = 0; slot < 3; ++slot) {
        if (block->transformSet[slot]) SetTransform(kTransforms[slot], &block->transforms[slot]);
    }
    if (block->fvfSet) SetVertexShader(block->fvf);
    if (block->streamSet) SetStreamSource(0, block->stream, block->stride);
    return D3D_OK;
}

HRESULT SoftwareDevice::CaptureStateBlock(std::uint32_t token) {
    StateBlock* block = FindStateBlock(token);
    if (block == nullptr || recording_) return D3DERR_INVALIDCALL;
    const DeviceState& s = *state_;
    for (std::uint32_t i : block->renderStateList) block->renderStates[i] = s.renderStates[i];
    for (std::uint32_t index : block->stageStateList) {
        const std::uint32_t stage = index / kTextureStageStateCount;
        const std::uint32_t type = index % kTextureStageStateCount;
        block->stageStates[stage][type] = s.stageStates[stage][type];
    }
    for (std::uint32_t stage = 0; stage < kTextureStageCount; ++stage) {
        if (block->textureSet[stage]) block->SetTexture(stage, s.textures[stage]);
    }
    for (int slot = 0; slot < 3; ++slot) {
        if (block->transformSet[slot]) block->transforms[slot] = s.transforms[slot];
    }
    if (block->fvfSet) block->fvf = s.fvf;
    if (block->streamSet) block->SetStream(s.stream, s.stride);
    return D3D_OK;
}

HRESULT SoftwareDevice::DeleteStateBlock(std::uint32_t token) {
    if (FindStateBlock(token) == nullptr || recording_) return D3DERR_INVALIDCALL;
    stateBlocks_[token - 1].reset();
    return D3D_OK;
}

}  // namespace lapquill
