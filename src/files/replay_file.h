// One loaded replay analysis file (.raf): its 512 header bytes as read, its blocks, its
// records (one every 0.01 s) and their samples. LoadReplayFile fills it, ReleaseReplayFile
// empties it; the replay set owns one per slot. Units are SI: metres, m/s, radians.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "files/file_text.h"
#include "files/le_bytes.h"
#include "files/replay_layout.h"
#include "math/math_types.h"

namespace lapquill {

// The header exactly as read; the fields are read in place through the accessors.
struct ReplayHeader {
    std::array<std::uint8_t, kReplayHeaderSize> bytes{};

    std::uint8_t Version() const { return bytes[kFileVersionAt]; }
    std::int16_t DataOffset() const { return I16(raf::kDataOffsetAt); }      // bytes before the first record
    std::int16_t RecordStride() const { return I16(raf::kRecordStrideAt); }  // bytes of one record in the file
    std::int16_t SampleStride() const { return I16(raf::kSampleStrideAt); }  // bytes of one sample in the file
    std::int32_t RecordCount() const { return I32(raf::kRecordCountAt); }
    std::string_view PlayerName() const { return FieldText(bytes.data(), raf::kPlayerName); }  // with colour codes
    std::string_view CarName() const { return FieldText(bytes.data(), raf::kCarName); }
    std::string_view TrackName() const { return FieldText(bytes.data(), raf::kTrackName); }
    std::string_view TrackConfig() const { return FieldText(bytes.data(), raf::kTrackConfig); }
    std::string_view Weather() const { return FieldText(bytes.data(), raf::kWeather); }
    std::uint8_t BlockCount() const { return bytes[raf::kBlockCountAt]; }   // blocks, and samples per record
    std::uint8_t SectorCount() const { return bytes[raf::kSectorCountAt]; }  // entries in the split times
    // Cumulative time in ms from the lap start to the end of sector k (0-based), k < SectorCount.
    std::int32_t SplitTime(int k) const { return I32(raf::kSplitTimesAt + 4 * k); }

    // Bytes between the end of the blocks and the first record; zero or less means none are
    // skipped.
    std::int64_t PaddingBeforeRecords() const {
        return static_cast<std::int64_t>(DataOffset()) -
               (kReplayHeaderSize + static_cast<std::int64_t>(BlockCount()) * kReplayBlockSize);
    }
    // Bytes of the sample stride beyond the 28 carried, and of the record stride beyond the
    // fixed part and the samples; zero or less means none are skipped.
    std::int64_t SampleGap() const { return static_cast<std::int64_t>(SampleStride()) - kReplaySampleSize; }
    std::int64_t RecordGap() const {
        return static_cast<std::int64_t>(RecordStride()) -
               static_cast<std::int64_t>(BlockCount()) * SampleStride() - kReplayRecordFixedSize;
    }

    std::int16_t I16(int at) const { return LoadLeI16(&bytes[at]); }
    std::int32_t I32(int at) const { return LoadLeI32(&bytes[at]); }
};

struct ReplayBlock {
    std::array<std::uint8_t, kReplayBlockSize> bytes{};  // as in the file
    // m, sideways along the lateral axis
    float LateralOffset() const { return LoadLeF32(&bytes[raf::kBlockLateralOffsetAt]); }
};

struct ReplaySample {
    std::array<std::uint8_t, kReplaySampleSize> bytes{};  // carried, never interpreted
};

struct ReplayRecord {
    float throttle = 0;   // 0 to 1
    float brake = 0;      // 0 to 1
    float steer = 0;      // rad
    float clutch = 0;     // 0 to 1
    float handbrake = 0;  // 0 to 1
    std::uint8_t gear = 0;  // selected gear + 1
    std::array<std::uint8_t, 3> kept21{};  // file bytes 21-23
    float speed = 0;                       // m/s
    std::array<std::uint8_t, 4> kept28{};  // file bytes 28-31
    Vector3 position{};                    // m
    std::array<std::uint8_t, 4> kept44{};  // file bytes 44-47
    float distance = 0;                    // m along the lap, rising
    Vector3 lateralAxis{};                 // sideways axis, at most half a unit long
    Vector3 forwardAxis{};                 // forward axis, at most half a unit long
};

struct ReplayFile {
    ReplayHeader header;
    std::vector<ReplayBlock> blocks;    // header.BlockCount() entries
    std::vector<ReplayRecord> records;  // header.RecordCount() entries, none when below 1
    // BlockCount() samples per record; record i's start at i * BlockCount(). Records refer to
    // their samples by index rather than by pointer so that a ReplayFile can be moved freely.
    std::vector<ReplaySample> samples;

    std::int32_t RecordCount() const { return static_cast<std::int32_t>(records.size()); }
    std::span<const ReplaySample> SamplesOf(std::int32_t record) const;
};

// Loads the whole file; false when any part is missing or invalid (the file is then partly
// filled and must not be used). Never shows a message.
bool LoadReplayFile(const std::string& path, ReplayFile* file);
bool LoadReplayFileFromMemory(std::span<const std::uint8_t> data, ReplayFile* file);
void ReleaseReplayFile(ReplayFile* file);
// Makes every check LoadReplayFile makes without reading the records, so it costs little more
// than the header: true exactly when LoadReplayFile would succeed on the file as it stands.
// Fills the header as far as it was read; LastLoadFailure() tells why it failed.
bool ProbeReplayFile(const std::string& path, ReplayHeader* header);

}  // namespace lapquill
