#include "files/segment_file.h"

#include "files/le_reader.h"
#include "files/load_entry.h"

namespace lapquill {

namespace {

bool LoadSegments(LeReader& r, TrackSegmentFile* file) {
    ClearLoadFailure();
    file->records.clear();
    file->header.fill(0);
    if (!ReadMarkedHeader(r, file->header.data(), kSegmentHeaderSize, tsf::kMagic, tsf::kVersion,
                          "a segment file")) {
        return false;
    }
    // Records are kept as they arrive, so a short file never costs a full array.
    FieldReader io(r);
    for (int i = 0; i < file->MarkerCount(); ++i) {
        SegmentMarkerRecord rec{};
        if (!tsf::MarkerRecord(io, rec)) return Fail(r, "marker");
        file->records.push_back(rec);
    }
    return true;
}

}  // namespace

bool LoadTrackSegmentFile(const std::string& path, TrackSegmentFile* file) {
    return LoadFrom(path, file, LoadSegments);
}

bool LoadTrackSegmentFileFromMemory(std::span<const std::uint8_t> data, TrackSegmentFile* file) {
    return LoadFrom(data, file, LoadSegments);
}

void ReleaseTrackSegmentFile(TrackSegmentFile* file) {
    ReleaseStorage(file->records);
}

}  // namespace lapquill
