// Vertex buffers created and filled in one step, as the map scene and the overlay make them.
#pragma once

#include <cstdint>

#include "render/render_device.h"

namespace lapquill {

// A vertex buffer of format `fvf` holding a copy of `bytes` bytes of `vertices`: created,
// locked, filled and unlocked. On failure nothing is left behind and *out is null; sizes
// beyond 32 bits fail with E_OUTOFMEMORY.
HRESULT CreateFilledVertexBuffer(RenderDevice* device, const void* vertices, std::uint64_t bytes,
                                 std::uint32_t fvf, VertexBuffer** out);

}  // namespace lapquill
