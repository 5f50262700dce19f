// Small, fully populated data files for the loader tests: every field holds a distinct value
// so that a round trip through the writers and loaders shows any field that goes astray.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/data_writers.h"

namespace lapquill::test {

inline ReplayFile SampleReplay(int recordCount = 3, std::uint8_t blockCount = 2,
                               std::int16_t sampleStride = 28, std::int16_t extraRecordBytes = 0,
                               std::int16_t padding = 0) {
    ReplayHeaderFields f;
    f.playerName = "^1Ma^7rta";
    f.carName = "Formula Vee";
    f.trackName = "Harrow Vale";
    f.trackConfig = "GP";
    f.weather = "Overcast";
    f.splitTimes = {31000, 62000, 93456};
    f.blockCount = blockCount;
    f.sampleStride = sampleStride;
    f.recordStride = static_cast<std::int16_t>(64 + blockCount * sampleStride + extraRecordBytes);
    f.dataOffset = static_cast<std::int16_t>(512 + 128 * blockCount + padding);
    f.recordCount = recordCount;
    ReplayFile file;
    file.header = BuildReplayHeader(f);
    file.header.bytes[7] = 0x5A;  // bytes nobody interprets still travel
    file.header.bytes[300] = 0xC3;
    for (int b = 0; b < blockCount; ++b) {
        ReplayBlock block;
        for (int i = 0; i < kReplayBlockSize; ++i) block.bytes[i] = static_cast<std::uint8_t>(b * 31 + i);
        SetBlockLateralOffset(&block, b == 0 ? -0.8f : 0.8f);
        file.blocks.push_back(block);
    }
    for (int i = 0; i < recordCount; ++i) {
        ReplayRecord r;
        r.throttle = 0.25f + i;
        r.brake = 0.5f + i;
        r.steer = -0.125f * i;
        r.clutch = 0.75f;
        r.handbrake = 0.0625f;
        r.gear = static_cast<std::uint8_t>(2 + i);
        r.kept21 = {1, 2, static_cast<std::uint8_t>(i)};
        r.speed = 40.5f + i;
        r.kept28 = {4, 5, 6, static_cast<std::uint8_t>(i)};
        r.position = {100.0f + i, -250.5f, 3.25f};
        r.kept44 = {7, 8, 9, static_cast<std::uint8_t>(i)};
        r.distance = 10.0f * i;
        r.lateralAxis = {0.5f - 1.0f / 65536.0f, 0.0f, -0.25f};
        r.forwardAxis = {0.0f, -0.5f, 0.125f};
        file.records.push_back(r);
        for (int b = 0; b < blockCount; ++b) {
            ReplaySample s;
            for (int k = 0; k < kReplaySampleSize; ++k) s.bytes[k] = static_cast<std::uint8_t>(i + b + k);
            file.samples.push_back(s);
        }
    }
    return file;
}

inline TrackMesh SampleMesh(const std::string& trackName = "Harrow Vale") {
    TrackMesh mesh;
    mesh.header = BuildTrackMeshHeader(trackName, 40, 90, 30);
    MeshObject a;
    a.centre = {10.0f, 20.0f, 0.5f};
    a.radius = 15.25f;
    a.vertices = {{0, 0, 0, 0xFF808080u}, {10, 0, 0, 0xFF808081u}, {0, 10, 1.5f, 0xFFFF0000u}};
    a.triangles = {{{0, 1, 2}}};
    MeshObject b;
    b.centre = {-5.0f, 0.0f, 0.0f};
    b.radius = 2.0f;
    mesh.objects = {a, b};
    mesh.trailer = {7, 0xDEADBEEFu};
    mesh.trailerCount = 2;
    for (auto& o : mesh.objects) {
        o.vertexCount = static_cast<std::int32_t>(o.vertices.size());
        o.triangleCount = static_cast<std::int32_t>(o.triangles.size());
    }
    return mesh;
}

inline TrackSegmentFile SampleSegments() {
    TrackSegmentFile f;
    f.records.push_back(MakeSegmentMarker("Turn 1", 120.5f, {10, 20, 1}, 0.5f, 14.0f));
    f.records.push_back(MakeSegmentMarker("The Esses", 980.0f, {-40, 5, 2}, 2.0f, 12.0f));
    f.records[1].reserved[3] = 0x77;
    f.SetMarkerCount(2);
    return f;
}

// A fresh empty folder below the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir() {
        path_ = std::filesystem::temp_directory_path() /
                ("lapquill-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
    static inline int counter_ = 0;
};

}  // namespace lapquill::test
