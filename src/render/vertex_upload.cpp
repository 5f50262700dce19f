#include "render/vertex_upload.h"

#include <cstring>
#include <limits>

namespace lapquill {

HRESULT CreateFilledVertexBuffer(RenderDevice* device, const void* vertices, std::uint64_t bytes,
                                 std::uint32_t fvf, VertexBuffer** out) {
    *out = nullptr;
    if (bytes > std::numeric_limits<std::uint32_t>::max()) return E_OUTOFMEMORY;
    const auto length = static_cast<std::uint32_t>(bytes);
    VertexBuffer* buffer = nullptr;
    HRESULT hr = device->CreateVertexBuffer(length, 0, fvf, D3DPOOL_DEFAULT, &buffer);
    if (hr < 0 || buffer == nullptr) return hr < 0 ? hr : E_FAIL;
    std::uint8_t* data = nullptr;
    hr = buffer->Lock(0, length, &data, 0);
    if (hr < 0 || data == nullptr) {
        buffer->Release();
        return hr < 0 ? hr : E_FAIL;
    }
    if (length > 0) std::memcpy(data, vertices, length);
    hr = buffer->Unlock();
    if (hr < 0) {
        buffer->Release();
        return hr;
    }
    *out = buffer;
    return D3D_OK;
}

}  // namespace lapquill
