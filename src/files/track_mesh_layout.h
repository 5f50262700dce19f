// The layout of a track mesh (.smx), shared by the loader and the writer: a 64-byte header;
// ObjectCount() objects, each a bounding sphere, its two counts, its vertices and its
// triangles; then a count and that many 32-bit values carried to the end. Every value is
// little-endian; coordinates are 16.16 fixed point.
#pragma once

#include <cstdint>
#include <string_view>

#include "files/field_io.h"
#include "files/file_text.h"

namespace lapquill {

inline constexpr int kTrackMeshHeaderSize = 64;

namespace smx {

inline constexpr std::string_view kMagic = "QZRSMX";  // then a zero byte
inline constexpr std::uint8_t kVersion = 0;
// The catalogue lists a mesh only when these two bytes hold these values.
inline constexpr int kListedKindAt = 9;
inline constexpr std::uint8_t kListedKind = 3;
inline constexpr int kListedFlagAt = 11;
inline constexpr std::uint8_t kListedFlag = 1;
inline constexpr TextField kTrackName{16, 32};
inline constexpr int kBackgroundAt = 48;   // red, green, blue bytes
inline constexpr int kObjectCountAt = 60;  // i32

inline constexpr std::int64_t kObjectHeadSize = 24;  // sphere and counts
inline constexpr std::int64_t kVertexSize = 16;
inline constexpr std::int64_t kTriangleSize = 8;
inline constexpr std::int64_t kTrailerCountSize = 4;
inline constexpr std::int64_t kTrailerValueSize = 4;

// An object's head: its bounding sphere, then its vertex and triangle counts.
template <typename Io, typename V, typename F>
bool ObjectSphere(Io& io, V& centre, F& radius) {
    return FixedVectorField(io, centre) && io.Fixed(radius);
}
template <typename Io, typename C>
bool ObjectCounts(Io& io, C& vertexCount, C& triangleCount) {
    return io.I32(vertexCount) && io.I32(triangleCount);
}

template <typename Io, typename Vertex>
bool VertexRecord(Io& io, Vertex& v) {
    return io.Fixed(v.x) && io.Fixed(v.y) && io.Fixed(v.z) && io.U32(v.colour);
}

// Three vertex indices and two free bytes.
template <typename Io, typename Triangle>
bool TriangleRecord(Io& io, Triangle& t) {
    return io.U16(t.index[0]) && io.U16(t.index[1]) && io.U16(t.index[2]) && io.Pad(2);
}

}  // namespace smx
}  // namespace lapquill
