// Writers of the three data formats: the exact inverse of the loaders, shared by the demo
// generator, the tests, the benchmarks and the fuzzers' seed corpora. The program itself never
// writes a data file. Encoders return the file's bytes; WriteBytesToFile stores them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "files/le_bytes.h"
#include "files/replay_file.h"
#include "files/segment_file.h"
#include "files/track_mesh.h"

namespace lapquill {

// What a replay header is built from. Texts longer than their field are cut to it.
struct ReplayHeaderFields {
    std::string playerName;   // may hold colour codes such as "^1"
    std::string carName;
    std::string trackName;
    std::string trackConfig;
    std::string weather;
    std::vector<std::int32_t> splitTimes;  // cumulative ms; the last one is the lap time
    std::uint8_t blockCount = 4;
    std::int16_t sampleStride = 28;
    std::int16_t recordStride = 0;  // 0: 64 + blockCount * sampleStride
    std::int16_t dataOffset = 0;    // 0: right after the blocks
    std::int32_t recordCount = 0;
};

ReplayHeader BuildReplayHeader(const ReplayHeaderFields& fields);
// Edits of header bytes in place, for writing and for damaging files in tests.
inline void SetHeaderText(std::uint8_t* field, std::size_t width, std::string_view text) {
    SetFieldText(field, width, text);
}
inline void SetHeaderI16(std::uint8_t* at, std::int16_t v) { StoreLeI16(at, v); }
inline void SetHeaderI32(std::uint8_t* at, std::int32_t v) { StoreLeI32(at, v); }
void SetBlockLateralOffset(ReplayBlock* block, float offset);

// Writes the header bytes as they stand, the blocks, zero padding up to dataOffset and every
// record with the header's strides: exactly the bytes the loader consumes.
std::vector<std::uint8_t> EncodeReplayFile(const ReplayFile& file);

TrackMeshHeader BuildTrackMeshHeader(std::string_view trackName, std::uint8_t red,
                                     std::uint8_t green, std::uint8_t blue);
// Writes the header with objectCount taken from the objects, and each object's counts from
// its vectors.
std::vector<std::uint8_t> EncodeTrackMesh(const TrackMesh& mesh);

SegmentMarkerRecord MakeSegmentMarker(std::string_view name, float distance, Vector3 position,
                                      float heading, float width);
// Writes the header with markerCount taken from the records (at most 255).
std::vector<std::uint8_t> EncodeTrackSegmentFile(const TrackSegmentFile& file);

bool WriteBytesToFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace lapquill
