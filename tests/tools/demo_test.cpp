// The demo circuit, its mesh and its segment file, checked as properties of the generated
// data after a trip through the writers and the loaders. The data set is generated once per
// test binary (SharedDemo) and shared with the lap tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <set>

#include <unistd.h>

#include "files/replay_file.h"
#include "files/segment_file.h"
#include "files/track_mesh.h"
#include "support/compare.h"
#include "tools/data_writers.h"
#include "tools/demo_data.h"
#include "tools/demo_test_fixture.h"

namespace lapquill {
namespace {

using test::SharedDemo;

double Hypot2(double x, double y) {
    return std::sqrt(x * x + y * y);
}

TEST(BuildDemoTrack, IsAClosedCircuitOfRaceLengthWithVariedCorners) {
    const DemoTrack& t = SharedDemo().set.track;
    EXPECT_GE(t.length, 3500.0);
    EXPECT_LE(t.length, 5000.0);
    EXPECT_GE(t.corners.size(), 12u);
    EXPECT_LE(t.corners.size(), 16u);
    std::set<DemoCornerKind> kinds;
    for (const auto& c : t.corners) kinds.insert(c.kind);
    for (DemoCornerKind k : {DemoCornerKind::Hairpin, DemoCornerKind::Chicane,
                             DemoCornerKind::Sweeper, DemoCornerKind::DoubleApex}) {
        EXPECT_TRUE(kinds.count(k)) << "missing corner kind " << static_cast<int>(k);
    }
    // Closed: the lap ends where it began, facing the same way one turn later.
    const DemoTrackPoint a = CentreLineAt(t, 0.0), b = CentreLineAt(t, t.length - 1e-6);
    EXPECT_LT(Hypot2(a.position.x - b.position.x, a.position.y - b.position.y), 1e-3);
    EXPECT_NEAR(std::abs(t.heading.back() - t.heading.front()), 2 * std::numbers::pi, 1e-9);
    // Corners come in lap order, each inside the lap, apex between its ends.
    for (std::size_t i = 0; i < t.corners.size(); ++i) {
        const DemoCorner& c = t.corners[i];
        EXPECT_LT(c.start, c.apex) << c.name;
        EXPECT_LT(c.apex, c.end) << c.name;
        EXPECT_GT(c.start, 0.0) << c.name;
        EXPECT_LT(c.end, t.length) << c.name;
        if (i > 0) {
            EXPECT_LT(t.corners[i - 1].apex, c.apex) << c.name;
        }
    }
    // A start-finish straight: nothing bends within 150 m of the line.
    for (double s = -150; s <= 150; s += 5) {
        EXPECT_LT(std::abs(CentreLineAt(t, s).curvature), 1e-4) << "at " << s;
    }
    // Elevation: hills of several metres, but gentle.
    double low = 1e9, high = -1e9, steepest = 0;
    for (double s = 0; s < t.length; s += 5) {
        const DemoTrackPoint p = CentreLineAt(t, s);
        low = std::min(low, p.position.z);
        high = std::max(high, p.position.z);
        steepest = std::max(steepest, std::abs(p.slope));
    }
    EXPECT_GT(high - low, 5.0);
    EXPECT_LT(steepest, 0.06);
}

TEST(BuildDemoTrack, NeverComesCloseToItselfAwayFromTheSameStretch) {
    const DemoTrack& t = SharedDemo().set.track;
    std::vector<DemoTrackPoint> p;
    for (double s = 0; s < t.length; s += 5) p.push_back(CentreLineAt(t, s));
    double closest = 1e9;
    for (std::size_t i = 0; i < p.size(); ++i) {
        for (std::size_t j = i + 1; j < p.size(); ++j) {
            const double apart = std::min<double>(j - i, p.size() - (j - i)) * 5;
            if (apart < 150) continue;
            closest = std::min(closest, Hypot2(p[i].position.x - p[j].position.x,
                                               p[i].position.y - p[j].position.y));
        }
    }
    // Two carriageways and their kerbs never touch.
    EXPECT_GT(closest, 2 * t.halfWidth + 10);
}

TEST(BuildDemoTrack, RacingLineKeepsTheWheelsOnTheAsphalt) {
    const test::SharedDemoData& d = SharedDemo();
    const DemoTrack& t = d.set.track;
    double widest = 0, widestCar = 0;
    for (double s = 0; s < t.length; s += 1)
        widest = std::max(widest, std::abs(RacingLineAt(t, s)));
    for (const DemoCar& car : d.set.cars) widestCar = std::max(widestCar, car.frontTrack);
    EXPECT_LE(widest + 0.5 * widestCar, t.halfWidth);
    // And it uses the room it has, out-in-out.
    EXPECT_GT(widest, 0.8 * (t.halfWidth - t.lineMargin));
}

TEST(BuildDemoTrackMesh, LoadsAsAListedTrackWithinTheTriangleBudget) {
    const test::SharedDemoData& d = SharedDemo();
    ASSERT_TRUE(d.meshLoaded);
    const TrackMesh& m = d.mesh;
    EXPECT_EQ(m.header.bytes[9], 3);
    EXPECT_EQ(m.header.bytes[11], 1);
    EXPECT_EQ(m.header.TrackName(), d.set.track.name);
    EXPECT_EQ(m.header.BackgroundColour(), d.set.track.backgroundColour);
    std::size_t triangles = 0;
    for (const MeshObject& o : m.objects) {
        ASSERT_LE(o.vertices.size(), 65536u);
        triangles += o.triangles.size();
        for (const MeshTriangle& tri : o.triangles) {
            for (std::uint16_t i : tri.index) ASSERT_LT(i, o.vertices.size());
        }
        for (const MeshVertex& v : o.vertices) ASSERT_EQ(v.colour >> 24, 0xFFu);
    }
    EXPECT_GE(triangles, 30000u);
    EXPECT_LE(triangles, 100000u);
}

TEST(BuildDemoTrackMesh, TrianglesFaceUpAndWindCounterClockwise) {
    const TrackMesh& m = SharedDemo().mesh;
    std::size_t clockwise = 0, total = 0;
    for (const MeshObject& o : m.objects) {
        for (const MeshTriangle& tri : o.triangles) {
            const MeshVertex& a = o.vertices[tri.index[0]];
            const MeshVertex& b = o.vertices[tri.index[1]];
            const MeshVertex& c = o.vertices[tri.index[2]];
            const double area = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
            if (!(area > 0)) ++clockwise;
            ++total;
        }
    }
    EXPECT_EQ(clockwise, 0u) << "of " << total;
}

TEST(BuildDemoTrackMesh, BoundingSpheresHoldTheirVertices) {
    for (const MeshObject& o : SharedDemo().mesh.objects) {
        ASSERT_GT(o.radius, 0.0f);
        for (const MeshVertex& v : o.vertices) {
            const float dx = v.x - o.centre.x, dy = v.y - o.centre.y, dz = v.z - o.centre.z;
            ASSERT_LE(std::sqrt(dx * dx + dy * dy + dz * dz), o.radius + test::kFixedPointStep * 4);
        }
        // One stretch of track per object, so the spheres say where things are.
        EXPECT_LT(o.radius, 400.0f);
    }
}

// Surfaces told apart by colour: what a viewer of the map tells apart too.
enum class Surface { Grass, Sand, Asphalt, White, Red, Black, Other };

Surface SurfaceOf(std::uint32_t argb) {
    const int r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
    if (g > r + 20 && g > b + 20) return Surface::Grass;
    if (r > 150 && r > g + 80 && r > b + 80) return Surface::Red;
    if (r > 180 && g > 150 && b < g - 20) return Surface::Sand;
    if (r > 220 && g > 220 && b > 220) return Surface::White;
    if (r < 40 && g < 40 && b < 40) return Surface::Black;
    if (std::abs(r - g) < 16 && std::abs(g - b) < 16 && r < 130) return Surface::Asphalt;
    return Surface::Other;
}

TEST(BuildDemoTrackMesh, DrawsGroundFirstAndMarkingsLast) {
    const TrackMesh& m = SharedDemo().mesh;
    std::set<Surface> seen;
    int lastGround = -1, firstAsphalt = 1 << 30, lastAsphalt = -1, firstKerb = 1 << 30;
    for (int i = 0; i < static_cast<int>(m.objects.size()); ++i) {
        for (const MeshVertex& v : m.objects[i].vertices) {
            const Surface s = SurfaceOf(v.colour);
            seen.insert(s);
            if (s == Surface::Grass || s == Surface::Sand) lastGround = i;
            if (s == Surface::Asphalt) {
                firstAsphalt = std::min(firstAsphalt, i);
                lastAsphalt = i;
            }
            if (s == Surface::Red) firstKerb = std::min(firstKerb, i);
        }
    }
    for (Surface s : {Surface::Grass, Surface::Sand, Surface::Asphalt, Surface::White, Surface::Red,
                      Surface::Black}) {
        EXPECT_TRUE(seen.count(s)) << "no surface " << static_cast<int>(s);
    }
    // No depth buffer: whatever is drawn later covers what was drawn before.
    EXPECT_LT(lastGround, firstAsphalt);
    EXPECT_LT(lastAsphalt, firstKerb);
}

// What a viewer sees at a point of the map from above: the last triangle drawn over it.
Surface SurfaceAt(const TrackMesh& m, double x, double y) {
    Surface seen = Surface::Other;
    for (const MeshObject& o : m.objects) {
        const double dx = x - o.centre.x, dy = y - o.centre.y;
        if (dx * dx + dy * dy > o.radius * o.radius) continue;
        for (const MeshTriangle& tri : o.triangles) {
            const MeshVertex* v[3] = {&o.vertices[tri.index[0]], &o.vertices[tri.index[1]],
                                      &o.vertices[tri.index[2]]};
            bool inside = true;
            for (int e = 0; e < 3 && inside; ++e) {
                const MeshVertex& a = *v[e];
                const MeshVertex& b = *v[(e + 1) % 3];
                inside = (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x) >= 0;
            }
            if (inside) seen = SurfaceOf(v[0]->colour);
        }
    }
    return seen;
}

TEST(BuildDemoTrackMesh, ShowsAsphaltKerbsGravelAndGrassWhereTheyBelong) {
    const test::SharedDemoData& d = SharedDemo();
    const DemoTrack& t = d.set.track;
    const auto at = [&](double s, double offset) {
        const DemoTrackPoint p = CentreLineAt(t, s);
        return SurfaceAt(d.mesh, p.position.x + offset * p.left.x,
                         p.position.y + offset * p.left.y);
    };
    for (double s = 20; s < t.length; s += 97) {
        EXPECT_EQ(at(s, 0.3), Surface::Asphalt) << "centre at " << s;
    }
    EXPECT_EQ(at(200, t.halfWidth + 10), Surface::Grass);
    EXPECT_EQ(at(200, -t.halfWidth - 10), Surface::Grass);
    const Surface line = at(0, 0.5);
    EXPECT_TRUE(line == Surface::White || line == Surface::Black);
    for (const DemoCorner& c : t.corners) {
        const Surface kerb = at(c.apex, c.direction * (t.halfWidth + 0.5));
        EXPECT_TRUE(kerb == Surface::Red || kerb == Surface::White) << c.name;
        if (c.fast) {
            EXPECT_EQ(at(c.apex, -c.direction * (t.halfWidth + 15)), Surface::Sand) << c.name;
        }
    }
}

TEST(BuildDemoTrackMesh, DenserMeshScalesTheTriangleCount) {
    const DemoTrack& t = SharedDemo().set.track;
    std::size_t base = 0;
    for (const MeshObject& o : SharedDemo().mesh.objects) base += o.triangles.size();
    const TrackMesh dense = BuildDemoTrackMesh(t, 3.0);
    std::size_t many = 0;
    for (const MeshObject& o : dense.objects) {
        ASSERT_LE(o.vertices.size(), 65536u);
        many += o.triangles.size();
    }
    EXPECT_GT(many, 2.7 * base);
    EXPECT_LT(many, 3.3 * base);
}

TEST(BuildDemoSegments, OneMarkerPerComplexOnTheCentreLineAndAcrossIt) {
    const test::SharedDemoData& d = SharedDemo();
    ASSERT_TRUE(d.segmentsLoaded);
    const DemoTrack& t = d.set.track;
    const TrackSegmentFile& f = d.segments;
    ASSERT_EQ(f.MarkerCount(), t.complexes.size());
    std::set<std::string> names;
    double previous = 0;
    for (std::size_t m = 0; m < f.records.size(); ++m) {
        const SegmentMarkerRecord& r = f.records[m];
        const DemoComplex& complex = t.complexes[m];
        names.insert(std::string(r.Name()));
        EXPECT_EQ(r.Name(), complex.name);
        EXPECT_GT(r.markerDistance, previous) << r.Name();
        previous = r.markerDistance;
        // Before the complex it names, after the one before it.
        EXPECT_LT(r.markerDistance, t.corners[complex.corners.front()].start) << r.Name();
        if (m > 0) {
            EXPECT_GT(r.markerDistance, t.corners[t.complexes[m - 1].corners.back()].end)
                << r.Name();
        }
        const DemoTrackPoint p = CentreLineAt(t, r.markerDistance);
        EXPECT_LT(Hypot2(r.position.x - p.position.x, r.position.y - p.position.y), 0.05)
            << r.Name();
        EXPECT_NEAR(r.position.z, p.position.z, 0.05) << r.Name();
        // The track passes the marker along (cos a, -sin a); the line spans the asphalt.
        const double along = std::cos(r.heading) * p.tangent.x - std::sin(r.heading) * p.tangent.y;
        EXPECT_GT(along, 0.999) << r.Name();
        EXPECT_GE(r.width, 2 * t.halfWidth) << r.Name();
        EXPECT_LT(r.width, 2 * t.halfWidth + 6) << r.Name();
    }
    EXPECT_EQ(names.size(), f.records.size());
}

TEST(WriteDemoDataSet, WritesTheFoldersTheCatalogueAndTheReplaySetRead) {
    const test::SharedDemoData& d = SharedDemo();
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("lapquill_demo_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::vector<DemoWrittenFile> written;
    std::string error;
    ASSERT_TRUE(WriteDemoDataSet(d.set, dir.string(), &written, &error)) << error;
    EXPECT_EQ(written.size(), 2 + d.set.laps.size());
    const std::string track = d.set.track.name;
    const auto smx = dir / "data" / "smx";
    TrackCatalogue catalogue;
    BuildTrackCatalogueFrom(smx.string(), &catalogue);
    ASSERT_EQ(catalogue.entries.size(), 1u);
    EXPECT_EQ(catalogue.entries[0].TrackName(), track);
    TrackSegmentFile segments;
    EXPECT_TRUE(LoadTrackSegmentFile((smx / (track + " " + d.set.track.config + ".tsf")).string(),
                                     &segments));
    for (const DemoLap& lap : d.set.laps) {
        ReplayFile f;
        EXPECT_TRUE(LoadReplayFile((dir / "data" / "raf" / lap.fileName).string(), &f))
            << lap.fileName;
        EXPECT_EQ(f.RecordCount(), lap.replay.RecordCount());
    }
    // A folder that cannot be created is reported with its path.
    const auto blocker = dir / "blocker";
    std::ofstream(blocker.string()) << "x";
    written.clear();
    EXPECT_FALSE(WriteDemoDataSet(d.set, blocker.string(), &written, &error));
    EXPECT_NE(error.find("blocker"), std::string::npos) << error;
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace lapquill
