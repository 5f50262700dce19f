// A loaded track segment file (.tsf): the named markers across the track that divide a lap
// into segments. The view owns one, loaded with the first replay of a set and released with
// ReleaseTrackSegmentFile when the set is cleared. Distances in metres, headings in radians.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "files/file_text.h"
#include "files/segment_layout.h"
#include "math/math_types.h"

namespace lapquill {

// In memory exactly as in the file (64 bytes, little-endian fields).
struct SegmentMarkerRecord {
    char name[32];             // zero-terminated unless it fills the field
    float markerDistance;      // m along the lap
    Vector3 position;          // centre of the marker line on the map, m
    float heading;             // rad; the line runs along (sin a, cos a)
    float width;               // length of the line across the track, m
    std::uint8_t reserved[8];  // carried, never interpreted

    std::string_view Name() const {
        return FieldText(reinterpret_cast<const std::uint8_t*>(name), sizeof name);
    }
};
static_assert(sizeof(SegmentMarkerRecord) == kSegmentRecordSize);

struct TrackSegmentFile {
    std::array<std::uint8_t, kSegmentHeaderSize> header{};  // as read
    std::vector<SegmentMarkerRecord> records;

    std::uint8_t MarkerCount() const { return header[tsf::kMarkerCountAt]; }
    void SetMarkerCount(std::uint8_t n) { header[tsf::kMarkerCountAt] = n; }
};

bool LoadTrackSegmentFile(const std::string& path, TrackSegmentFile* file);
bool LoadTrackSegmentFileFromMemory(std::span<const std::uint8_t> data, TrackSegmentFile* file);
void ReleaseTrackSegmentFile(TrackSegmentFile* file);

}  // namespace lapquill
