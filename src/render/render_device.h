// RenderDevice: the drawing interface of the view, with Direct3D 8's calls, constants, numeric
// values and meaning for what the program draws. The view owns the device (unique_ptr) and every
// resource it creates: a VertexBuffer or Texture starts with one reference and is freed by its last
// Release(); the device's bindings (stream source, texture stages, state blocks) hold references
// too. Results are HRESULT-like codes: 0 on success, negative on failure. Matrices are row-major,
// row vectors, translation in row 4. All calls are made from one thread.
#pragma once

#include <cstdint>

#include "math/math_types.h"
#include "render/vertex_types.h"

namespace lapquill {

using HRESULT = std::int32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT D3D_OK = 0;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT D3DERR_OUTOFVIDEOMEMORY = static_cast<HRESULT>(0x8876017Cu);
inline constexpr HRESULT D3DERR_DEVICELOST = static_cast<HRESULT>(0x88760868u);
inline constexpr HRESULT D3DERR_DEVICENOTRESET = static_cast<HRESULT>(0x88760869u);
inline constexpr HRESULT D3DERR_NOTAVAILABLE = static_cast<HRESULT>(0x8876086Au);
inline constexpr HRESULT D3DERR_INVALIDCALL = static_cast<HRESULT>(0x8876086Cu);

// Render states (D3DRENDERSTATETYPE); booleans are 0 and 1. The device stores any state below 256;
// the rasteriser reads only CULLMODE, ALPHABLENDENABLE, SRCBLEND, DESTBLEND, ALPHATESTENABLE,
// ALPHAREF, ALPHAFUNC and TEXTUREFACTOR. Lighting, fog, depth and stencil states are accepted and
// ignored: vertex colours are used as they are and there is no depth or stencil buffer.
enum D3DRENDERSTATETYPE : std::uint32_t {
    D3DRS_ZENABLE = 7,
    D3DRS_FILLMODE = 8,
    D3DRS_SHADEMODE = 9,
    D3DRS_ZWRITEENABLE = 14,
    D3DRS_ALPHATESTENABLE = 15,
    D3DRS_LASTPIXEL = 16,
    D3DRS_SRCBLEND = 19,
    D3DRS_DESTBLEND = 20,
    D3DRS_CULLMODE = 22,
    D3DRS_ZFUNC = 23,
    D3DRS_ALPHAREF = 24,
    D3DRS_ALPHAFUNC = 25,
    D3DRS_DITHERENABLE = 26,
    D3DRS_ALPHABLENDENABLE = 27,
    D3DRS_FOGENABLE = 28,
    D3DRS_SPECULARENABLE = 29,
    D3DRS_EDGEANTIALIAS = 40,
    D3DRS_STENCILENABLE = 52,
    D3DRS_TEXTUREFACTOR = 60,
    D3DRS_CLIPPING = 136,
    D3DRS_LIGHTING = 137,
    D3DRS_AMBIENT = 139,
    D3DRS_COLORVERTEX = 141,
    D3DRS_VERTEXBLEND = 151,
    D3DRS_CLIPPLANEENABLE = 152,
    D3DRS_INDEXEDVERTEXBLENDENABLE = 167,
    D3DRS_COLORWRITEENABLE = 168,
    D3DRS_BLENDOP = 171,
};
inline constexpr std::uint32_t kRenderStateCount = 256;  // states are numbered below this

enum D3DCULL : std::uint32_t { D3DCULL_NONE = 1, D3DCULL_CW = 2, D3DCULL_CCW = 3 };
enum D3DFILLMODE : std::uint32_t { D3DFILL_POINT = 1, D3DFILL_WIREFRAME = 2, D3DFILL_SOLID = 3 };
enum D3DSHADEMODE : std::uint32_t { D3DSHADE_FLAT = 1, D3DSHADE_GOURAUD = 2 };
enum D3DZBUFFERTYPE : std::uint32_t { D3DZB_FALSE = 0, D3DZB_TRUE = 1 };
enum D3DVERTEXBLENDFLAGS : std::uint32_t { D3DVBF_DISABLE = 0 };
enum D3DBLENDOP : std::uint32_t { D3DBLENDOP_ADD = 1 };
enum D3DBLEND : std::uint32_t {
    D3DBLEND_ZERO = 1,
    D3DBLEND_ONE = 2,
    D3DBLEND_SRCCOLOR = 3,
    D3DBLEND_INVSRCCOLOR = 4,
    D3DBLEND_SRCALPHA = 5,
    D3DBLEND_INVSRCALPHA = 6,
    D3DBLEND_DESTALPHA = 7,
    D3DBLEND_INVDESTALPHA = 8,
    D3DBLEND_DESTCOLOR = 9,
    D3DBLEND_INVDESTCOLOR = 10,
};
enum D3DCMPFUNC : std::uint32_t {
    D3DCMP_NEVER = 1,
    D3DCMP_LESS = 2,
    D3DCMP_EQUAL = 3,
    D3DCMP_LESSEQUAL = 4,
    D3DCMP_GREATER = 5,
    D3DCMP_NOTEQUAL = 6,
    D3DCMP_GREATEREQUAL = 7,
    D3DCMP_ALWAYS = 8,
};

// Texture stage states (D3DTEXTURESTAGESTATETYPE). Eight stages are stored; only stage 0 is
// rasterised (later stages must stay disabled, which is their default).
enum D3DTEXTURESTAGESTATETYPE : std::uint32_t {
    D3DTSS_COLOROP = 1,
    D3DTSS_COLORARG1 = 2,
    D3DTSS_COLORARG2 = 3,
    D3DTSS_ALPHAOP = 4,
    D3DTSS_ALPHAARG1 = 5,
    D3DTSS_ALPHAARG2 = 6,
    D3DTSS_TEXCOORDINDEX = 11,
    D3DTSS_ADDRESSU = 13,
    D3DTSS_ADDRESSV = 14,
    D3DTSS_BORDERCOLOR = 15,
    D3DTSS_MAGFILTER = 16,
    D3DTSS_MINFILTER = 17,
    D3DTSS_MIPFILTER = 18,
    D3DTSS_MIPMAPLODBIAS = 19,
    D3DTSS_MAXMIPLEVEL = 20,
    D3DTSS_MAXANISOTROPY = 21,
    D3DTSS_TEXTURETRANSFORMFLAGS = 24,
    D3DTSS_ADDRESSW = 25,
};
inline constexpr std::uint32_t kTextureStageCount = 8;
inline constexpr std::uint32_t kTextureStageStateCount = 32;  // states are numbered below this

// Stage operations. The rasteriser implements DISABLE, SELECTARG1, SELECTARG2, MODULATE and ADD;
// a draw under any other operation on stage 0 fails with D3DERR_INVALIDCALL.
enum D3DTEXTUREOP : std::uint32_t {
    D3DTOP_DISABLE = 1,
    D3DTOP_SELECTARG1 = 2,
    D3DTOP_SELECTARG2 = 3,
    D3DTOP_MODULATE = 4,
    D3DTOP_MODULATE2X = 5,
    D3DTOP_MODULATE4X = 6,
    D3DTOP_ADD = 7,
};
// Stage arguments: a source in the low bits plus modifier flags.
inline constexpr std::uint32_t D3DTA_SELECTMASK = 0x0F;
inline constexpr std::uint32_t D3DTA_DIFFUSE = 0x00;
inline constexpr std::uint32_t D3DTA_CURRENT = 0x01;  // on stage 0 the same as DIFFUSE
inline constexpr std::uint32_t D3DTA_TEXTURE = 0x02;
inline constexpr std::uint32_t D3DTA_TFACTOR = 0x03;
inline constexpr std::uint32_t D3DTA_COMPLEMENT = 0x10;
inline constexpr std::uint32_t D3DTA_ALPHAREPLICATE = 0x20;

enum D3DTEXTUREFILTERTYPE : std::uint32_t {
    D3DTEXF_NONE = 0,
    D3DTEXF_POINT = 1,
    D3DTEXF_LINEAR = 2,
};
// WRAP and CLAMP are sampled as such; MIRROR and BORDER are sampled as CLAMP.
enum D3DTEXTUREADDRESS : std::uint32_t {
    D3DTADDRESS_WRAP = 1,
    D3DTADDRESS_MIRROR = 2,
    D3DTADDRESS_CLAMP = 3,
    D3DTADDRESS_BORDER = 4,
};
enum D3DTEXTURETRANSFORMFLAGS : std::uint32_t { D3DTTFF_DISABLE = 0 };

enum D3DTRANSFORMSTATETYPE : std::uint32_t {
    D3DTS_VIEW = 2,
    D3DTS_PROJECTION = 3,
    D3DTS_WORLD = 256,
};

enum D3DPRIMITIVETYPE : std::uint32_t {
    D3DPT_POINTLIST = 1,
    D3DPT_LINELIST = 2,
    D3DPT_LINESTRIP = 3,
    D3DPT_TRIANGLELIST = 4,  // the only type drawn; the others fail with D3DERR_INVALIDCALL
    D3DPT_TRIANGLESTRIP = 5,
    D3DPT_TRIANGLEFAN = 6,
};

enum D3DFORMAT : std::uint32_t {
    D3DFMT_UNKNOWN = 0,
    D3DFMT_A8R8G8B8 = 21,
    D3DFMT_X8R8G8B8 = 22,
    D3DFMT_A4R4G4B4 = 26,
};

enum D3DPOOL : std::uint32_t {
    D3DPOOL_DEFAULT = 0,  // lost on Reset: must be released before it
    D3DPOOL_MANAGED = 1,  // survives Reset
    D3DPOOL_SYSTEMMEM = 2,
};

// Flexible vertex format bits. The device draws XYZ or XYZRHW positions with an optional
// DIFFUSE colour (white when absent) and at most one 2D texture coordinate set; NORMAL, PSIZE and
// SPECULAR are skipped over.
inline constexpr std::uint32_t D3DFVF_XYZ = 0x002;
inline constexpr std::uint32_t D3DFVF_XYZRHW = 0x004;
inline constexpr std::uint32_t D3DFVF_POSITION_MASK = 0x00E;
inline constexpr std::uint32_t D3DFVF_NORMAL = 0x010;
inline constexpr std::uint32_t D3DFVF_PSIZE = 0x020;
inline constexpr std::uint32_t D3DFVF_DIFFUSE = 0x040;
inline constexpr std::uint32_t D3DFVF_SPECULAR = 0x080;
inline constexpr std::uint32_t D3DFVF_TEXCOUNT_MASK = 0xF00;
inline constexpr std::uint32_t D3DFVF_TEXCOUNT_SHIFT = 8;
inline constexpr std::uint32_t D3DFVF_TEX0 = 0x000;
inline constexpr std::uint32_t D3DFVF_TEX1 = 0x100;

inline constexpr std::uint32_t D3DUSAGE_RENDERTARGET = 0x001;
inline constexpr std::uint32_t D3DUSAGE_WRITEONLY = 0x008;
inline constexpr std::uint32_t D3DUSAGE_DYNAMIC = 0x200;

inline constexpr std::uint32_t D3DLOCK_READONLY = 0x0010;
inline constexpr std::uint32_t D3DLOCK_NOSYSLOCK = 0x0800;
inline constexpr std::uint32_t D3DLOCK_NOOVERWRITE = 0x1000;
inline constexpr std::uint32_t D3DLOCK_DISCARD = 0x2000;

inline constexpr std::uint32_t D3DCLEAR_TARGET = 0x1;
inline constexpr std::uint32_t D3DCLEAR_ZBUFFER = 0x2;  // fails: there is no depth buffer
inline constexpr std::uint32_t D3DCLEAR_STENCIL = 0x4;  // fails: there is no stencil buffer

// A rectangle of pixels: x1, y1 inclusive, x2, y2 exclusive.
struct D3DRECT {
    std::int32_t x1, y1;  // top-left pixel
    std::int32_t x2, y2;  // one past the bottom-right pixel
};

struct D3DLOCKED_RECT {
    std::int32_t Pitch;  // bytes from one row to the next
    void* pBits;         // the first texel of the locked rectangle
};

struct D3DSURFACE_DESC {
    D3DFORMAT Format;
    std::uint32_t Usage;  // D3DUSAGE_* given at creation
    D3DPOOL Pool;
    std::uint32_t Width;   // texels
    std::uint32_t Height;  // texels
};

struct D3DVERTEXBUFFER_DESC {
    std::uint32_t Usage;  // D3DUSAGE_* given at creation
    std::uint32_t FVF;    // format given at creation (informational)
    D3DPOOL Pool;
    std::uint32_t Size;  // bytes
};

// What the program asks of the device's capabilities.
struct D3DCAPS8 {
    std::uint32_t MaxTextureWidth;    // texels
    std::uint32_t MaxTextureHeight;   // texels
    std::uint32_t MaxPrimitiveCount;  // triangles per DrawPrimitive
    std::uint32_t MaxStreamStride;    // bytes
};

// The last presented picture (opaque black before the first Present), valid until the next
// Present, Reset or the device's destruction.
// Pixels are 0xAARRGGBB words; the alpha byte is whatever blending left there, so show the
// picture as opaque RGB.
struct PresentedFrame {
    std::int32_t width;           // pixels
    std::int32_t height;          // pixels
    std::int32_t pitch;           // bytes from one row to the next
    const std::uint32_t* pixels;  // row 0 first
};

class VertexBuffer {
  public:
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t
    Release() = 0;  // frees the buffer at the last reference; returns the count left
    // offset and size in bytes; size 0 locks to the end. DISCARD hands out fresh memory (the old
    // contents stay with draws already made); without it, the current contents.
    virtual HRESULT Lock(std::uint32_t offsetToLock, std::uint32_t sizeToLock, std::uint8_t** data,
                         std::uint32_t flags) = 0;
    virtual HRESULT Unlock() = 0;
    virtual HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) = 0;

  protected:
    virtual ~VertexBuffer() = default;
};

// A texture of one level. Texels are read by draws only after UnlockRect.
class Texture {
  public:
    virtual std::uint32_t AddRef() = 0;
    virtual std::uint32_t Release() = 0;
    virtual std::uint32_t GetLevelCount() = 0;
    virtual HRESULT GetLevelDesc(std::uint32_t level, D3DSURFACE_DESC* desc) = 0;
    // rect null locks the whole level.
    virtual HRESULT LockRect(std::uint32_t level, D3DLOCKED_RECT* lockedRect, const D3DRECT* rect,
                             std::uint32_t flags) = 0;
    virtual HRESULT UnlockRect(std::uint32_t level) = 0;

  protected:
    virtual ~Texture() = default;
};

class RenderDevice {
  public:
    virtual ~RenderDevice() = default;

    // D3D_OK, D3DERR_DEVICELOST (nothing can be done yet) or D3DERR_DEVICENOTRESET (call Reset).
    virtual HRESULT TestCooperativeLevel() = 0;
    // Resizes the back buffer to width x height pixels (the viewport follows) and returns every
    // state to its default; state blocks are deleted. Fails with D3DERR_INVALIDCALL while a
    // D3DPOOL_DEFAULT resource is still alive, and with D3DERR_DEVICELOST while the device
    // cannot be reset yet.
    virtual HRESULT Reset(std::int32_t width, std::int32_t height) = 0;
    virtual HRESULT GetDeviceCaps(D3DCAPS8* caps) = 0;

    // rects null (count 0) clears the whole viewport; flags must be D3DCLEAR_TARGET.
    virtual HRESULT Clear(std::uint32_t count, const D3DRECT* rects, std::uint32_t flags,
                          std::uint32_t colour, float z, std::uint32_t stencil) = 0;
    virtual HRESULT BeginScene() = 0;
    virtual HRESULT EndScene() = 0;
    // Shows the back buffer (see GetPresentedFrame); the back buffer's contents are undefined
    // afterwards, as with a discarding swap chain. D3DERR_DEVICELOST while the device is lost.
    virtual HRESULT Present() = 0;
    virtual PresentedFrame GetPresentedFrame() const = 0;

    virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, std::uint32_t value) = 0;
    virtual HRESULT GetRenderState(D3DRENDERSTATETYPE state, std::uint32_t* value) = 0;
    virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const Matrix4* matrix) = 0;
    virtual HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, Matrix4* matrix) = 0;
    virtual HRESULT SetTexture(std::uint32_t stage, Texture* texture) = 0;   // null unbinds
    virtual HRESULT GetTexture(std::uint32_t stage, Texture** texture) = 0;  // adds a reference
    virtual HRESULT SetTextureStageState(std::uint32_t stage, D3DTEXTURESTAGESTATETYPE type,
                                         std::uint32_t value) = 0;
    virtual HRESULT GetTextureStageState(std::uint32_t stage, D3DTEXTURESTAGESTATETYPE type,
                                         std::uint32_t* value) = 0;

    // The vertex format of the following draws, a D3DFVF_* combination.
    virtual HRESULT SetVertexShader(std::uint32_t fvf) = 0;
    virtual HRESULT SetStreamSource(std::uint32_t streamNumber, VertexBuffer* buffer,
                                    std::uint32_t stride) = 0;  // stride in bytes
    // Draws primitiveCount triangles of stream 0 starting at vertex startVertex; inside a scene.
    virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, std::uint32_t startVertex,
                                  std::uint32_t primitiveCount) = 0;

    virtual HRESULT CreateVertexBuffer(std::uint32_t length, std::uint32_t usage, std::uint32_t fvf,
                                       D3DPOOL pool, VertexBuffer** buffer) = 0;
    // levels 0 or 1 make one level; format D3DFMT_A4R4G4B4 or D3DFMT_A8R8G8B8.
    virtual HRESULT CreateTexture(std::uint32_t width, std::uint32_t height, std::uint32_t levels,
                                  std::uint32_t usage, D3DFORMAT format, D3DPOOL pool,
                                  Texture** texture) = 0;

    // State blocks are named by non-zero tokens. Between Begin and End the Set* calls are
    // recorded into the block instead of changing the device; Capture re-reads the recorded
    // states from the device, Apply sets them.
    virtual HRESULT BeginStateBlock() = 0;
    virtual HRESULT EndStateBlock(std::uint32_t* token) = 0;
    virtual HRESULT ApplyStateBlock(std::uint32_t token) = 0;
    virtual HRESULT CaptureStateBlock(std::uint32_t token) = 0;
    virtual HRESULT DeleteStateBlock(std::uint32_t token) = 0;
};

}  // namespace lapquill
