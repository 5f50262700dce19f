// The two ways of walking a data file's fields in file order: reading them with an LeReader or
// writing them with an LeWriter. Each format's layout (replay_layout.h, track_mesh_layout.h,
// segment_layout.h) describes its records once, as a walk over their fields written against
// either of these, so the loader and the writer cannot disagree about order or width. Every
// step returns false when a read runs out of data; writing never fails.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "files/le_reader.h"
#include "files/le_writer.h"

namespace lapquill {

// Fixed point with 16 fraction bits to metres, in single precision.
inline float FixedToFloat(std::int32_t v) { return static_cast<float>(v) * 1.52587890625e-05f; }
// The axes' 16-bit fixed point (16 fraction bits, so a component stays below half a unit).
inline float AxisToFloat(std::int16_t v) { return static_cast<float>(v) * 1.52587890625e-05f; }

// The inverses: rounded to nearest and saturated (NaN goes to the lowest value).
inline std::int32_t FloatToFixed(float v) {
    const double scaled = std::round(static_cast<double>(v) * 65536.0);
    if (!(scaled > std::numeric_limits<std::int32_t>::min())) return std::numeric_limits<std::int32_t>::min();
    if (scaled >= std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(scaled);
}
inline std::int16_t AxisToFixed(float v) {
    const double scaled = std::round(static_cast<double>(v) * 65536.0);
    return static_cast<std::int16_t>(std::clamp(scaled, -32768.0, 32767.0));
}

class FieldReader {
public:
    explicit FieldReader(LeReader& r) : r_(r) {}

    bool U8(std::uint8_t& v) { return r_.ReadU8(&v); }
    bool U16(std::uint16_t& v) { return r_.ReadU16(&v); }
    bool I32(std::int32_t& v) { return r_.ReadI32(&v); }
    bool U32(std::uint32_t& v) { return r_.ReadU32(&v); }
    bool F32(float& v) { return r_.ReadF32(&v); }
    bool Fixed(float& v) {
        std::int32_t x;
        if (!r_.ReadI32(&x)) return false;
        v = FixedToFloat(x);
        return true;
    }
    bool Axis(float& v) {
        std::int16_t x;
        if (!r_.ReadI16(&x)) return false;
        v = AxisToFloat(x);
        return true;
    }
    template <std::size_t N>
    bool Bytes(std::array<std::uint8_t, N>& b) { return r_.ReadBytes(b.data(), N); }
    template <typename T, std::size_t N>
    bool Bytes(T (&b)[N]) {
        static_assert(sizeof(T) == 1);
        return r_.ReadBytes(b, N);
    }
    // Bytes the layout keeps free: skipped on reading, zero on writing.
    bool Pad(int n) { return r_.Skip(n); }

private:
    LeReader& r_;
};

class FieldWriter {
public:
    explicit FieldWriter(LeWriter& w) : w_(w) {}

    bool U8(std::uint8_t v) { return Put(&LeWriter::WriteU8, v); }
    bool U16(std::uint16_t v) { return Put(&LeWriter::WriteU16, v); }
    bool I32(std::int32_t v) { return Put(&LeWriter::WriteI32, v); }
    bool U32(std::uint32_t v) { return Put(&LeWriter::WriteU32, v); }
    bool F32(float v) { return Put(&LeWriter::WriteF32, v); }
    bool Fixed(float v) { return Put(&LeWriter::WriteI32, FloatToFixed(v)); }
    bool Axis(float v) { return Put(&LeWriter::WriteI16, AxisToFixed(v)); }
    template <std::size_t N>
    bool Bytes(const std::array<std::uint8_t, N>& b) {
        w_.WriteBytes(b.data(), N);
        return true;
    }
    template <typename T, std::size_t N>
    bool Bytes(const T (&b)[N]) {
        static_assert(sizeof(T) == 1);
        w_.WriteBytes(b, N);
        return true;
    }
    bool Pad(int n) { return Put(&LeWriter::WriteZeros, std::int64_t{n}); }

private:
    template <typename T>
    bool Put(void (LeWriter::*write)(T), T v) {
        (w_.*write)(v);
        return true;
    }

    LeWriter& w_;
};

// Three values of one kind, x then y then z, as positions and axes are stored.
template <typename Io, typename V>
bool FixedVectorField(Io& io, V& v) { return io.Fixed(v.x) && io.Fixed(v.y) && io.Fixed(v.z); }
template <typename Io, typename V>
bool AxisVectorField(Io& io, V& v) { return io.Axis(v.x) && io.Axis(v.y) && io.Axis(v.z); }
template <typename Io, typename V>
bool FloatVectorField(Io& io, V& v) { return io.F32(v.x) && io.F32(v.y) && io.F32(v.z); }

}  // namespace lapquill
