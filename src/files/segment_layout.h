// The layout of a track segment file (.tsf), shared by the loader and the writer: a 64-byte
// header, then MarkerCount() marker records of 64 bytes. Every value is little-endian.
#pragma once

#include <string_view>

#include "files/field_io.h"

namespace lapquill {

inline constexpr int kSegmentHeaderSize = 64;
inline constexpr int kSegmentRecordSize = 64;

namespace tsf {

inline constexpr std::string_view kMagic = "QZRTSF";  // then a zero byte
inline constexpr std::uint8_t kVersion = 0;
inline constexpr int kMarkerCountAt = 57;             // u8

// One marker record, field by field: its name, distance, position, heading, width and eight
// carried bytes.
template <typename Io, typename Marker>
bool MarkerRecord(Io& io, Marker& m) {
    return io.Bytes(m.name) && io.F32(m.markerDistance) && FloatVectorField(io, m.position) &&
           io.F32(m.heading) && io.F32(m.width) && io.Bytes(m.reserved);
}

}  // namespace tsf
}  // namespace lapquill
