// The layout of a replay analysis file (.raf), shared by the loader and the writer. In file
// order: a 512-byte header; BlockCount() blocks of 128 bytes; padding up to DataOffset(); then
// RecordCount() records of RecordStride() bytes, each a 64-byte fixed part followed by
// BlockCount() samples of SampleStride() bytes, of which the first 28 are carried. Every value
// is little-endian; positions are 16.16 fixed point, the axes 16-bit fixed point.
#pragma once

#include <cstdint>
#include <string_view>

#include "files/field_io.h"
#include "files/file_text.h"

namespace lapquill {

inline constexpr int kReplayHeaderSize = 512;
inline constexpr int kReplayBlockSize = 128;
inline constexpr int kReplayRecordFixedSize = 64;
inline constexpr int kReplaySampleSize = 28;
inline constexpr std::uint8_t kReplayVersion = 2;

namespace raf {

inline constexpr std::string_view kMagic = "QZRRAF";  // then a zero byte
inline constexpr int kDataOffsetAt = 12;    // i16: bytes before the first record
inline constexpr int kRecordStrideAt = 14;  // i16: bytes of one record
inline constexpr int kSampleStrideAt = 16;  // i16: bytes of one sample
inline constexpr int kRecordCountAt = 20;   // i32
inline constexpr TextField kPlayerName{32, 32};  // with colour codes such as "^1"
inline constexpr TextField kCarName{64, 32};
inline constexpr TextField kTrackName{96, 32};
inline constexpr TextField kTrackConfig{128, 16};
inline constexpr TextField kWeather{144, 24};
inline constexpr int kBlockCountAt = 169;   // u8: blocks, and samples per record
inline constexpr int kSectorCountAt = 171;  // u8: split times that follow
inline constexpr int kSplitTimesAt = 172;   // i32 each, cumulative ms, up to the header's end

inline constexpr int kBlockLateralOffsetAt = 0;  // f32 within a block, m

// The fixed part of a record, field by field (64 bytes). The loader walks it with a
// FieldReader over a ReplayRecord, the writer with a FieldWriter over a const one.
template <typename Io, typename Record>
bool RecordFixedPart(Io& io, Record& r) {
    return io.F32(r.throttle) && io.F32(r.brake) && io.F32(r.steer) && io.F32(r.clutch) &&
           io.F32(r.handbrake) && io.U8(r.gear) && io.Bytes(r.kept21) &&  // 20-23
           io.F32(r.speed) && io.Bytes(r.kept28) &&                       // 24-31
           FixedVectorField(io, r.position) && io.Bytes(r.kept44) &&     // 32-47
           io.F32(r.distance) && AxisVectorField(io, r.lateralAxis) &&   // 48-57
           AxisVectorField(io, r.forwardAxis);                             // 58-63
}

}  // namespace raf

// More split times than the header holds would be read from beyond it.
inline constexpr int kMaxSectorCount = (kReplayHeaderSize - raf::kSplitTimesAt) / 4;  // 85

}  // namespace lapquill
