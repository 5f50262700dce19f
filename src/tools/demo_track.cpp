#include "tools/demo_track.h"

#include "tools/data_writers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <numbers>
#include <utility>

namespace lapquill {

namespace {

constexpr double kPi = std::numbers::pi;

// The circuit as a turtle drives it: straights and constant-radius arcs. Arcs carry the
// corner they belong to; the two straights marked adjustable absorb the closing error.
struct Piece {
    double length;    // m of a straight, or radius of an arc
    double degrees;   // 0 for a straight; positive turning left
    int corner;       // index into kCornerDefs, -1 for a straight
    bool adjustable;  // straight whose length closes the loop
};

// The corners in lap order; corner c is named T<c + 1>. A corner either opens a complex, which
// it names, or joins the complex of the corner before it.
struct CornerDef {
    DemoCornerKind kind;
    const char* opensComplex;  // the complex's name; null to join the one before
};

constexpr std::array<CornerDef, 13> kCornerDefs = {{
    {DemoCornerKind::Medium, "T1 Millrace"},
    {DemoCornerKind::Chicane, "T2-3 Chicane"},
    {DemoCornerKind::Chicane, nullptr},
    {DemoCornerKind::Sweeper, "T4 Orchard"},
    {DemoCornerKind::DoubleApex, "T5 Twin Oaks"},
    {DemoCornerKind::Hairpin, "T6 Hairpin"},
    {DemoCornerKind::Medium, "T7 Chapel"},
    {DemoCornerKind::Sweeper, "T8 Ridge"},
    {DemoCornerKind::Medium, "T9 Lantern"},
    {DemoCornerKind::Kink, "T10 Kink"},
    {DemoCornerKind::Medium, "T11 Quarry"},
    {DemoCornerKind::Medium, "T12 Fernside"},
    {DemoCornerKind::Medium, "T13 Home"},
}};

// Lap distance 0 is the start-finish line, part way down the main straight.
constexpr double kScale = 1.08;
constexpr std::array<Piece, 30> kPieces = {{
    {520, 0, -1, false}, {28, 90, 0, false},   {150, 0, -1, false}, {24, -40, 1, false},
    {12, 0, -1, false},  {24, 40, 2, false},   {260, 0, -1, false}, {170, 55, 3, false},
    {160, 0, -1, false}, {45, 55, 4, false},   {40, 0, 4, false},   {45, 55, 4, false},
    {200, 0, -1, false}, {17, -165, 5, false}, {170, 0, -1, false}, {60, 80, 6, false},
    {120, 0, -1, false}, {110, -50, 7, false}, {150, 0, -1, false}, {38, 95, 8, false},
    {230, 0, -1, false}, {200, 40, 9, false},  {200, 0, -1, false}, {35, 80, 10, false},
    {150, 0, -1, false}, {50, -70, 11, false}, {270, 0, -1, true},  {45, 95, 12, false},
    {255, 0, -1, true},  {0, 0, -1, false},
}};
constexpr int kPieceCount = 29;  // the last entry is padding

// Corner transitions: the piecewise-constant curvature is smoothed twice with a box of this
// width, giving spiral-like entries and exits.
constexpr double kSmoothing = 16.0;  // m

double PieceLength(const Piece& p, double extra) {
    if (p.degrees == 0) return p.length * kScale + extra;
    return p.length * kScale * std::abs(p.degrees) * kPi / 180.0;
}

double PieceCurvature(const Piece& p) {
    if (p.degrees == 0) return 0.0;
    return (p.degrees > 0 ? 1.0 : -1.0) / (p.length * kScale);
}

// Integral of the curvature of the piece list from 0 to s.
struct RawLayout {
    std::vector<double> starts;  // m, start of each piece
    double length = 0;
};

RawLayout Lay(const std::array<double, 2>& extra) {
    RawLayout r;
    int adj = 0;
    for (int i = 0; i < kPieceCount; ++i) {
        r.starts.push_back(r.length);
        const double e = kPieces[i].adjustable ? extra[adj++] : 0.0;
        r.length += PieceLength(kPieces[i], e);
    }
    r.starts.push_back(r.length);
    return r;
}

// Average curvature of the raw layout over [a, b].
double CellCurvature(const RawLayout& r, double a, double b) {
    double sum = 0;
    for (int i = 0; i < kPieceCount; ++i) {
        const double lo = std::max(a, r.starts[i]);
        const double hi = std::min(b, r.starts[i + 1]);
        if (hi > lo) sum += (hi - lo) * PieceCurvature(kPieces[i]);
    }
    return sum / (b - a);
}

void BoxSmoothCircular(std::vector<double>* v, int half) {
    const int n = static_cast<int>(v->size());
    std::vector<double> out(v->size());
    double window = 0;
    for (int k = -half; k <= half; ++k) window += (*v)[((k % n) + n) % n];
    for (int i = 0; i < n; ++i) {
        out[i] = window / (2 * half + 1);
        window += (*v)[(i + half + 1) % n] - (*v)[((i - half) % n + n) % n];
    }
    *v = std::move(out);
}

// Position change over one sample when the heading is h0 + k0 e + (k1 - k0) e^2 / (2 step).
std::pair<double, double> StepDisplacement(double h0, double k0, double k1, double step, double e) {
    // Three-point Gauss-Legendre over [0, e]: exact enough that sub-millimetre errors never
    // show up in accelerations taken from second differences.
    static constexpr double kNodes[3] = {-0.7745966692414834, 0.0, 0.7745966692414834};
    static constexpr double kWeights[3] = {5.0 / 9.0, 8.0 / 9.0, 5.0 / 9.0};
    double dx = 0, dy = 0;
    for (int q = 0; q < 3; ++q) {
        const double t = 0.5 * e * (kNodes[q] + 1.0);
        const double h = h0 + k0 * t + (k1 - k0) * t * t / (2 * step);
        dx += kWeights[q] * std::cos(h);
        dy += kWeights[q] * std::sin(h);
    }
    return {0.5 * e * dx, 0.5 * e * dy};
}

void Integrate(DemoTrack* t) {
    const int n = static_cast<int>(t->curvature.size());
    t->x.assign(n + 1, 0);
    t->y.assign(n + 1, 0);
    t->heading.assign(n + 1, 0);
    for (int i = 0; i < n; ++i) {
        const double k0 = t->curvature[i], k1 = t->curvature[(i + 1) % n];
        const auto [dx, dy] = StepDisplacement(t->heading[i], k0, k1, t->step, t->step);
        t->x[i + 1] = t->x[i] + dx;
        t->y[i + 1] = t->y[i] + dy;
        t->heading[i + 1] = t->heading[i] + 0.5 * (k0 + k1) * t->step;
    }
}

void BuildCentreLine(const std::array<double, 2>& extra, DemoTrack* t, RawLayout* layout) {
    *layout = Lay(extra);
    const int n = static_cast<int>(std::lround(layout->length));
    t->length = layout->length;
    t->step = t->length / n;
    t->curvature.resize(n);
    for (int i = 0; i < n; ++i) {
        t->curvature[i] = CellCurvature(*layout, (i - 0.5) * t->step, (i + 0.5) * t->step);
    }
    // The first cell straddles the lap start; its left half lies at the end of the lap,
    // which is straight, so the average above is already right.
    const int half = static_cast<int>(std::lround(kSmoothing / t->step / 2));
    BoxSmoothCircular(&t->curvature, half);
    BoxSmoothCircular(&t->curvature, half);
    // Force the heading to close at exactly one turn.
    double total = 0;
    for (double k : t->curvature) total += k * t->step;
    for (double& k : t->curvature) k *= 2 * kPi / total;
    Integrate(t);
}

// The racing line: among all paths within the usable width, the one whose summed squared
// curvature is least. Solved by coordinate descent on the offsets (each step minimises the
// squared second differences exactly for one offset, then clamps it to the width), first on
// a coarse grid where long waves settle quickly, then refined grid by grid.
void SolveRacingLine(DemoTrack* t) {
    const double limit = t->halfWidth - t->lineMargin;
    std::vector<double> d;
    const int levels[4] = {32, 16, 8, 4};  // m between offsets
    const int sweeps[4] = {3000, 1500, 800, 400};
    for (int level = 0; level < 4; ++level) {
        const int n = static_cast<int>(std::lround(t->length / levels[level]));
        const double h = t->length / n;
        std::vector<DemoTrackPoint> c(n);
        for (int i = 0; i < n; ++i) c[i] = CentreLineAt(*t, i * h);
        if (d.empty()) {
            d.assign(n, 0.0);
        } else {
            // Refine: the previous grid had half as many offsets.
            std::vector<double> finer(n);
            const int m = static_cast<int>(d.size());
            for (int i = 0; i < n; ++i) {
                const double x = static_cast<double>(i) * m / n;
                const int a = static_cast<int>(x);
                finer[i] = d[a % m] + (d[(a + 1) % m] - d[a % m]) * (x - a);
            }
            d = std::move(finer);
        }
        const auto point = [&](int i, double* px, double* py) {
            const int k = ((i % n) + n) % n;
            *px = c[k].position.x + d[k] * c[k].left.x;
            *py = c[k].position.y + d[k] * c[k].left.y;
        };
        for (int sweep = 0; sweep < sweeps[level]; ++sweep) {
            double moved = 0;
            for (int i = 0; i < n; ++i) {
                double x[5], y[5];
                for (int k = 0; k < 5; ++k) point(i + k - 2, &x[k], &y[k]);
                // Gradient of the three second differences that contain point i.
                const double gx = x[0] - 4 * x[1] + 6 * x[2] - 4 * x[3] + x[4];
                const double gy = y[0] - 4 * y[1] + 6 * y[2] - 4 * y[3] + y[4];
                const double step = (gx * c[i].left.x + gy * c[i].left.y) / 6.0;
                const double next = std::clamp(d[i] - step, -limit, limit);
                moved = std::max(moved, std::abs(next - d[i]));
                d[i] = next;
            }
            if (moved < 1e-5) break;  // settled to a hundredth of a millimetre
        }
    }
    t->lineStep = t->length / static_cast<double>(d.size());
    t->line = std::move(d);
}

}  // namespace

double RacingLineAt(const DemoTrack& track, double s) {
    const int n = static_cast<int>(track.line.size());
    double x = std::fmod(s, track.length);
    if (x < 0) x += track.length;
    x /= track.lineStep;
    const int i = std::min(static_cast<int>(x), n - 1);
    const double f = x - i;
    const double p0 = track.line[(i + n - 1) % n], p1 = track.line[i];
    const double p2 = track.line[(i + 1) % n], p3 = track.line[(i + 2) % n];
    // Catmull-Rom: continuous slope, so the line's curvature has no spikes.
    return 0.5 * ((2 * p1) + (-p0 + p2) * f + (2 * p0 - 5 * p1 + 4 * p2 - p3) * f * f +
                  (-p0 + 3 * p1 - 3 * p2 + p3) * f * f * f);
}

DemoTrack BuildDemoTrack() {
    DemoTrack t;
    t.name = "Ashvale Park";
    t.config = "Full Circuit";
    RawLayout layout;
    // Close the loop: two straights running in different directions change length until
    // the last sample lands on the first. The end point is linear in each length, so a few
    // Newton steps with a numerical Jacobian converge to well below a millimetre.
    std::array<double, 2> extra{0, 0};
    for (int iter = 0; iter < 4; ++iter) {
        BuildCentreLine(extra, &t, &layout);
        const double ex = t.x.back() - t.x.front(), ey = t.y.back() - t.y.front();
        double j[2][2];
        for (int a = 0; a < 2; ++a) {
            DemoTrack probe;
            RawLayout l2;
            auto e2 = extra;
            e2[a] += 1.0;
            BuildCentreLine(e2, &probe, &l2);
            j[0][a] = (probe.x.back() - probe.x.front()) - ex;
            j[1][a] = (probe.y.back() - probe.y.front()) - ey;
        }
        const double det = j[0][0] * j[1][1] - j[0][1] * j[1][0];
        extra[0] -= (j[1][1] * ex - j[0][1] * ey) / det;
        extra[1] -= (-j[1][0] * ex + j[0][0] * ey) / det;
    }
    BuildCentreLine(extra, &t, &layout);
    // Spread what is left of the closing error (well under a millimetre) along the lap, then
    // centre the circuit on the origin so that single-precision positions stay fine-grained.
    const int n = static_cast<int>(t.curvature.size());
    const double ex = t.x[n] - t.x[0], ey = t.y[n] - t.y[0];
    double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
    for (int i = 0; i <= n; ++i) {
        t.x[i] -= ex * i / n;
        t.y[i] -= ey * i / n;
        minX = std::min(minX, t.x[i]);
        maxX = std::max(maxX, t.x[i]);
        minY = std::min(minY, t.y[i]);
        maxY = std::max(maxY, t.y[i]);
    }
    const double cx = std::round(0.5 * (minX + maxX)), cy = std::round(0.5 * (minY + maxY));
    for (int i = 0; i <= n; ++i) {
        t.x[i] -= cx;
        t.y[i] -= cy;
    }

    // Corners: each spans its arcs widened by the smoothing, apex where the curvature peaks.
    std::map<int, std::pair<double, double>> spans;
    for (int i = 0; i < kPieceCount; ++i) {
        const int c = kPieces[i].corner;
        if (c < 0) continue;
        auto it = spans.find(c);
        if (it == spans.end()) {
            spans[c] = {layout.starts[i], layout.starts[i + 1]};
        } else {
            it->second.second = layout.starts[i + 1];
        }
    }
    for (const auto& [c, span] : spans) {
        DemoCorner corner;
        // Appended rather than "T" + ...: GCC 12 at -O3 sees a false overlap in operator+.
        corner.name = "T";
        corner.name += std::to_string(c + 1);
        corner.kind = kCornerDefs[c].kind;
        corner.start = span.first - kSmoothing;
        corner.end = span.second + kSmoothing;
        int best = 0;
        for (int i = 0; i < n; ++i) {
            const double s = i * t.step;
            if (s < corner.start || s > corner.end) continue;
            if (std::abs(t.curvature[i]) > std::abs(t.curvature[best])) best = i;
        }
        corner.apex = best * t.step;
        corner.peakCurvature = std::abs(t.curvature[best]);
        corner.direction = t.curvature[best] > 0 ? 1 : -1;
        corner.fast = corner.kind == DemoCornerKind::Sweeper || corner.kind == DemoCornerKind::Kink;
        if (const char* complex = kCornerDefs[c].opensComplex) t.complexes.push_back({complex, {}});
        t.complexes.back().corners.push_back(static_cast<int>(t.corners.size()));
        t.corners.push_back(corner);
    }
    // Sectors end half way down the straights after T5 and after T10.
    const auto mid = [&](int corner) {
        return 0.5 * (t.corners[corner].end + t.corners[corner + 1].start);
    };
    t.sectorEnds = {mid(4), mid(10)};
    SolveRacingLine(&t);
    return t;
}

double ElevationAt(const DemoTrack& track, double s) {
    const double u = 2 * kPi * s / track.length;
    return 7.0 * std::sin(u + 0.6) + 3.0 * std::sin(2 * u + 2.1) + 1.2 * std::sin(5 * u + 0.3);
}

DemoTrackPoint CentreLineAt(const DemoTrack& track, double s) {
    s = std::fmod(s, track.length);
    if (s < 0) s += track.length;
    const int n = static_cast<int>(track.curvature.size());
    int i = std::min(static_cast<int>(s / track.step), n - 1);
    const double e = s - i * track.step;
    const double k0 = track.curvature[i], k1 = track.curvature[(i + 1) % n];
    const auto [dx, dy] = StepDisplacement(track.heading[i], k0, k1, track.step, e);
    DemoTrackPoint p;
    p.heading = track.heading[i] + k0 * e + (k1 - k0) * e * e / (2 * track.step);
    p.curvature = k0 + (k1 - k0) * e / track.step;
    p.position = {track.x[i] + dx, track.y[i] + dy, ElevationAt(track, s)};
    const double u = 2 * kPi / track.length;
    const double w = 2 * kPi * s / track.length;
    p.slope =
        u * (7.0 * std::cos(w + 0.6) + 6.0 * std::cos(2 * w + 2.1) + 6.0 * std::cos(5 * w + 0.3));
    p.tangent = {std::cos(p.heading), std::sin(p.heading), 0};
    p.left = {-std::sin(p.heading), std::cos(p.heading), 0};
    return p;
}

// ---------------------------------------------------------------------------------------
// Mesh

namespace {

enum Layer { kGrass, kGravel, kRunOff, kAsphalt, kLines, kKerbs, kStartLine, kLayerCount };

// Height of each layer above the road surface: lines and kerbs sit a few centimetres above
// the asphalt, the ground below it.
constexpr double kLayerLift[kLayerCount] = {-0.06, -0.04, -0.03, 0.0, 0.02, 0.04, 0.03};

constexpr double kStretch = 200.0;         // m of lap per mesh object
constexpr int kMaxQuadsPerObject = 16000;  // 64 000 vertices, below the 16-bit index limit

struct Station {
    double s;
    DemoTrackPoint p;
    double leftLimit, rightLimit;  // m: offsets beyond these fold over inside a bend
};

std::uint32_t Shade(std::uint32_t colour, int delta) {
    std::uint32_t out = colour & 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8) {
        const int c = static_cast<int>((colour >> shift) & 0xFF) + delta;
        out |= static_cast<std::uint32_t>(std::clamp(c, 0, 255)) << shift;
    }
    return out;
}

// Small deterministic variation so that large surfaces do not look flat.
int Grain(int a, int b, int amplitude) {
    std::uint32_t h =
        static_cast<std::uint32_t>(a) * 2654435761u ^ static_cast<std::uint32_t>(b) * 40503u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return static_cast<int>(h % static_cast<std::uint32_t>(2 * amplitude + 1)) - amplitude;
}

class MeshBuilder {
  public:
    MeshBuilder(const DemoTrack& track, double density) : track_(track) {
        const double spacing = 2.0 / std::max(density, 0.05);
        const int m = std::max(64, static_cast<int>(std::ceil(track.length / spacing)));
        stations_.resize(m + 1);
        for (int j = 0; j <= m; ++j) {
            Station& st = stations_[j];
            st.s = track.length * j / m;
            st.p = CentreLineAt(track, st.s);
            const double k = st.p.curvature;
            st.leftLimit = k > 1e-6 ? 0.85 / k : 1e9;
            st.rightLimit = k < -1e-6 ? 0.85 / -k : 1e9;
        }
    }

    int StationCount() const { return static_cast<int>(stations_.size()) - 1; }
    double StationS(int j) const { return stations_[j].s; }

    // A band between lateral offsets d0 < d1 (positive to the left) over stations
    // [j0, j1), each quad coloured by colourOf(station index, quad midpoint distance).
    template <typename ColourFn>
    void Band(Layer layer, double d0, double d1, int j0, int j1, ColourFn colourOf) {
        for (int j = std::max(j0, 0); j < std::min(j1, StationCount()); ++j) {
            const Station& a = stations_[j];
            const Station& b = stations_[j + 1];
            const double a0 = Clamp(a, d0), a1 = Clamp(a, d1);
            const double b0 = Clamp(b, d0), b1 = Clamp(b, d1);
            if (a1 - a0 < 0.05 || b1 - b0 < 0.05) continue;
            Quad(layer, 0.5 * (a.s + b.s), Offset(a, a0, layer), Offset(b, b0, layer),
                 Offset(b, b1, layer), Offset(a, a1, layer), colourOf(j, 0.5 * (a.s + b.s)));
        }
    }

    // Stations whose distance lies in [from, to).
    std::pair<int, int> Range(double from, double to) const {
        const double spacing = track_.length / StationCount();
        return {static_cast<int>(std::ceil(from / spacing)),
                static_cast<int>(std::ceil(to / spacing))};
    }

    // A quad given by its four corners, counter-clockwise seen from above.
    void Quad(Layer layer, double s, DemoVec3 p0, DemoVec3 p1, DemoVec3 p2, DemoVec3 p3,
              std::uint32_t colour) {
        auto& bucket = buckets_[{layer, static_cast<int>(s / kStretch)}];
        if (bucket.empty() || bucket.back().triangles.size() >= 2 * kMaxQuadsPerObject) {
            bucket.emplace_back();
        }
        MeshObject& o = bucket.back();
        const auto base = static_cast<std::uint16_t>(o.vertices.size());
        for (const DemoVec3& p : {p0, p1, p2, p3}) {
            o.vertices.push_back({static_cast<float>(p.x), static_cast<float>(p.y),
                                  static_cast<float>(p.z), colour});
        }
        o.triangles.push_back(
            {{base, static_cast<std::uint16_t>(base + 1), static_cast<std::uint16_t>(base + 2)}});
        o.triangles.push_back(
            {{base, static_cast<std::uint16_t>(base + 2), static_cast<std::uint16_t>(base + 3)}});
    }

    // Objects in drawing order: layer by layer, and along the lap within a layer.
    std::vector<MeshObject> Finish() {
        std::vector<MeshObject> out;
        for (auto& [key, objects] : buckets_) {
            for (auto& o : objects) {
                Bound(&o);
                out.push_back(std::move(o));
            }
        }
        return out;
    }

  private:
    static double Clamp(const Station& st, double d) {
        return d > 0 ? std::min(d, st.leftLimit) : std::max(d, -st.rightLimit);
    }
    static DemoVec3 Offset(const Station& st, double d, Layer layer) {
        return {st.p.position.x + d * st.p.left.x, st.p.position.y + d * st.p.left.y,
                st.p.position.z + kLayerLift[layer]};
    }
    static void Bound(MeshObject* o) {
        float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
        for (const auto& v : o->vertices) {
            const float c[3] = {v.x, v.y, v.z};
            for (int a = 0; a < 3; ++a) {
                lo[a] = std::min(lo[a], c[a]);
                hi[a] = std::max(hi[a], c[a]);
            }
        }
        o->centre = {0.5f * (lo[0] + hi[0]), 0.5f * (lo[1] + hi[1]), 0.5f * (lo[2] + hi[2])};
        float r2 = 0;
        for (const auto& v : o->vertices) {
            const float dx = v.x - o->centre.x, dy = v.y - o->centre.y, dz = v.z - o->centre.z;
            r2 = std::max(r2, dx * dx + dy * dy + dz * dz);
        }
        // A little slack so that the radius still covers every vertex after fixed point.
        o->radius = std::sqrt(r2) + 0.01f;
        o->vertexCount = static_cast<std::int32_t>(o->vertices.size());
        o->triangleCount = static_cast<std::int32_t>(o->triangles.size());
    }

    const DemoTrack& track_;
    std::vector<Station> stations_;
    std::map<std::pair<int, int>, std::vector<MeshObject>> buckets_;
};

constexpr std::uint32_t kGrassA = 0xFF3F7C34, kGrassB = 0xFF48883B;
constexpr std::uint32_t kGravelColour = 0xFFCDB98F;
constexpr std::uint32_t kRunOffColour = 0xFF6C7076;
constexpr std::uint32_t kAsphaltColour = 0xFF4B4E53;
constexpr std::uint32_t kLine = 0xFFEDEDED;
constexpr std::uint32_t kKerbRed = 0xFFCC2222, kKerbWhite = 0xFFF2F2F2;

}  // namespace

TrackMesh BuildDemoTrackMesh(const DemoTrack& track, double density) {
    MeshBuilder b(track, density);
    const int all = b.StationCount();
    const double w = track.halfWidth;

    // Grass either side, in three bands with mown stripes across the lap.
    const double grass[4] = {w, 16, 28, 40};
    for (int band = 0; band < 3; ++band) {
        for (int side : {1, -1}) {
            const double d0 = side > 0 ? grass[band] : -grass[band + 1];
            const double d1 = side > 0 ? grass[band + 1] : -grass[band];
            b.Band(kGrass, d0, d1, 0, all, [&](int j, double s) {
                const std::uint32_t c = static_cast<int>(s / 12.0) % 2 ? kGrassA : kGrassB;
                return Shade(c, Grain(j, band * 2 + side, 3) - 2 * band);
            });
        }
    }

    for (const DemoCorner& c : track.corners) {
        const int outside = -c.direction;
        const auto side = [&](double d0, double d1) {
            return outside > 0 ? std::pair{d0, d1} : std::pair{-d1, -d0};
        };
        if (c.fast) {
            // Fast corners: a strip of tarmac, then a gravel trap on the outside.
            auto [j0, j1] = b.Range(c.start - 20, c.end + 70);
            auto [g0, g1] = side(w + 3, w + 24);
            b.Band(kGravel, g0, g1, j0, j1,
                   [&](int j, double) { return Shade(kGravelColour, Grain(j, 7, 6)); });
            auto [r0, r1] = side(w, w + 3);
            b.Band(kRunOff, r0, r1, j0, j1, [&](int, double) { return kRunOffColour; });
        } else {
            // Slow corners: a wide tarmac run-off on the outside.
            auto [j0, j1] = b.Range(c.start - 10, c.end + 50);
            auto [r0, r1] = side(w, w + 16);
            b.Band(kRunOff, r0, r1, j0, j1,
                   [&](int j, double) { return Shade(kRunOffColour, Grain(j, 9, 2)); });
        }
    }

    // Asphalt in four lanes, each quad slightly different so the surface has some grain.
    for (int lane = 0; lane < 4; ++lane) {
        const double d0 = -w + lane * w / 2, d1 = d0 + w / 2;
        b.Band(kAsphalt, d0, d1, 0, all,
               [&](int j, double) { return Shade(kAsphaltColour, Grain(j, lane, 3)); });
    }
    b.Band(kLines, w - 0.45, w - 0.15, 0, all, [](int, double) { return kLine; });
    b.Band(kLines, -w + 0.15, -w + 0.45, 0, all, [](int, double) { return kLine; });

    // Kerbs: on the inside where the corner is tightest, and on the outside at its exit.
    const auto kerbColour = [](int, double s) {
        return static_cast<int>(s / 2.0) % 2 ? kKerbRed : kKerbWhite;
    };
    for (const DemoCorner& c : track.corners) {
        double from = c.apex, to = c.apex;
        for (double s = c.start; s <= c.end; s += 1.0) {
            if (std::abs(CentreLineAt(track, s).curvature) >= 0.6 * c.peakCurvature) {
                from = std::min(from, s);
                to = std::max(to, s);
            }
        }
        auto [j0, j1] = b.Range(from, to + 1);
        if (c.direction > 0) {
            b.Band(kKerbs, w - 0.1, w + 1.2, j0, j1, kerbColour);
        } else {
            b.Band(kKerbs, -w - 1.2, -w + 0.1, j0, j1, kerbColour);
        }
        auto [k0, k1] = b.Range(0.5 * (c.apex + c.end), c.end + 15);
        if (c.direction > 0) {
            b.Band(kKerbs, -w - 1.0, -w + 0.1, k0, k1, kerbColour);
        } else {
            b.Band(kKerbs, w - 0.1, w + 1.0, k0, k1, kerbColour);
        }
    }

    // The start-finish line: two rows of black and white squares across the track.
    const DemoTrackPoint p = CentreLineAt(track, 0.0);
    const double lift = kLayerLift[kStartLine];
    for (int row = 0; row < 2; ++row) {
        for (int col = 0; col < 12; ++col) {
            const double d0 = -w + col * w / 6, d1 = d0 + w / 6;
            const double s0 = -0.5 + row * 0.5, s1 = s0 + 0.5;
            const auto at = [&](double s, double d) {
                return DemoVec3{p.position.x + s * p.tangent.x + d * p.left.x,
                                p.position.y + s * p.tangent.y + d * p.left.y, p.position.z + lift};
            };
            b.Quad(kStartLine, 0.0, at(s0, d0), at(s1, d0), at(s1, d1), at(s0, d1),
                   (row + col) % 2 ? 0xFF1A1A1A : 0xFFF5F5F5);
        }
    }

    TrackMesh mesh;
    const std::uint32_t bg = track.backgroundColour;
    mesh.header =
        BuildTrackMeshHeader(track.name, static_cast<std::uint8_t>(bg >> 16),
                             static_cast<std::uint8_t>(bg >> 8), static_cast<std::uint8_t>(bg));
    mesh.objects = b.Finish();
    return mesh;
}

}  // namespace lapquill
