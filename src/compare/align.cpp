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

struct PathVertex {
    double x, y;  // m
    double c;     // m, the reference coordinate here
};

struct Match {
    double distance2;  // m^2 from the record to the path
    double c;          // m, the coordinate there
};

class ReferencePath {
  public:
    ReferencePath(const ReplayFile& reference, std::span<const double> coordinate) {
        for (std::size_t i = 0; i < reference.records.size(); ++i) {
            const Vector3& p = reference.records[i].position;
            if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
            // A car standing still adds no piece; the point keeps where the lap first got to.
            if (!v_.empty() && v_.back().x == p.x && v_.back().y == p.y) continue;
            v_.push_back({p.x, p.y, coordinate[i]});
        }
        if (v_.size() >= 2) {
            startRate_ = Rate(0);
            endRate_ = Rate(v_.size() - 2);
        }
    }

    bool Empty() const { return v_.empty(); }
    std::size_t Pieces() const { return v_.empty() ? 0 : v_.size() - 1; }
    double OnlyPoint() const { return v_.front().c; }

    // The nearest point of piece p to (x, y); the first piece reaches back without end, the
    // last one forward.
    Match Nearest(std::size_t p, double x, double y) const {
        const PathVertex& a = v_[p];
        const PathVertex& b = v_[p + 1];
        const double dx = b.x - a.x, dy = b.y - a.y;
        double t = ((x - a.x) * dx + (y - a.y) * dy) / (dx * dx + dy * dy);
        double c;
        if (t < 0.0 && p == 0) {
            c = a.c + t * std::sqrt(dx * dx + dy * dy) * startRate_;
        } else if (t > 1.0 && p + 2 == v_.size()) {
            c = b.c + (t - 1.0) * std::sqrt(dx * dx + dy * dy) * endRate_;
        } else {
            t = std::fmin(std::fmax(t, 0.0), 1.0);
            c = a.c + t * (b.c - a.c);
        }
        const double ex = a.x + t * dx - x, ey = a.y + t * dy - y;
        return {ex * ex + ey * ey, c};
    }

  private:
    // Coordinate per metre of path along piece p, for the lines beyond the ends; a piece whose
    // coordinate does not rise counts metres of path.
    double Rate(std::size_t p) const {
        const double dx = v_[p + 1].x - v_[p].x, dy = v_[p + 1].y - v_[p].y;
        const double dc = v_[p + 1].c - v_[p].c;
        return dc > 0.0 ? dc / std::sqrt(dx * dx + dy * dy) : 1.0;
    }

    std::vector<PathVertex> v_;
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
        c[i] = best.c;
    }
    MakeRising(&c);
    return c;
}

}  // namespace lapquill
