// Position alignment: each record of a lap is matched to the nearest point of the reference
// lap's path in X and Y and takes that point's reference coordinate. The match is searched
// near the previous record's, so a path that passes close to itself (the start and finish,
// a hairpin beside a straight) never makes it jump; the whole lap costs time linear in its
// records. The path goes on beyond its ends along its first and last piece.
#include <cmath>
#include <limits>

#include "compare/compare.h"

namespace lapquill {

namespace {

// How many pieces past the best match so far are still tried, ahead and behind, before the
// search stops: enough to cross a kink of the path or a few pieces the lap skips.
constexpr int kSearchAhead = 8;
constexpr int kSearchBehind = 3;

// A piece of the path from one vertex to the next, with what every match against it needs.
struct PathPiece {
    double ax, ay, ac;  // m: the first vertex and its reference coordinate
    double dx, dy;      // m: to the next vertex
    double bc;          // m: the next vertex's reference coordinate
    double length2;     // m^2, dx^2 + dy^2, never 0 (equal neighbours are dropped)
};

struct Match {
    double distance2;  // m^2 from the record to the path
    double t;          // where on the piece: 0 at its first vertex, 1 at the next
};

class ReferencePath {
  public:
    ReferencePath(const ReplayFile& reference, std::span<const double> coordinate) {
        bool any = false;
        double px = 0, py = 0, pc = 0;  // the last vertex kept
        for (std::size_t i = 0; i < reference.records.size(); ++i) {
            const Vector3& p = reference.records[i].position;
            if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
            const double x = p.x, y = p.y;
            if (!any) {
                any = true;
                onlyPoint_ = coordinate[i];
            } else if (px == x && py == y) {
                // A car standing still adds no piece; the point keeps where the lap first got to.
                continue;
            } else {
                const double dx = x - px, dy = y - py;
                pieces_.push_back({px, py, pc, dx, dy, coordinate[i], dx * dx + dy * dy});
            }
            px = x, py = y, pc = coordinate[i];
        }
        empty_ = !any;
        if (!pieces_.empty()) {
            startRate_ = Rate(pieces_.front());
            endRate_ = Rate(pieces_.back());
        }
    }

    bool Empty() const { return empty_; }
    std::size_t Pieces() const { return pieces_.size(); }
    double OnlyPoint() const { return onlyPoint_; }

    // The nearest point of piece p to (x, y); the first piece reaches back without end, the
    // last one forward. The distance alone: the coordinate is worked out for the winner only.
    Match Nearest(std::size_t p, double x, double y) const {
        const PathPiece& q = pieces_[p];
        double t = ((x - q.ax) * q.dx + (y - q.ay) * q.dy) / q.length2;
        const bool beyond = (t < 0.0 && p == 0) || (t > 1.0 && p + 1 == pieces_.size());
        if (!beyond) t = t < 0.0 ? 0.0 : (t > 1.0 ? 1.0 : t);
        const double ex = q.ax + t * q.dx - x, ey = q.ay + t * q.dy - y;
        return {ex * ex + ey * ey, t};
    }

    // The reference coordinate at a match on piece p.
    double CoordinateAt(std::size_t p, double t) const {
        const PathPiece& q = pieces_[p];
        if (t < 0.0) return q.ac + t * std::sqrt(q.length2) * startRate_;
        if (t > 1.0) return q.bc + (t - 1.0) * std::sqrt(q.length2) * endRate_;
        return q.ac + t * (q.bc - q.ac);
    }

  private:
    // Coordinate per metre of path along a piece, for the lines beyond the ends; a piece whose
    // coordinate does not rise counts metres of path.
    static double Rate(const PathPiece& q) {
        const double dc = q.bc - q.ac;
        return dc > 0.0 ? dc / std::sqrt(q.length2) : 1.0;
    }

    std::vector<PathPiece> pieces_;
    bool empty_ = true;
    double onlyPoint_ = 0;
    double startRate_ = 1.0, endRate_ = 1.0;
};

}  // namespace

std::vector<double> AlignByPosition(const ReplayFile& lap, const ReplayFile& reference,
                                    std::span<const double> referenceCoordinate) {
    const ReferencePath path(reference, referenceCoordinate);
    std::vector<double> c(lap.records.size(), referenceCoordinate.empty() ? 0.0 : referenceCoordinate[0]);
    if (path.Empty()) return c;
    if (path.Pieces() == 0) {
        std::fill(c.begin(), c.end(), path.OnlyPoint());
        return c;
    }
    const auto pieces = static_cast<std::ptrdiff_t>(path.Pieces());
    std::ptrdiff_t k = 0;  // the previous record's piece; the first record starts at the start
    for (std::size_t i = 0; i < lap.records.size(); ++i) {
        const Vector3& p = lap.records[i].position;
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
            c[i] = std::numeric_limits<double>::quiet_NaN();  // no rise, see MakeRising
            continue;
        }
        Match best = path.Nearest(static_cast<std::size_t>(k), p.x, p.y);
        std::ptrdiff_t bestPiece = k;
        // Walks one way from the previous piece until `limit` pieces in a row bring nothing nearer.
        auto search = [&](std::ptrdiff_t direction, int limit) {
            for (std::ptrdiff_t q = k + direction, misses = 0;
                 q >= 0 && q < pieces && misses < limit; q += direction) {
                const Match m = path.Nearest(static_cast<std::size_t>(q), p.x, p.y);
                if (m.distance2 < best.distance2) {
                    best = m;
                    bestPiece = q;
                    misses = 0;
                } else {
                    ++misses;
                }
            }
        };
        search(+1, kSearchAhead);
        search(-1, kSearchBehind);
        k = bestPiece;
        c[i] = path.CoordinateAt(static_cast<std::size_t>(k), best.t);
    }
    MakeRising(&c);
    return c;
}

}  // namespace lapquill
