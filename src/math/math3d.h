// The vector, quaternion and matrix operations of the program, named and laid out like their
// D3DX counterparts so that every matrix goes to RenderDevice::SetTransform unchanged. Free,
// stateless functions over the types of math_types.h; the camera, the device objects and the
// derived channels call them. Row vectors (p' = p * M), translation in row 4, right-handed view
// and projection. Each writes into `out` (which may alias an input) and returns `out`.
#pragma once

#include "math/math_types.h"

namespace lapquill {

inline float D3DXVec3Dot(const Vector3* a, const Vector3* b) {
    return a->x * b->x + a->y * b->y + a->z * b->z;
}

Vector3* D3DXVec3Cross(Vector3* out, const Vector3* a, const Vector3* b);

// v scaled to length 1; (0, 0, 0) when v.v < FLT_MIN; v itself when its length is already 1.
Vector3* D3DXVec3Normalize(Vector3* out, const Vector3* v);

// (v, 1) * m divided by the resulting w (no division when w is 1).
Vector3* D3DXVec3TransformCoord(Vector3* out, const Vector3* v, const Matrix4* m);

Matrix4* D3DXMatrixIdentity(Matrix4* out);

// The inverse of m, its determinant stored through `determinant` when that is not null. Returns
// null and leaves `out` untouched when 1 / determinant is not finite (m is singular).
Matrix4* D3DXMatrixInverse(Matrix4* out, float* determinant, const Matrix4* m);

// Rotation by `angle` radians about `axis` (normalised here), counter-clockwise when the axis
// points at the viewer.
Matrix4* D3DXMatrixRotationAxis(Matrix4* out, const Vector3* axis, float angle);

// Rotation quaternion of yaw (about Y), pitch (about X) and roll (about Z), radians.
Quaternion* D3DXQuaternionRotationYawPitchRoll(Quaternion* out, float yaw, float pitch, float roll);

// Rotation matrix of a unit quaternion.
Matrix4* D3DXMatrixRotationQuaternion(Matrix4* out, const Quaternion* q);

// Uniform scaling, then rotation about rotationCentre, then translation. Null centre, rotation or
// translation leave that step out.
Matrix4* D3DXMatrixAffineTransformation(Matrix4* out, float scaling, const Vector3* rotationCentre,
                                        const Quaternion* rotation, const Vector3* translation);

// a * b: applying a, then b.
Matrix4* D3DXMatrixMultiply(Matrix4* out, const Matrix4* a, const Matrix4* b);

// Right-handed perspective: fovY radians vertically, aspect = width / height, near and far > 0.
// View-space z = -near maps to depth 0, z = -far to depth 1.
Matrix4* D3DXMatrixPerspectiveFovRH(Matrix4* out, float fovY, float aspect, float zn, float zf);

// Right-handed view matrix: the camera at eye looks at `at` down its -Z axis, `up` roughly up.
Matrix4* D3DXMatrixLookAtRH(Matrix4* out, const Vector3* eye, const Vector3* at, const Vector3* up);

}  // namespace lapquill
