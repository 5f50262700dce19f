#include "tools/data_writers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace lapquill {

namespace {

class ByteSink {
public:
    explicit ByteSink(std::vector<std::uint8_t>* out) : out_(out) {}
    void U8(std::uint8_t v) { Bytes(&v, 1); }
    void U16(std::uint16_t v) {
        U8(static_cast<std::uint8_t>(v));
        U8(static_cast<std::uint8_t>(v >> 8));
    }
    void U32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) U8(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void I16(std::int16_t v) { U16(static_cast<std::uint16_t>(v)); }
    void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
    void F32(float v) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        U32(bits);
    }
    // resize + memcpy rather than insert: GCC 12 warns falsely about insert on byte vectors.
    void Bytes(const void* p, std::size_t n) {
        if (n == 0) return;
        const std::size_t at = out_->size();
        out_->resize(at + n);
        std::memcpy(out_->data() + at, p, n);
    }
    void Zeros(std::int64_t n) {
        if (n > 0) out_->resize(out_->size() + static_cast<std::size_t>(n), 0);
    }

private:
    std::vector<std::uint8_t>* out_;
};

}  // namespace

void SetHeaderText(std::uint8_t* field, std::size_t width, std::string_view text) {
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), std::min(width, text.size()));
}

void SetHeaderI16(std::uint8_t* at, std::int16_t v) {
    at[0] = static_cast<std::uint8_t>(v);
    at[1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8);
}

void SetHeaderI32(std::uint8_t* at, std::int32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i));
}

void SetBlockLateralOffset(ReplayBlock* block, float offset) {
    std::uint32_t bits;
    std::memcpy(&bits, &offset, sizeof bits);
    SetHeaderI32(block->bytes.data(), static_cast<std::int32_t>(bits));
}

ReplayHeader BuildReplayHeader(const ReplayHeaderFields& f) {
    ReplayHeader h;
    std::uint8_t* b = h.bytes.data();
    std::memcpy(b, "QZRRAF", 6);
    b[8] = kReplayVersion;
    const int stride = f.recordStride != 0 ? f.recordStride
                                           : kReplayRecordFixedSize + f.blockCount * f.sampleStride;
    const int offset = f.dataOffset != 0 ? f.dataOffset : kReplayHeaderSize + kReplayBlockSize * f.blockCount;
    SetHeaderI16(b + 12, static_cast<std::int16_t>(offset));
    SetHeaderI16(b + 14, static_cast<std::int16_t>(stride));
    SetHeaderI16(b + 16, f.sampleStride);
    SetHeaderI32(b + 20, f.recordCount);
    SetHeaderText(b + 32, 32, f.playerName);
    SetHeaderText(b + 64, 32, f.carName);
    SetHeaderText(b + 96, 32, f.trackName);
    SetHeaderText(b + 128, 16, f.trackConfig);
    SetHeaderText(b + 144, 24, f.weather);
    b[169] = f.blockCount;
    const std::size_t sectors = std::min<std::size_t>(f.splitTimes.size(), kMaxSectorCount);
    b[171] = static_cast<std::uint8_t>(sectors);
    for (std::size_t k = 0; k < sectors; ++k) SetHeaderI32(b + 172 + 4 * k, f.splitTimes[k]);
    return h;
}

std::int32_t FloatToFixed(float v) {
    const double scaled = std::round(static_cast<double>(v) * 65536.0);
    if (!(scaled > std::numeric_limits<std::int32_t>::min())) return std::numeric_limits<std::int32_t>::min();
    if (scaled >= std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(scaled);
}

std::int16_t AxisToFixed(float v) {
    const double scaled = std::round(static_cast<double>(v) * 65536.0);
    return static_cast<std::int16_t>(std::clamp(scaled, -32768.0, 32767.0));
}

std::vector<std::uint8_t> EncodeReplayFile(const ReplayFile& file) {
    const ReplayHeader& h = file.header;
    const int blockCount = h.BlockCount();
    const std::int64_t sampleSkip = static_cast<std::int64_t>(h.SampleStride()) - kReplaySampleSize;
    const std::int64_t recordSkip = static_cast<std::int64_t>(h.RecordStride()) -
                                    static_cast<std::int64_t>(blockCount) * h.SampleStride() -
                                    kReplayRecordFixedSize;
    std::vector<std::uint8_t> out;
    out.reserve(kReplayHeaderSize + 128 * blockCount +
                file.records.size() * static_cast<std::size_t>(std::max<std::int64_t>(64, h.RecordStride())));
    ByteSink s(&out);
    s.Bytes(h.bytes.data(), h.bytes.size());
    for (int i = 0; i < blockCount; ++i) {
        if (static_cast<std::size_t>(i) < file.blocks.size()) {
            s.Bytes(file.blocks[i].bytes.data(), kReplayBlockSize);
        } else {
            s.Zeros(kReplayBlockSize);
        }
    }
    s.Zeros(static_cast<std::int64_t>(h.DataOffset()) - (blockCount + 4) * 128);
    if (h.RecordCount() < 1) return out;
    static const ReplaySample kZeroSample{};
    for (std::int32_t i = 0; i < h.RecordCount(); ++i) {
        static const ReplayRecord kZeroRecord{};
        const ReplayRecord& r = i < file.RecordCount() ? file.records[i] : kZeroRecord;
        s.F32(r.throttle);
        s.F32(r.brake);
        s.F32(r.steer);
        s.F32(r.clutch);
        s.F32(r.handbrake);
        s.U8(r.gear);
        s.Bytes(r.kept21.data(), 3);
        s.F32(r.speed);
        s.Bytes(r.kept28.data(), 4);
        s.I32(FloatToFixed(r.position.x));
        s.I32(FloatToFixed(r.position.y));
        s.I32(FloatToFixed(r.position.z));
        s.Bytes(r.kept44.data(), 4);
        s.F32(r.distance);
        for (float v : {r.lateralAxis.x, r.lateralAxis.y, r.lateralAxis.z, r.forwardAxis.x,
                        r.forwardAxis.y, r.forwardAxis.z}) {
            s.I16(AxisToFixed(v));
        }
        const auto samples = file.SamplesOf(i);
        for (int b = 0; b < blockCount; ++b) {
            const ReplaySample& sample =
                static_cast<std::size_t>(b) < samples.size() ? samples[b] : kZeroSample;
            s.Bytes(sample.bytes.data(), kReplaySampleSize);
            s.Zeros(sampleSkip);
        }
        s.Zeros(recordSkip);
    }
    return out;
}

TrackMeshHeader BuildTrackMeshHeader(std::string_view trackName, std::uint8_t red,
                                     std::uint8_t green, std::uint8_t blue) {
    TrackMeshHeader h;
    std::memcpy(h.bytes.data(), "QZRSMX", 6);
    h.bytes[9] = 3;
    h.bytes[11] = 1;
    SetHeaderText(&h.bytes[16], 32, trackName);
    h.bytes[48] = red;
    h.bytes[49] = green;
    h.bytes[50] = blue;
    return h;
}

std::vector<std::uint8_t> EncodeTrackMesh(const TrackMesh& mesh) {
    std::vector<std::uint8_t> out;
    ByteSink s(&out);
    TrackMeshHeader h = mesh.header;
    SetHeaderI32(&h.bytes[60], static_cast<std::int32_t>(mesh.objects.size()));
    s.Bytes(h.bytes.data(), h.bytes.size());
    for (const auto& o : mesh.objects) {
        s.I32(FloatToFixed(o.centre.x));
        s.I32(FloatToFixed(o.centre.y));
        s.I32(FloatToFixed(o.centre.z));
        s.I32(FloatToFixed(o.radius));
        s.I32(static_cast<std::int32_t>(o.vertices.size()));
        s.I32(static_cast<std::int32_t>(o.triangles.size()));
        for (const auto& v : o.vertices) {
            s.I32(FloatToFixed(v.x));
            s.I32(FloatToFixed(v.y));
            s.I32(FloatToFixed(v.z));
            s.U32(v.colour);
        }
        for (const auto& t : o.triangles) {
            s.U16(t.index[0]);
            s.U16(t.index[1]);
            s.U16(t.index[2]);
            s.U16(0);
        }
    }
    s.I32(static_cast<std::int32_t>(mesh.trailer.size()));
    for (std::uint32_t v : mesh.trailer) s.U32(v);
    return out;
}

SegmentMarkerRecord MakeSegmentMarker(std::string_view name, float distance, Vector3 position,
                                      float heading, float width) {
    SegmentMarkerRecord r{};
    SetHeaderText(reinterpret_cast<std::uint8_t*>(r.name), sizeof r.name, name);
    r.markerDistance = distance;
    r.position = position;
    r.heading = heading;
    r.width = width;
    return r;
}

std::vector<std::uint8_t> EncodeTrackSegmentFile(const TrackSegmentFile& file) {
    std::vector<std::uint8_t> out;
    ByteSink s(&out);
    auto header = file.header;
    std::memcpy(header.data(), "QZRTSF", 6);
    header[6] = 0;
    header[8] = 0;
    const std::size_t count = std::min<std::size_t>(file.records.size(), 255);
    header[57] = static_cast<std::uint8_t>(count);
    s.Bytes(header.data(), header.size());
    for (std::size_t i = 0; i < count; ++i) {
        const auto& r = file.records[i];
        s.Bytes(r.name, sizeof r.name);
        s.F32(r.markerDistance);
        s.F32(r.position.x);
        s.F32(r.position.y);
        s.F32(r.position.z);
        s.F32(r.heading);
        s.F32(r.width);
        s.Bytes(r.reserved, sizeof r.reserved);
    }
    return out;
}

bool WriteBytesToFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    // An empty vector's data() may be null, which fwrite must not be given.
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace lapquill
