#include "files/segment_file.h"

#include "files/le_reader.h"

namespace lapquill {

namespace {

bool LoadSegments(LeReader& r, TrackSegmentFile* file) {
    ClearLoadFailure();
    file->records.clear();
    file->header.fill(0);
    if (!r.IsOpen()) return FailOpen(r);
    if (!r.ReadBytes(file->header.data(), tsf::kMarkerSize)) return Fail(r, "magic");
    if (!MagicMatches(file->header.data(), tsf::kMagic)) {
        return Fail(r, "magic", LoadFailureKind::WrongType, "a segment file");
    }
    const std::uint8_t version = file->header[tsf::kVersionAt];
    if (version != tsf::kVersion) {
        return Fail(r, "version", LoadFailureKind::WrongVersion,
                    "version " + std::to_string(version) + ", this program reads version " +
                        std::to_string(tsf::kVersion));
    }
    if (!r.ReadBytes(file->header.data() + tsf::kMarkerSize, kSegmentHeaderSize - tsf::kMarkerSize)) {
        return Fail(r, "header");
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
