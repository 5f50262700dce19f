#include "files/le_writer.h"

#include <cstring>

#include "files/le_bytes.h"

namespace lapquill {

void LeWriter::WriteI16(std::int16_t v) {
    std::uint8_t b[2];
    StoreLeI16(b, v);
    WriteBytes(b, sizeof b);
}

void LeWriter::WriteU16(std::uint16_t v) {
    std::uint8_t b[2];
    StoreLeU16(b, v);
    WriteBytes(b, sizeof b);
}

void LeWriter::WriteI32(std::int32_t v) {
    std::uint8_t b[4];
    StoreLeI32(b, v);
    WriteBytes(b, sizeof b);
}

void LeWriter::WriteU32(std::uint32_t v) {
    std::uint8_t b[4];
    StoreLeU32(b, v);
    WriteBytes(b, sizeof b);
}

void LeWriter::WriteF32(float v) {
    std::uint8_t b[4];
    StoreLeF32(b, v);
    WriteBytes(b, sizeof b);
}

// resize + memcpy rather than insert: GCC 12 warns falsely about insert on byte vectors.
void LeWriter::WriteBytes(const void* p, std::size_t n) {
    if (n == 0) return;
    const std::size_t at = out_->size();
    out_->resize(at + n);
    std::memcpy(out_->data() + at, p, n);
}

void LeWriter::WriteZeros(std::int64_t n) {
    if (n > 0) out_->resize(out_->size() + static_cast<std::size_t>(n), 0);
}

}  // namespace lapquill
