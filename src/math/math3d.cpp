#include "math/math3d.h"

#include <cfloat>
#include <cmath>

namespace lapquill {
namespace {

// D3DX treats a value as 1 when it is within one float epsilon of it; normalising a unit vector
// and dividing by w = 1 are then skipped, so already-exact values come back bit for bit.
bool IsOne(float value) {
    return std::fabs(value - 1.0f) <= FLT_EPSILON;
}

}  // namespace

Vector3* D3DXVec3Cross(Vector3* out, const Vector3* a, const Vector3* b) {
    const Vector3 r{a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z,
                    a->x * b->y - a->y * b->x};
    *out = r;
    return out;
}

Vector3* D3DXVec3Normalize(Vector3* out, const Vector3* v) {
    const float lengthSquared = D3DXVec3Dot(v, v);
    if (IsOne(lengthSquared)) {
        *out = *v;
    } else if (lengthSquared < FLT_MIN) {
        *out = Vector3{0.0f, 0.0f, 0.0f};
    } else {
        const float inverse = 1.0f / std::sqrt(lengthSquared);
        *out = Vector3{v->x * inverse, v->y * inverse, v->z * inverse};
    }
    return out;
}

Vector3* D3DXVec3TransformCoord(Vector3* out, const Vector3* v, const Matrix4* m) {
    const auto& a = m->m;
    const float x = v->x * a[0][0] + v->y * a[1][0] + v->z * a[2][0] + a[3][0];
    const float y = v->x * a[0][1] + v->y * a[1][1] + v->z * a[2][1] + a[3][1];
    const float z = v->x * a[0][2] + v->y * a[1][2] + v->z * a[2][2] + a[3][2];
    const float w = v->x * a[0][3] + v->y * a[1][3] + v->z * a[2][3] + a[3][3];
    if (IsOne(w)) {
        *out = Vector3{x, y, z};
    } else {
        const float inverse = 1.0f / w;
        *out = Vector3{x * inverse, y * inverse, z * inverse};
    }
    return out;
}

Matrix4* D3DXMatrixIdentity(Matrix4* out) {
    *out = Matrix4{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    return out;
}

namespace {

// The six pairs of columns of a 4x4 matrix, in the order its 2x2 minors are numbered.
constexpr int kColumnPairs[6][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
// For each column i, the three other columns, and for each of those the minor of the two
// columns left over (the pair of neither i nor it).
constexpr int kOtherColumns[4][3] = {{1, 2, 3}, {0, 2, 3}, {0, 1, 3}, {0, 1, 2}};
constexpr int kLeftoverPair[4][3] = {{5, 4, 3}, {5, 2, 1}, {4, 2, 0}, {3, 1, 0}};

}  // namespace

Matrix4* D3DXMatrixInverse(Matrix4* out, float* determinant, const Matrix4* m) {
    // Cofactors from the 2x2 minors of the top and bottom row pairs, in double so that the
    // rigid transforms the cameras invert come back orthonormal to the last float bit or so.
    double a[4][4];
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) a[r][c] = m->m[r][c];
    }
    double top[6], bottom[6];  // the minors of rows 0-1 and of rows 2-3
    for (int k = 0; k < 6; ++k) {
        const int p = kColumnPairs[k][0], q = kColumnPairs[k][1];
        top[k] = a[0][p] * a[1][q] - a[1][p] * a[0][q];
        bottom[k] = a[2][p] * a[3][q] - a[3][p] * a[2][q];
    }

    const float det =
        static_cast<float>(top[0] * bottom[5] - top[1] * bottom[4] + top[2] * bottom[3] +
                           top[3] * bottom[2] - top[4] * bottom[1] + top[5] * bottom[0]);
    if (determinant != nullptr) *determinant = det;
    const float inverseDet = 1.0f / det;
    if (!std::isfinite(inverseDet)) return nullptr;
    const double k = inverseDet;

    // Entry (i, j) of the inverse is the cofactor of entry (j, i): row j's partner in its row
    // pair (1, 0, 3, 2) times the other pair's minors, expanded along the columns other than i,
    // with the sign of (i + j).
    constexpr int kPartnerRow[4] = {1, 0, 3, 2};
    for (int i = 0; i < 4; ++i) {
        const int* cols = kOtherColumns[i];
        const int* pairs = kLeftoverPair[i];
        for (int j = 0; j < 4; ++j) {
            const double* row = a[kPartnerRow[j]];
            const double* minor = j < 2 ? bottom : top;
            const double x0 = row[cols[0]] * minor[pairs[0]];
            const double x1 = row[cols[1]] * minor[pairs[1]];
            const double x2 = row[cols[2]] * minor[pairs[2]];
            // The signs go on the terms rather than on their sum, so that a zero keeps its sign.
            const double v = (i + j) % 2 == 0 ? x0 - x1 + x2 : -x0 + x1 - x2;
            out->m[i][j] = static_cast<float>(v * k);
        }
    }
    return out;
}

Matrix4* D3DXMatrixRotationAxis(Matrix4* out, const Vector3* axis, float angle) {
    Vector3 n;
    D3DXVec3Normalize(&n, axis);
    const float s = std::sin(angle);
    const float c = std::cos(angle);
    const float t = 1.0f - c;
    *out = Matrix4{{{t * n.x * n.x + c, t * n.x * n.y + s * n.z, t * n.x * n.z - s * n.y, 0.0f},
                    {t * n.x * n.y - s * n.z, t * n.y * n.y + c, t * n.y * n.z + s * n.x, 0.0f},
                    {t * n.x * n.z + s * n.y, t * n.y * n.z - s * n.x, t * n.z * n.z + c, 0.0f},
                    {0.0f, 0.0f, 0.0f, 1.0f}}};
    return out;
}

Quaternion* D3DXQuaternionRotationYawPitchRoll(Quaternion* out, float yaw, float pitch,
                                               float roll) {
    const float sy = std::sin(yaw * 0.5f), cy = std::cos(yaw * 0.5f);
    const float sp = std::sin(pitch * 0.5f), cp = std::cos(pitch * 0.5f);
    const float sr = std::sin(roll * 0.5f), cr = std::cos(roll * 0.5f);
    *out = Quaternion{cy * sp * cr + sy * cp * sr, sy * cp * cr - cy * sp * sr,
                      cy * cp * sr - sy * sp * cr, cy * cp * cr + sy * sp * sr};
    return out;
}

Matrix4* D3DXMatrixRotationQuaternion(Matrix4* out, const Quaternion* q) {
    const float x = q->x, y = q->y, z = q->z, w = q->w;
    *out = Matrix4{
        {{1.0f - 2.0f * (y * y + z * z), 2.0f * (x * y + z * w), 2.0f * (x * z - y * w), 0.0f},
         {2.0f * (x * y - z * w), 1.0f - 2.0f * (x * x + z * z), 2.0f * (y * z + x * w), 0.0f},
         {2.0f * (x * z + y * w), 2.0f * (y * z - x * w), 1.0f - 2.0f * (x * x + y * y), 0.0f},
         {0.0f, 0.0f, 0.0f, 1.0f}}};
    return out;
}

Matrix4* D3DXMatrixAffineTransformation(Matrix4* out, float scaling, const Vector3* rotationCentre,
                                        const Quaternion* rotation, const Vector3* translation) {
    Matrix4 m{{{scaling, 0, 0, 0}, {0, scaling, 0, 0}, {0, 0, scaling, 0}, {0, 0, 0, 1}}};
    if (rotation != nullptr) {
        if (rotationCentre != nullptr) {
            m.m[3][0] -= rotationCentre->x;
            m.m[3][1] -= rotationCentre->y;
            m.m[3][2] -= rotationCentre->z;
        }
        Matrix4 r;
        D3DXMatrixRotationQuaternion(&r, rotation);
        D3DXMatrixMultiply(&m, &m, &r);
        if (rotationCentre != nullptr) {
            m.m[3][0] += rotationCentre->x;
            m.m[3][1] += rotationCentre->y;
            m.m[3][2] += rotationCentre->z;
        }
    }
    if (translation != nullptr) {
        m.m[3][0] += translation->x;
        m.m[3][1] += translation->y;
        m.m[3][2] += translation->z;
    }
    *out = m;
    return out;
}

Matrix4* D3DXMatrixMultiply(Matrix4* out, const Matrix4* a, const Matrix4* b) {
    Matrix4 r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            r.m[i][j] = a->m[i][0] * b->m[0][j] + a->m[i][1] * b->m[1][j] +
                        a->m[i][2] * b->m[2][j] + a->m[i][3] * b->m[3][j];
        }
    }
    *out = r;
    return out;
}

Matrix4* D3DXMatrixPerspectiveFovRH(Matrix4* out, float fovY, float aspect, float zn, float zf) {
    const float yScale = std::cos(fovY * 0.5f) / std::sin(fovY * 0.5f);
    const float xScale = yScale / aspect;
    const float depth = zf / (zn - zf);
    *out = Matrix4{{{xScale, 0, 0, 0},
                    {0, yScale, 0, 0},
                    {0, 0, depth, -1.0f},
                    {0, 0, zn * zf / (zn - zf), 0}}};
    return out;
}

Matrix4* D3DXMatrixLookAtRH(Matrix4* out, const Vector3* eye, const Vector3* at,
                            const Vector3* up) {
    Vector3 z{eye->x - at->x, eye->y - at->y, eye->z - at->z};
    D3DXVec3Normalize(&z, &z);
    Vector3 x;
    D3DXVec3Cross(&x, up, &z);
    D3DXVec3Normalize(&x, &x);
    Vector3 y;
    D3DXVec3Cross(&y, &z, &x);
    *out = Matrix4{{{x.x, y.x, z.x, 0.0f},
                    {x.y, y.y, z.y, 0.0f},
                    {x.z, y.z, z.z, 0.0f},
                    {-D3DXVec3Dot(&x, eye), -D3DXVec3Dot(&y, eye), -D3DXVec3Dot(&z, eye), 1.0f}}};
    return out;
}

}  // namespace lapquill
