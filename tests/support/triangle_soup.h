// Random triangles for the software device's tests: small and large ones around the origin in
// the ground plane, every `raisedEvery`-th one with a corner lifted (some reaching behind an eye
// at 100), with colours and alphas that change from vertex to vertex.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "render/vertex_types.h"

namespace lapquill::test {

inline std::vector<MapVertex> TriangleSoup(int triangles, std::mt19937& random, float maxSize,
                                           int raisedEvery) {
    std::uniform_real_distribution<float> centre(-60.0f, 60.0f);
    std::uniform_real_distribution<float> size(0.05f, maxSize);
    std::uniform_real_distribution<float> height(-5.0f, 140.0f);
    std::vector<MapVertex> v;
    for (int t = 0; t < triangles; ++t) {
        const float cx = centre(random), cy = centre(random), s = size(random);
        for (int k = 0; k < 3; ++k) {
            const auto colour = static_cast<std::uint32_t>(random());
            v.push_back(MapVertex{cx + s * std::cos(k * 2.1f + t), cy + s * std::sin(k * 2.1f + t),
                                  k == 2 && t % raisedEvery == 0 ? height(random) : 0.0f,
                                  colour | (t % 3 == 0 ? 0xFF000000u : 0u)});
        }
    }
    return v;
}

}  // namespace lapquill::test
