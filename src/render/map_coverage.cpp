// Pixel estimates and budgets of the map's frame. See map_coverage.h.
#include "render/map_coverage.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "render/map_scene.h"

namespace lapquill {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

struct Clip {
    double x, y, z, w;
};

// The signed distances to the six sides of the clip volume; inside when all are >= 0.
constexpr int kSides = 6;
double SideDistance(int side, const Clip& c) {
    switch (side) {
        case 0: return c.w + c.x;
        case 1: return c.w - c.x;
        case 2: return c.w + c.y;
        case 3: return c.w - c.y;
        case 4: return c.z;
        default: return c.w - c.z;
    }
}

bool Inside(const Clip& c) {
    for (int side = 0; side < kSides; ++side) {
        if (SideDistance(side, c) < 0) return false;
    }
    return true;
}

// Twice the signed area of a polygon after the perspective divide (normalised device units).
double ProjectedDoubleArea(const Clip* polygon, int count) {
    double sum = 0;
    for (int i = 0; i < count; ++i) {
        const Clip& p = polygon[i];
        const Clip& q = polygon[(i + 1) % count];
        sum += (p.x / p.w) * (q.y / q.w) - (q.x / q.w) * (p.y / p.w);
    }
    return sum;
}

}  // namespace

std::vector<Vector3> ChunkAreaSums(std::span<const MapVertex> vertices) {
    return PerTriangleChunk<Vector3>(vertices, [](std::span<const MapVertex> chunk) -> Vector3 {
        constexpr float kInf = std::numeric_limits<float>::infinity();
        double sx = 0, sy = 0, sz = 0;
        for (std::size_t t = 0; t + 2 < chunk.size(); t += 3) {
            const MapVertex& a = chunk[t];
            const MapVertex& b = chunk[t + 1];
            const MapVertex& c = chunk[t + 2];
            const double ux = double{b.x} - a.x, uy = double{b.y} - a.y, uz = double{b.z} - a.z;
            const double vx = double{c.x} - a.x, vy = double{c.y} - a.y, vz = double{c.z} - a.z;
            sx += std::fabs(uy * vz - uz * vy) / 2;
            sy += std::fabs(uz * vx - ux * vz) / 2;
            sz += std::fabs(ux * vy - uy * vx) / 2;
        }
        // NaN or infinity anywhere makes the sums unusable; the batch is then measured triangle
        // by triangle.
        if (!std::isfinite(sx + sy + sz)) return {kInf, kInf, kInf};
        return {static_cast<float>(sx), static_cast<float>(sy), static_cast<float>(sz)};
    });
}

CoverageEstimator::CoverageEstimator(const Matrix4& viewProjection, std::int32_t width,
                                     std::int32_t height)
    : m_(viewProjection),
      screenPixels_(static_cast<double>(std::max(width, 1)) * std::max(height, 1)) {
    // The map from world vectors to the clip coordinates (x, y, w) is linear, L. It turns an
    // area vector A into cof(L) A, the cofactor matrix applied to it. Projected onto the plane
    // w = 1 a small patch at clip point q covers |cof(L) A . q| / w^3 there, and inside the view
    // |qx|, |qy| <= w, so at most |cof(L) A|_1 / w^2 <= sum_i |A_i| |column i of cof(L)|_1 / w^2.
    const auto& m = viewProjection.m;
    double L[3][3];
    const int rows[3] = {0, 1, 3};  // clip x, y and w
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) L[r][c] = m[c][rows[r]];
    }
    double cof[3][3];
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            const int r0 = (r + 1) % 3, r1 = (r + 2) % 3;
            const int c0 = (c + 1) % 3, c1 = (c + 2) % 3;
            // The cyclic order of the minor's rows and columns gives the cofactor's sign.
            cof[r][c] = L[r0][c0] * L[r1][c1] - L[r0][c1] * L[r1][c0];
        }
    }
    for (int c = 0; c < 3; ++c) {
        areaScale_[c] = std::fabs(cof[0][c]) + std::fabs(cof[1][c]) + std::fabs(cof[2][c]);
    }
}

double CoverageEstimator::BoundInBox(const MapExtent& box, const Vector3& areaSums) const {
    const auto& m = m_.m;
    double minW = kInfinity;
    for (int i = 0; i < 8; ++i) {
        const double x = (i & 1) ? box.max.x : box.min.x;
        const double y = (i & 2) ? box.max.y : box.min.y;
        const double z = (i & 4) ? box.max.z : box.min.z;
        const double w = x * m[0][3] + y * m[1][3] + z * m[2][3] + m[3][3];
        minW = std::min(minW, w);
    }
    // w is affine, so its smallest value over the box is at a corner. Near zero the bound grows
    // without limit; such batches are measured triangle by triangle instead.
    if (!(minW > 1e-3)) return kInfinity;
    const double ndcArea = (areaSums.x * areaScale_[0] + areaSums.y * areaScale_[1] +
                            areaSums.z * areaScale_[2]) /
                           (minW * minW);
    // The normalised device square is 2 x 2 for the whole screen.
    const double pixels = ndcArea * screenPixels_ / 4;
    return std::isfinite(pixels) ? pixels : kInfinity;
}

double CoverageEstimator::TrianglePixels(const MapVertex& a, const MapVertex& b,
                                         const MapVertex& c) const {
    const auto& m = m_.m;
    Clip polygon[3 + kSides];
    Clip scratch[3 + kSides];
    int count = 3;
    const MapVertex* corners[3] = {&a, &b, &c};
    bool allInside = true;
    for (int k = 0; k < 3; ++k) {
        const double x = corners[k]->x, y = corners[k]->y, z = corners[k]->z;
        if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return screenPixels_;
        polygon[k] = {x * m[0][0] + y * m[1][0] + z * m[2][0] + m[3][0],
                      x * m[0][1] + y * m[1][1] + z * m[2][1] + m[3][1],
                      x * m[0][2] + y * m[1][2] + z * m[2][2] + m[3][2],
                      x * m[0][3] + y * m[1][3] + z * m[2][3] + m[3][3]};
        allInside = allInside && Inside(polygon[k]);
    }
    if (!allInside) {
        // Cut the polygon by each side of the clip volume in turn, keeping its inner part.
        for (int side = 0; side < kSides && count > 0; ++side) {
            int kept = 0;
            for (int i = 0; i < count; ++i) {
                const Clip& p = polygon[i];
                const Clip& q = polygon[(i + 1) % count];
                const double dp = SideDistance(side, p), dq = SideDistance(side, q);
                if (dp >= 0) scratch[kept++] = p;
                if ((dp >= 0) != (dq >= 0)) {
                    const double t = dp / (dp - dq);
                    scratch[kept++] = {p.x + (q.x - p.x) * t, p.y + (q.y - p.y) * t,
                                       p.z + (q.z - p.z) * t, p.w + (q.w - p.w) * t};
                }
            }
            std::copy(scratch, scratch + kept, polygon);
            count = kept;
        }
        if (count < 3) return 0;
    }
    // Inside the volume w >= z >= 0; a polygon on the eye's plane covers nothing measurable.
    for (int i = 0; i < count; ++i) {
        if (!(polygon[i].w > 0)) return 0;
    }
    const double pixels = std::fabs(ProjectedDoubleArea(polygon, count)) / 2 * screenPixels_ / 4;
    return std::isfinite(pixels) ? std::min(pixels, screenPixels_) : screenPixels_;
}

MapFrameBudget::MapFrameBudget(const Matrix4& viewProjection, std::int32_t width,
                               std::int32_t height)
    : estimator(viewProjection, width, height) {
    mesh.limit = kMeshBudgetScreens * estimator.ScreenPixels();
    paths.limit = kPathBudgetScreens * estimator.ScreenPixels();
}

}  // namespace lapquill
