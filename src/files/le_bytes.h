// Little-endian values in place in a byte array, the byte order of every data file. The
// header accessors, the sequential reader and the writers all assemble and split values here,
// so the order is spelt out once. Each function touches exactly its value's width of bytes.
#pragma once

#include <cstdint>
#include <cstring>

namespace lapquill {

inline std::uint16_t LoadLeU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t LoadLeU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int16_t LoadLeI16(const std::uint8_t* p) { return static_cast<std::int16_t>(LoadLeU16(p)); }
inline std::int32_t LoadLeI32(const std::uint8_t* p) { return static_cast<std::int32_t>(LoadLeU32(p)); }
// The bits of an IEEE single, copied rather than cast so that any bit pattern (NaN included)
// arrives unchanged.
inline float LoadLeF32(const std::uint8_t* p) {
    const std::uint32_t bits = LoadLeU32(p);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

inline void StoreLeU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void StoreLeU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void StoreLeI16(std::uint8_t* p, std::int16_t v) { StoreLeU16(p, static_cast<std::uint16_t>(v)); }
inline void StoreLeI32(std::uint8_t* p, std::int32_t v) { StoreLeU32(p, static_cast<std::uint32_t>(v)); }
inline void StoreLeF32(std::uint8_t* p, float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    StoreLeU32(p, bits);
}

}  // namespace lapquill
