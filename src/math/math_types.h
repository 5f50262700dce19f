// The plain math types every module shares: points and directions in metres, Z up,
// row vectors with translation in row 4 (Direct3D's layout). The operations on them live
// in math/math3d.h; this header holds only the types so that the file loaders can use them.
#pragma once

namespace lapquill {

struct Vector3 {
    float x, y, z;
};

struct Quaternion {
    float x, y, z, w;
};

// m[r - 1][c - 1] is element _rc.
struct Matrix4 {
    float m[4][4];
};

static_assert(sizeof(Vector3) == 12);
static_assert(sizeof(Quaternion) == 16);
static_assert(sizeof(Matrix4) == 64);

}  // namespace lapquill
