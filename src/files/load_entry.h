// What the loaders' entry points share: every format reads through one LeReader, opened on a
// path or on a memory span, so its checks and failure reasons are the same whichever way the
// bytes arrive; and a release gives back the memory a load filled. Used by the .raf, .smx and
// .tsf loaders only.
#pragma once

#include <utility>

#include "files/le_reader.h"

namespace lapquill {

// Opens a reader on `source` (a path or a memory span) and runs the format's `load` on it,
// as load(reader, out, extra...).
template <typename Source, typename T, typename Load, typename... Extra>
bool LoadFrom(const Source& source, T* out, Load load, Extra&&... extra) {
    LeReader r(source);
    return load(r, out, std::forward<Extra>(extra)...);
}

// Empties each vector and hands its memory back.
template <typename... Vectors>
void ReleaseStorage(Vectors&... vectors) {
    ((vectors.clear(), vectors.shrink_to_fit()), ...);
}

}  // namespace lapquill
