#include "files/le_writer.h"

#include <cstring>

#include "files/le_bytes.h"

namespace lapquill {

namespace {
template <typename T, void (*Store)(std::uint8_t*, T)>
void WriteLittle(LeWriter& w, T v) {
    std::uint8_t b[sizeof(T)];
    Store(b, v);
    w.WriteBytes(b, sizeof b);
}
}  // namespace

void LeWriter::WriteI16(std::int16_t v) { WriteLittle<std::int16_t, StoreLeI16>(*this, v); }
void LeWriter::WriteU16(std::uint16_t v) { WriteLittle<std::uint16_t, StoreLeU16>(*this, v); }
void LeWriter::WriteI32(std::int32_t v) { WriteLittle<std::int32_t, StoreLeI32>(*this, v); }
void LeWriter::WriteU32(std::uint32_t v) { WriteLittle<std::uint32_t, StoreLeU32>(*this, v); }
void LeWriter::WriteF32(float v) { WriteLittle<float, StoreLeF32>(*this, v); }

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
