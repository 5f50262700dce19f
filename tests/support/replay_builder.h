// Laps for the analysis and view tests, built in memory or written through the writers. A lap
// runs along +X with its distance equal to X, one step of `step` metres per record, and may
// hold braking zones in which the step shrinks by a power of two per record: all positions
// stay exact in single precision, so the accelerations are exact and the detected corners
// fall on known records. A TestWorld writes such laps with a mesh and segment file into a
// temporary folder laid out as the program expects (data/smx, data/raf) and works there.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/sample_files.h"
#include "tools/data_writers.h"

namespace lapquill::test {

// Exact in single precision: the step shrinks by this much per braking record.
inline constexpr float kBrakeStep = 1.0f / 1024.0f;

struct LapPlan {
    std::string player = "^1An^7na";
    std::string car = "Formula Vee";
    std::string track = "Harrow Vale";
    std::string config = "GP";
    std::string weather = "Sunny";
    std::vector<std::int32_t> splitTimes = {31000, 62000, 83456};
    std::int32_t records = 2000;
    float step = 0.25f;          // m per record (25 m/s)
    float startDistance = 0.0f;  // m at record 0
    // Records [first, last] at which the step shrinks by kBrakeStep: records first - 2 .. last
    // then brake (76 records for last = first + 73).
    std::vector<std::pair<std::int32_t, std::int32_t>> braking;
};

inline ReplayFile BuildLap(const LapPlan& plan) {
    ReplayHeaderFields f;
    f.playerName = plan.player;
    f.carName = plan.car;
    f.trackName = plan.track;
    f.trackConfig = plan.config;
    f.weather = plan.weather;
    f.splitTimes = plan.splitTimes;
    f.blockCount = 2;
    f.recordCount = plan.records;
    ReplayFile file;
    file.header = BuildReplayHeader(f);
    for (int b = 0; b < 2; ++b) {
        ReplayBlock block;
        SetBlockLateralOffset(&block, b == 0 ? -0.8f : 0.8f);
        file.blocks.push_back(block);
    }
    float x = plan.startDistance;
    float step = plan.step;
    for (std::int32_t i = 0; i < plan.records; ++i) {
        if (i > 0) {
            for (const auto& [first, last] : plan.braking) {
                if (i >= first && i <= last) step -= kBrakeStep;
            }
            x += step;
        }
        ReplayRecord r;
        r.throttle = 0.75f;
        r.brake = 0.0f;
        r.steer = 0.0f;
        r.clutch = 0.0f;
        r.handbrake = 0.0f;
        r.gear = 4;
        r.speed = step * 100.0f;
        r.position = {x, 0.0f, 0.0f};
        r.distance = x;
        r.lateralAxis = {0.0f, 0.5f, 0.0f};  // left of the direction of travel
        r.forwardAxis = {0.5f, 0.0f, 0.0f};  // along +X
        file.records.push_back(r);
        for (int b = 0; b < 2; ++b) file.samples.push_back(ReplaySample{});
    }
    return file;
}

// A track mesh of one object around the straight.
inline TrackMesh StraightMesh(const std::string& trackName) {
    TrackMesh mesh;
    mesh.header = BuildTrackMeshHeader(trackName, 20, 60, 20);
    MeshObject o;
    o.centre = {500.0f, 0.0f, 0.0f};
    o.radius = 1000.0f;
    o.vertices = {{0, -10, 0, 0xFF808080u}, {1000, -10, 0, 0xFF808080u}, {0, 10, 0, 0xFF808080u}};
    o.triangles = {{{0, 1, 2}}};
    o.vertexCount = 3;
    o.triangleCount = 1;
    mesh.objects = {o};
    return mesh;
}

inline TrackSegmentFile MarkersAt(const std::vector<std::pair<std::string, float>>& markers) {
    TrackSegmentFile f;
    for (const auto& [name, distance] : markers) {
        f.records.push_back(MakeSegmentMarker(name, distance, {distance, 0, 0}, 0.0f, 12.0f));
    }
    f.SetMarkerCount(static_cast<std::uint8_t>(f.records.size()));
    return f;
}

// A temporary working folder with data/smx and data/raf; the process works inside it for the
// object's life (the program resolves data/smx against the current directory).
class TestWorld {
  public:
    TestWorld() : previous_(std::filesystem::current_path()) {
        std::filesystem::create_directories(dir_.path() / "data" / "smx");
        std::filesystem::create_directories(dir_.path() / "data" / "raf");
        std::filesystem::current_path(dir_.path());
    }
    ~TestWorld() { std::filesystem::current_path(previous_); }
    TestWorld(const TestWorld&) = delete;
    TestWorld& operator=(const TestWorld&) = delete;

    void AddTrack(const std::string& trackName, const std::string& fileName) {
        WriteBytesToFile("data/smx/" + fileName, EncodeTrackMesh(StraightMesh(trackName)));
    }
    void AddSegments(const std::string& track, const std::string& config,
                     const TrackSegmentFile& segments) {
        WriteBytesToFile("data/smx/" + track + " " + config + ".tsf",
                         EncodeTrackSegmentFile(segments));
    }
    // Writes the lap as data/raf/NAME.raf and returns that path.
    std::string AddLap(const std::string& name, const ReplayFile& lap) {
        const std::string path = "data/raf/" + name + ".raf";
        WriteBytesToFile(path, EncodeReplayFile(lap));
        return path;
    }
    std::string Root() const { return dir_.path().string(); }
    // The straight track "Harrow Vale" in configuration "GP" with markers "Turn 1" and
    // "Turn 2" at the given distances across it.
    void AddMarkedTrack(float turn1, float turn2) {
        AddTrack("Harrow Vale", "vale.smx");
        TrackSegmentFile segments;
        segments.records.push_back(MakeSegmentMarker("Turn 1", turn1, {turn1, 0, 0}, 0.0f, 12.0f));
        segments.records.push_back(MakeSegmentMarker("Turn 2", turn2, {turn2, 0, 0}, 0.0f, 12.0f));
        segments.SetMarkerCount(2);
        AddSegments("Harrow Vale", "GP", segments);
    }

  private:
    TempDir dir_;
    std::filesystem::path previous_;
};

}  // namespace lapquill::test
