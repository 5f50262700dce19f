#include "files/replay_file.h"

#include <algorithm>
#include <cstring>

#include "files/le_reader.h"
#include "files/load_entry.h"

namespace lapquill {

std::span<const ReplaySample> ReplayFile::SamplesOf(std::int32_t record) const {
    const std::size_t n = header.BlockCount();
    const std::size_t first = static_cast<std::size_t>(record) * n;
    if (record < 0 || first + n > samples.size()) return {};
    return {samples.data() + first, n};
}

namespace {

// With probeOnly, stops after every check that does not need the records: once the file is
// known to hold all of them, reading them cannot fail (unless the file changes meanwhile).
bool LoadReplay(LeReader& r, ReplayFile* file, bool probeOnly = false) {
    ClearLoadFailure();
    ReleaseReplayFile(file);
    ReplayHeader& h = file->header;
    h.bytes.fill(0);
    if (!ReadMarkedHeader(r, h.bytes.data(), kReplayHeaderSize, raf::kMagic, kReplayVersion,
                          "a replay file", true)) {
        return false;
    }
    // More split times than the header holds would be read from beyond it.
    if (h.SectorCount() > kMaxSectorCount) return Fail(r, "sector count", LoadFailureKind::Invalid,
                    std::to_string(h.SectorCount()) + ", at most " + std::to_string(kMaxSectorCount));

    // Blocks: the array grows only with what the file holds, so a header claiming many
    // blocks costs nothing before the file proves to hold them.
    const int blockCount = h.BlockCount();
    file->blocks.reserve(static_cast<std::size_t>(
        std::min<std::int64_t>(blockCount, r.Remaining() / kReplayBlockSize + 1)));
    for (int b = 0; b < blockCount; ++b) {
        ReplayBlock block;
        const bool whole = r.ReadBytes(block.bytes.data(), kReplayBlockSize);
        file->blocks.push_back(block);  // a cut block keeps what arrived
        // A file that ends inside its blocks is cut, whatever its record count says: the
        // missing blocks' offsets were never read.
        if (!whole) return Fail(r, "blocks");
    }
    const auto completeBlocks = [&] { file->blocks.resize(static_cast<std::size_t>(blockCount)); };

    if (!r.Skip(h.PaddingBeforeRecords())) return Fail(r, "padding");

    const std::int32_t recordCount = h.RecordCount();
    if (recordCount < 1) {
        completeBlocks();
        return true;
    }

    // What one record consumes: its fixed part, each sample's 28 bytes plus any surplus of
    // the sample stride, and any rest of the record stride. Refuse counts the file cannot
    // hold before allocating for them.
    const std::int64_t sampleSkip = h.SampleGap();
    const std::int64_t recordSkip = h.RecordGap();
    std::int64_t perSample = 0, samples = 0, perRecord = 0, needed = 0;
    if (!AddSizes(kReplaySampleSize, std::max<std::int64_t>(sampleSkip, 0), &perSample) ||
        !MulSizes(perSample, blockCount, &samples) ||
        !AddSizes(kReplayRecordFixedSize + std::max<std::int64_t>(recordSkip, 0), samples, &perRecord) ||
        !MulSizes(perRecord, recordCount, &needed) || needed > r.Remaining()) {
        return Fail(r, "record count", LoadFailureKind::CountTooLarge,
                    std::to_string(recordCount) + " records");
    }
    if (probeOnly) return true;

    file->records.resize(static_cast<std::size_t>(recordCount));
    file->samples.resize(static_cast<std::size_t>(recordCount) * static_cast<std::size_t>(blockCount));
    ReplaySample* sample = file->samples.data();
    FieldReader io(r);
    for (auto& rec : file->records) {
        if (!raf::RecordFixedPart(io, rec)) return Fail(r, "record");
        for (int b = 0; b < blockCount; ++b, ++sample) {
            if (!r.ReadBytes(sample->bytes.data(), kReplaySampleSize)) return Fail(r, "sample");
            if (!r.Skip(sampleSkip)) return Fail(r, "sample stride");
        }
        if (!r.Skip(recordSkip)) return Fail(r, "record stride");
    }
    completeBlocks();
    return true;
}

}  // namespace

bool LoadReplayFile(const std::string& path, ReplayFile* file) {
    return LoadFrom(path, file, LoadReplay, false);
}

bool LoadReplayFileFromMemory(std::span<const std::uint8_t> data, ReplayFile* file) {
    return LoadFrom(data, file, LoadReplay, false);
}

bool ProbeReplayFile(const std::string& path, ReplayHeader* header) {
    ReplayFile file;
    const bool ok = LoadFrom(path, &file, LoadReplay, true);
    *header = file.header;
    return ok;
}

void ReleaseReplayFile(ReplayFile* file) {
    ReleaseStorage(file->blocks, file->records, file->samples);
}

}  // namespace lapquill
