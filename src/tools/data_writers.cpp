#include "tools/data_writers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "files/le_bytes.h"
#include "files/le_writer.h"

namespace lapquill {

namespace {
// The bytes of a file being encoded, with the writer and the field walker over them.
struct FileBytes {
    std::vector<std::uint8_t> out;
    LeWriter w{&out};
    FieldWriter io{w};
};
}  // namespace

void SetBlockLateralOffset(ReplayBlock* block, float offset) {
    StoreLeF32(&block->bytes[raf::kBlockLateralOffsetAt], offset);
}

ReplayHeader BuildReplayHeader(const ReplayHeaderFields& f) {
    ReplayHeader h;
    std::uint8_t* b = h.bytes.data();
    std::memcpy(b, raf::kMagic.data(), raf::kMagic.size());
    b[kFileVersionAt] = kReplayVersion;
    const int stride = f.recordStride != 0 ? f.recordStride
                                           : kReplayRecordFixedSize + f.blockCount * f.sampleStride;
    const int offset = f.dataOffset != 0 ? f.dataOffset : kReplayHeaderSize + kReplayBlockSize * f.blockCount;
    StoreLeI16(b + raf::kDataOffsetAt, static_cast<std::int16_t>(offset));
    StoreLeI16(b + raf::kRecordStrideAt, static_cast<std::int16_t>(stride));
    StoreLeI16(b + raf::kSampleStrideAt, f.sampleStride);
    StoreLeI32(b + raf::kRecordCountAt, f.recordCount);
    SetFieldText(b, raf::kPlayerName, f.playerName);
    SetFieldText(b, raf::kCarName, f.carName);
    SetFieldText(b, raf::kTrackName, f.trackName);
    SetFieldText(b, raf::kTrackConfig, f.trackConfig);
    SetFieldText(b, raf::kWeather, f.weather);
    b[raf::kBlockCountAt] = f.blockCount;
    const std::size_t sectors = std::min<std::size_t>(f.splitTimes.size(), kMaxSectorCount);
    b[raf::kSectorCountAt] = static_cast<std::uint8_t>(sectors);
    for (std::size_t k = 0; k < sectors; ++k) StoreLeI32(b + raf::kSplitTimesAt + 4 * k, f.splitTimes[k]);
    return h;
}

std::vector<std::uint8_t> EncodeReplayFile(const ReplayFile& file) {
    const ReplayHeader& h = file.header;
    const int blockCount = h.BlockCount();
    FileBytes f;
    auto& [out, w, io] = f;
    out.reserve(kReplayHeaderSize + kReplayBlockSize * blockCount +
                file.records.size() * static_cast<std::size_t>(std::max<std::int64_t>(64, h.RecordStride())));
    w.WriteBytes(h.bytes.data(), h.bytes.size());
    for (int i = 0; i < blockCount; ++i) {
        if (static_cast<std::size_t>(i) < file.blocks.size()) {
            w.WriteBytes(file.blocks[i].bytes.data(), kReplayBlockSize);
        } else {
            w.WriteZeros(kReplayBlockSize);
        }
    }
    w.WriteZeros(h.PaddingBeforeRecords());
    if (h.RecordCount() < 1) return std::move(out);
    static const ReplaySample kZeroSample{};
    static const ReplayRecord kZeroRecord{};
    for (std::int32_t i = 0; i < h.RecordCount(); ++i) {
        raf::RecordFixedPart(io, i < file.RecordCount() ? file.records[i] : kZeroRecord);
        const auto samples = file.SamplesOf(i);
        for (int b = 0; b < blockCount; ++b) {
            const ReplaySample& sample =
                static_cast<std::size_t>(b) < samples.size() ? samples[b] : kZeroSample;
            w.WriteBytes(sample.bytes.data(), kReplaySampleSize);
            w.WriteZeros(h.SampleGap());
        }
        w.WriteZeros(h.RecordGap());
    }
    return std::move(out);
}

TrackMeshHeader BuildTrackMeshHeader(std::string_view trackName, std::uint8_t red,
                                     std::uint8_t green, std::uint8_t blue) {
    TrackMeshHeader h;
    std::memcpy(h.bytes.data(), smx::kMagic.data(), smx::kMagic.size());
    h.bytes[smx::kListedKindAt] = smx::kListedKind;
    h.bytes[smx::kListedFlagAt] = smx::kListedFlag;
    SetFieldText(h.bytes.data(), smx::kTrackName, trackName);
    h.bytes[smx::kBackgroundAt] = red;
    h.bytes[smx::kBackgroundAt + 1] = green;
    h.bytes[smx::kBackgroundAt + 2] = blue;
    return h;
}

std::vector<std::uint8_t> EncodeTrackMesh(const TrackMesh& mesh) {
    FileBytes f;
    auto& [out, w, io] = f;
    TrackMeshHeader h = mesh.header;
    StoreLeI32(&h.bytes[smx::kObjectCountAt], static_cast<std::int32_t>(mesh.objects.size()));
    w.WriteBytes(h.bytes.data(), h.bytes.size());
    for (const auto& o : mesh.objects) {
        smx::ObjectSphere(io, o.centre, o.radius);
        // The counts follow the vectors, whatever the object's count fields say.
        const auto vertexCount = static_cast<std::int32_t>(o.vertices.size());
        const auto triangleCount = static_cast<std::int32_t>(o.triangles.size());
        smx::ObjectCounts(io, vertexCount, triangleCount);
        for (const auto& v : o.vertices) smx::VertexRecord(io, v);
        for (const auto& t : o.triangles) smx::TriangleRecord(io, t);
    }
    w.WriteI32(static_cast<std::int32_t>(mesh.trailer.size()));
    for (std::uint32_t v : mesh.trailer) w.WriteU32(v);
    return std::move(out);
}

SegmentMarkerRecord MakeSegmentMarker(std::string_view name, float distance, Vector3 position,
                                      float heading, float width) {
    SegmentMarkerRecord r{};
    SetFieldText(reinterpret_cast<std::uint8_t*>(r.name), sizeof r.name, name);
    r.markerDistance = distance;
    r.position = position;
    r.heading = heading;
    r.width = width;
    return r;
}

std::vector<std::uint8_t> EncodeTrackSegmentFile(const TrackSegmentFile& file) {
    FileBytes f;
    auto& [out, w, io] = f;
    auto header = file.header;
    std::memcpy(header.data(), tsf::kMagic.data(), tsf::kMagic.size());
    header[tsf::kMagic.size()] = 0;  // the magic's terminator
    header[kFileVersionAt] = tsf::kVersion;
    const std::size_t count = std::min<std::size_t>(file.records.size(), 255);
    header[tsf::kMarkerCountAt] = static_cast<std::uint8_t>(count);
    w.WriteBytes(header.data(), header.size());
    for (std::size_t i = 0; i < count; ++i) tsf::MarkerRecord(io, file.records[i]);
    return std::move(out);
}

bool WriteBytesToFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    // An empty vector's data() may be null, which fwrite must not be given.
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace lapquill
