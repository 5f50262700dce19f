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
#include "math/math_types.h"

namespace lapquill {

inline constexpr int kReplayHeaderSize = 512;
inline constexpr int kReplayBlockSize = 128;
inline constexpr int kReplayRecordFixedSize = 64;
inline constexpr int kReplaySampleSize = 28;
inline constexpr int kMaxSectorCount = (kReplayHeaderSize - 172) / 4;  // 85 split times fit
inline constexpr std::uint8_t kReplayVersion = 2;

// The header exactly as read; the fields are read in place through the accessors.
struct ReplayHeader {
    std::array<std::uint8_t, kReplayHeaderSize> bytes{};

    std::uint8_t Version() const { return bytes[8]; }
    std::int16_t DataOffset() const { return I16(12); }    // bytes before the first record
    std::int16_t RecordStride() const { return I16(14); }  // bytes of one record in the file
    std::int16_t SampleStride() const { return I16(16); }  // bytes of one sample in the file
    std::int32_t RecordCount() const { return I32(20); }
    std::string_view PlayerName() const { return FieldText(&bytes[32], 32); }  // with colour codes
    std::string_view CarName() const { return FieldText(&bytes[64], 32); }
    std::string_view TrackName() const { return FieldText(&bytes[96], 32); }
    std::string_view TrackConfig() const { return FieldText(&bytes[128], 16); }
    std::string_view Weather() const { return FieldText(&bytes[144], 24); }
    std::uint8_t BlockCount() const { return bytes[169]; }   // blocks, and samples per record
    std::uint8_t SectorCount() const { return bytes[171]; }  // entries in the split times
    // Cumulative time in ms from the lap start to the end of sector k (0-based), k < SectorCount.
    std::int32_t SplitTime(int k) const { return I32(172 + 4 * k); }

    std::int16_t I16(int at) const {
        return static_cast<std::int16_t>(bytes[at] | (bytes[at + 1] << 8));
    }
    std::int32_t I32(int at) const {
        return static_cast<std::int32_t>(
            static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
            (static_cast<std::uint32_t>(bytes[at + 2]) << 16) |
            (static_cast<std::uint32_t>(bytes[at + 3]) << 24));
    }
};

struct ReplayBlock {
    std::array<std::uint8_t, kReplayBlockSize> bytes{};  // as in the file
    float LateralOffset() const;                          // m, sideways along the lateral axis
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

// Fixed point with 16 fraction bits to metres, in single precision.
inline float FixedToFloat(std::int32_t v) { return static_cast<float>(v) * 1.52587890625e-05f; }

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
