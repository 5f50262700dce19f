// A little-endian sequential writer that appends to a byte vector: the counterpart of
// LeReader, for the writers of the data files. Writes never fail; the vector grows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lapquill {

class LeWriter {
public:
    // Appends to *out, which must outlive the writer.
    explicit LeWriter(std::vector<std::uint8_t>* out) : out_(out) {}

    void WriteU8(std::uint8_t v) { WriteBytes(&v, 1); }
    void WriteI16(std::int16_t v);
    void WriteU16(std::uint16_t v);
    void WriteI32(std::int32_t v);
    void WriteU32(std::uint32_t v);
    void WriteF32(float v);
    void WriteBytes(const void* p, std::size_t n);
    // Appends n zero bytes; n of zero or less appends nothing (the mirror of LeReader::Skip).
    void WriteZeros(std::int64_t n);

    std::int64_t Offset() const { return static_cast<std::int64_t>(out_->size()); }

private:
    std::vector<std::uint8_t>* out_;
};

}  // namespace lapquill
