#include "math/math3d.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <numbers>

#include "support/compare.h"

namespace lapquill {
namespace {

using test::kFloatTolerance;

Matrix4 Identity() {
    Matrix4 m;
    D3DXMatrixIdentity(&m);
    return m;
}

Matrix4 Translation(float x, float y, float z) {
    Matrix4 m = Identity();
    m.m[3][0] = x;
    m.m[3][1] = y;
    m.m[3][2] = z;
    return m;
}

Vector3 Transform(const Vector3& v, const Matrix4& m) {
    Vector3 out;
    D3DXVec3TransformCoord(&out, &v, &m);
    return out;
}

void ExpectVectorNear(const Vector3& actual, const Vector3& expected, float tolerance) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

void ExpectMatrixNear(const Matrix4& actual, const Matrix4& expected, float tolerance) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_NEAR(actual.m[r][c], expected.m[r][c], tolerance) << "_" << r + 1 << c + 1;
        }
    }
}

bool SameBits(const Vector3& a, const Vector3& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(D3DXVec3Normalize, ScalesToUnitLength) {
    const Vector3 v{3.0f, 0.0f, -4.0f};
    Vector3 out;
    EXPECT_EQ(D3DXVec3Normalize(&out, &v), &out);
    ExpectVectorNear(out, {0.6f, 0.0f, -0.8f}, kFloatTolerance);
}

TEST(D3DXVec3Normalize, ZeroAndTinyVectorsGiveZero) {
    const Vector3 zero{0.0f, 0.0f, 0.0f};
    const Vector3 tiny{1e-20f, -1e-20f, 0.0f};  // squared length 2e-40 < FLT_MIN
    Vector3 out{7.0f, 7.0f, 7.0f};
    D3DXVec3Normalize(&out, &zero);
    EXPECT_TRUE(SameBits(out, zero));
    out = Vector3{7.0f, 7.0f, 7.0f};
    D3DXVec3Normalize(&out, &tiny);
    EXPECT_TRUE(SameBits(out, zero));
}

TEST(D3DXVec3Normalize, UnitVectorComesBackBitForBit) {
    // x^2 is 1 - FLT_EPSILON, which counts as 1; scaling by 1/sqrt of it would round x up to 1.
    const Vector3 v{1.0f - FLT_EPSILON / 2, 0.0f, 0.0f};
    Vector3 out;
    D3DXVec3Normalize(&out, &v);
    EXPECT_TRUE(SameBits(out, v));
}

TEST(D3DXVec3Normalize, WorksInPlace) {
    Vector3 v{0.0f, 2.0f, 0.0f};
    D3DXVec3Normalize(&v, &v);
    ExpectVectorNear(v, {0.0f, 1.0f, 0.0f}, 0.0f);
}

TEST(D3DXVec3TransformCoord, AffineMatrixNeedsNoDivision) {
    // w comes out as 1 + FLT_EPSILON, which counts as 1: dividing would change x in its last bit.
    Matrix4 m = Translation(1.0f, 2.0f, 3.0f);
    m.m[3][3] = 1.0f + FLT_EPSILON;
    const Vector3 out = Transform({2.0f, 0.0f, 0.0f}, m);
    EXPECT_EQ(out.x, 3.0f);
    EXPECT_EQ(out.y, 2.0f);
    EXPECT_EQ(out.z, 3.0f);
}

TEST(D3DXVec3TransformCoord, DividesByW) {
    Matrix4 m = Identity();
    m.m[3][3] = 4.0f;
    const Vector3 out = Transform({2.0f, 4.0f, -8.0f}, m);
    ExpectVectorNear(out, {0.5f, 1.0f, -2.0f}, 0.0f);
}

TEST(D3DXMatrixInverse, ReturnsNullForSingularMatrixAndLeavesOutput) {
    Matrix4 singular = Translation(1.0f, 2.0f, 3.0f);
    singular.m[1][0] = 1.0f;  // rows 1 and 2 equal
    singular.m[1][1] = 0.0f;
    Matrix4 out = Translation(9.0f, 9.0f, 9.0f);
    const Matrix4 before = out;
    float determinant = 5.0f;
    EXPECT_EQ(D3DXMatrixInverse(&out, &determinant, &singular), nullptr);
    EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0);
    EXPECT_EQ(determinant, 0.0f);
}

TEST(D3DXMatrixInverse, InvertsRigidTransform) {
    Matrix4 rotation, m;
    const Vector3 axis{1.0f, 2.0f, 3.0f};
    D3DXMatrixRotationAxis(&rotation, &axis, 0.7f);
    const Matrix4 translation = Translation(100.0f, -20.0f, 5.0f);
    D3DXMatrixMultiply(&m, &rotation, &translation);
    Matrix4 inverse, product;
    ASSERT_EQ(D3DXMatrixInverse(&inverse, nullptr, &m), &inverse);
    D3DXMatrixMultiply(&product, &m, &inverse);
    ExpectMatrixNear(product, Identity(), 1e-5f);
    const Vector3 p{3.0f, 4.0f, 5.0f};
    ExpectVectorNear(Transform(Transform(p, m), inverse), p, 1e-4f);
}

TEST(D3DXMatrixInverse, StoresDeterminantAndWorksInPlace) {
    Matrix4 m = Identity();
    m.m[0][0] = 2.0f;
    m.m[1][1] = 3.0f;
    m.m[2][2] = 4.0f;
    float determinant = 0.0f;
    ASSERT_NE(D3DXMatrixInverse(&m, &determinant, &m), nullptr);
    EXPECT_EQ(determinant, 24.0f);
    EXPECT_FLOAT_EQ(m.m[0][0], 0.5f);
    EXPECT_FLOAT_EQ(m.m[1][1], 1.0f / 3.0f);
    EXPECT_FLOAT_EQ(m.m[2][2], 0.25f);
}

TEST(D3DXMatrixRotationAxis, QuarterTurnAboutZTurnsXIntoY) {
    Matrix4 m;
    const Vector3 axis{0.0f, 0.0f, 5.0f};  // normalised inside
    D3DXMatrixRotationAxis(&m, &axis, std::numbers::pi_v<float> / 2);
    ExpectVectorNear(Transform({1.0f, 0.0f, 0.0f}, m), {0.0f, 1.0f, 0.0f}, kFloatTolerance);
    ExpectVectorNear(Transform({0.0f, 1.0f, 0.0f}, m), {-1.0f, 0.0f, 0.0f}, kFloatTolerance);
    ExpectVectorNear(Transform({0.0f, 0.0f, 1.0f}, m), {0.0f, 0.0f, 1.0f}, kFloatTolerance);
}

TEST(D3DXQuaternionRotationYawPitchRoll, EachAngleRotatesAboutItsAxis) {
    struct Row {
        const char* name;
        float yaw, pitch, roll;
        Vector3 axis;
        float angle;
    };
    const Row rows[] = {
        {"yaw about Y", 0.8f, 0.0f, 0.0f, {0.0f, 1.0f, 0.0f}, 0.8f},
        {"pitch about X", 0.0f, -0.5f, 0.0f, {1.0f, 0.0f, 0.0f}, -0.5f},
        {"roll about Z", 0.0f, 0.0f, 1.3f, {0.0f, 0.0f, 1.0f}, 1.3f},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Quaternion q;
        EXPECT_EQ(D3DXQuaternionRotationYawPitchRoll(&q, row.yaw, row.pitch, row.roll), &q);
        Matrix4 fromQuaternion, fromAxis;
        D3DXMatrixRotationQuaternion(&fromQuaternion, &q);
        D3DXMatrixRotationAxis(&fromAxis, &row.axis, row.angle);
        ExpectMatrixNear(fromQuaternion, fromAxis, kFloatTolerance);
    }
}

TEST(D3DXQuaternionRotationYawPitchRoll, AppliesRollThenPitchThenYaw) {
    Quaternion q;
    D3DXQuaternionRotationYawPitchRoll(&q, 0.3f, 0.4f, 0.5f);
    Matrix4 combined;
    D3DXMatrixRotationQuaternion(&combined, &q);
    Matrix4 roll, pitch, yaw, expected;
    const Vector3 x{1, 0, 0}, y{0, 1, 0}, z{0, 0, 1};
    D3DXMatrixRotationAxis(&roll, &z, 0.5f);
    D3DXMatrixRotationAxis(&pitch, &x, 0.4f);
    D3DXMatrixRotationAxis(&yaw, &y, 0.3f);
    D3DXMatrixMultiply(&expected, &roll, &pitch);
    D3DXMatrixMultiply(&expected, &expected, &yaw);
    ExpectMatrixNear(combined, expected, kFloatTolerance);
}

TEST(D3DXMatrixAffineTransformation, IdentityRotationWithTranslationIsPureTranslation) {
    const Quaternion identity{0.0f, 0.0f, 0.0f, 1.0f};
    const Vector3 t{4.0f, -5.0f, 6.0f};
    Matrix4 m;
    EXPECT_EQ(D3DXMatrixAffineTransformation(&m, 1.0f, nullptr, &identity, &t), &m);
    ExpectMatrixNear(m, Translation(4.0f, -5.0f, 6.0f), 0.0f);
}

TEST(D3DXMatrixAffineTransformation, ScalesThenRotatesAboutCentreThenTranslates) {
    Quaternion q;
    D3DXQuaternionRotationYawPitchRoll(&q, 0.0f, 0.0f, std::numbers::pi_v<float> / 2);
    const Vector3 centre{10.0f, 0.0f, 0.0f};
    const Vector3 t{0.0f, 0.0f, 1.0f};
    Matrix4 m;
    D3DXMatrixAffineTransformation(&m, 2.0f, &centre, &q, &t);
    // (6, 0, 0) scaled is (12, 0, 0), 2 m east of the centre; a quarter turn about Z puts it
    // 2 m north of the centre, then it is lifted by 1.
    ExpectVectorNear(Transform({6.0f, 0.0f, 0.0f}, m), {10.0f, 2.0f, 1.0f}, 1e-5f);
    Matrix4 scaleOnly;
    D3DXMatrixAffineTransformation(&scaleOnly, 3.0f, &centre, nullptr, nullptr);
    ExpectVectorNear(Transform({1.0f, 2.0f, 3.0f}, scaleOnly), {3.0f, 6.0f, 9.0f}, 0.0f);
}

TEST(D3DXMatrixMultiply, AppliesLeftOperandFirstAndAllowsAliasing) {
    Matrix4 rotation;
    const Vector3 z{0.0f, 0.0f, 1.0f};
    D3DXMatrixRotationAxis(&rotation, &z, std::numbers::pi_v<float> / 2);
    Matrix4 m = Translation(1.0f, 0.0f, 0.0f);
    D3DXMatrixMultiply(&m, &m, &rotation);  // translate, then rotate
    ExpectVectorNear(Transform({0.0f, 0.0f, 0.0f}, m), {0.0f, 1.0f, 0.0f}, kFloatTolerance);
}

TEST(D3DXMatrixPerspectiveFovRH, ProjectionOfTheMapView) {
    Matrix4 m;
    D3DXMatrixPerspectiveFovRH(&m, 0.7853982f, 1280.0f / 800.0f, 1.0f, 5000.0f);
    const float depth = 5000.0f / (1.0f - 5000.0f);
    EXPECT_FLOAT_EQ(m.m[2][2], depth);
    EXPECT_FLOAT_EQ(m.m[3][2], depth);
    EXPECT_NEAR(m.m[2][2], -1.0002f, 1e-4f);
    EXPECT_EQ(m.m[2][3], -1.0f);
    EXPECT_EQ(m.m[3][3], 0.0f);
    const float yScale = 1.0f / std::tan(0.7853982f / 2);
    EXPECT_NEAR(m.m[1][1], yScale, kFloatTolerance);
    EXPECT_NEAR(m.m[0][0], yScale / 1.6f, kFloatTolerance);
    // The near plane lands on depth 0, the far one on depth 1, both in front (-Z).
    EXPECT_NEAR(Transform({0.0f, 0.0f, -1.0f}, m).z, 0.0f, kFloatTolerance);
    EXPECT_NEAR(Transform({0.0f, 0.0f, -5000.0f}, m).z, 1.0f, kFloatTolerance);
}

TEST(D3DXMatrixLookAtRH, MapsTargetOntoNegativeZ) {
    const Vector3 eye{0.0f, -10.0f, 10.0f}, at{0.0f, 0.0f, 0.0f}, up{0.0f, 0.0f, 1.0f};
    Matrix4 view;
    EXPECT_EQ(D3DXMatrixLookAtRH(&view, &eye, &at, &up), &view);
    ExpectVectorNear(Transform(at, view), {0.0f, 0.0f, -std::sqrt(200.0f)}, 1e-5f);
    ExpectVectorNear(Transform(eye, view), {0.0f, 0.0f, 0.0f}, 1e-5f);
    // World +X stays to the right and world up leans up on the screen.
    EXPECT_GT(Transform({1.0f, 0.0f, 0.0f}, view).x, 0.0f);
    EXPECT_GT(Transform({0.0f, 0.0f, 1.0f}, view).y, 0.0f);
}

// A matrix with no zero entry and a full last column, so that every minor and every cofactor
// takes part: the inverse multiplies back to the identity from either side.
TEST(D3DXMatrixInverse, InvertsAGeneralMatrix) {
    const Matrix4 m{{{2.0f, -1.0f, 0.5f, 3.0f},
                     {1.0f, 4.0f, -2.0f, 0.25f},
                     {-3.0f, 0.5f, 5.0f, 1.0f},
                     {0.75f, 2.0f, -1.0f, 6.0f}}};
    Matrix4 inverse, product;
    float determinant = 0.0f;
    ASSERT_EQ(D3DXMatrixInverse(&inverse, &determinant, &m), &inverse);
    EXPECT_EQ(determinant, 261.515625f);  // 16737 / 64, exact in float
    D3DXMatrixMultiply(&product, &m, &inverse);
    ExpectMatrixNear(product, Identity(), 1e-6f);
    D3DXMatrixMultiply(&product, &inverse, &m);
    ExpectMatrixNear(product, Identity(), 1e-6f);
}

}  // namespace
}  // namespace lapquill
