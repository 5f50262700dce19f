#include "files/segment_file.h"

#include <cstring>

#include "files/le_reader.h"

namespace lapquill {

namespace {

bool ReadRecord(LeReader& r, SegmentMarkerRecord* rec) {
    return r.ReadBytes(rec->name, sizeof rec->name) && r.ReadF32(&rec->markerDistance) &&
           r.ReadF32(&rec->position.x) && r.ReadF32(&rec->position.y) &&
           r.ReadF32(&rec->position.z) && r.ReadF32(&rec->heading) && r.ReadF32(&rec->width) &&
           r.ReadBytes(rec->reserved, sizeof rec->reserved);
}

bool LoadSegments(LeReader& r, TrackSegmentFile* file) {
    ClearLoadFailure();
    file->records.clear();
    file->header.fill(0);
    if (!r.IsOpen()) return FailOpen(r);
    if (!r.ReadBytes(file->header.data(), 9)) return Fail(r, "magic");
    if (!MagicMatches(file->header.data(), "QZRTSF")) {
        return Fail(r, "magic", LoadFailureKind::WrongType, "a segment file");
    }
    if (file->header[8] != 0) {
        return Fail(r, "version", LoadFailureKind::WrongVersion,
                    "version " + std::to_string(file->header[8]) + ", this program reads version 0");
    }
    if (!r.ReadBytes(file->header.data() + 9, kSegmentHeaderSize - 9)) return Fail(r, "header");
    // Records are kept as they arrive, so a short file never costs a full array.
    for (int i = 0; i < file->MarkerCount(); ++i) {
        SegmentMarkerRecord rec{};
        if (!ReadRecord(r, &rec)) return Fail(r, "marker");
        file->records.push_back(rec);
    }
    return true;
}

}  // namespace

bool LoadTrackSegmentFile(const std::string& path, TrackSegmentFile* file) {
    LeReader r(path);
    return LoadSegments(r, file);
}

bool LoadTrackSegmentFileFromMemory(std::span<const std::uint8_t> data, TrackSegmentFile* file) {
    LeReader r(data);
    return LoadSegments(r, file);
}

void ReleaseTrackSegmentFile(TrackSegmentFile* file) {
    file->records.clear();
    file->records.shrink_to_fit();
}

}  // namespace lapquill
