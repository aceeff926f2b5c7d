#include "app/camera.h"
#include "app/matrix.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>

namespace {

uint32_t bits(float f) {
    return std::bit_cast<uint32_t>(f);
}

Vec3 transformPoint(const Mat4& m, Vec3 p) {
    return {m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12], m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
            m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]};
}

void expectNearIdentity(const Mat4& m, float tolerance) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(m[i], (i % 5 == 0) ? 1.0f : 0.0f, tolerance) << "element " << i;
}

} // namespace

TEST(Projection, ConstantsAndAspectRule) {
    Mat4 p = demoProjection(800, 450);
    EXPECT_EQ(bits(p[10]), 0xBF80068Eu);
    EXPECT_EQ(bits(p[14]), 0xC0000347u);
    EXPECT_EQ(p[11], -1.0f);
    EXPECT_EQ(p[15], 0.0f);
    // The shorter side (height) spans the unit half-extent: element 5 is 2, element 0 is 2 * 450 / 800.
    EXPECT_FLOAT_EQ(p[5], 2.0f);
    EXPECT_FLOAT_EQ(p[0], 2.0f / (800.0f / 450.0f));
    Mat4 portrait = demoProjection(300, 600);
    EXPECT_FLOAT_EQ(portrait[0], 2.0f);
    EXPECT_FLOAT_EQ(portrait[5], 1.0f);
    for (int i : {1, 2, 3, 4, 6, 7, 8, 9, 12, 13}) EXPECT_EQ(p[i], 0.0f) << i;
}

TEST(Projection, NearAndFarPlanesMapToTheDepthRange) {
    Mat4 p = demoProjection(800, 450);
    for (float distance : {1.0f, 10001.0f}) {
        float clipZ = p[10] * -distance + p[14];
        float clipW = p[11] * -distance;
        EXPECT_NEAR(clipZ / clipW, distance == 1.0f ? -1.0f : 1.0f, 1e-3f) << distance;
    }
}

TEST(OrbitCamera, EyePositionFollowsTheMixedPrecisionRule) {
    // Expected bit patterns computed independently: products in double, rounded to float, then
    // the single-precision offsets added.
    struct Case {
        float t;
        uint32_t x, y, z;
    } cases[] = {{0.0f, 0x40e8f5c3u, 0x3fb74bc7u, 0x0u},
                 {7.25f, 0x40c06ecau, 0x3f7ac086u, 0x3fb6fa14u},
                 {19.5f, 0x40996dd6u, 0x3f76eec6u, 0xbf7d89c4u}};
    for (const Case& c : cases) {
        Vec3 eye = demoEyePosition(c.t);
        EXPECT_EQ(bits(eye.x), c.x) << "t=" << c.t;
        EXPECT_EQ(bits(eye.y), c.y) << "t=" << c.t;
        EXPECT_EQ(bits(eye.z), c.z) << "t=" << c.t;
    }
}

TEST(OrbitCamera, CirclesAndBobsWithinItsRange) {
    for (float t = 0.0f; t < 40.0f; t += 0.37f) {
        Vec3 eye = demoEyePosition(t);
        EXPECT_NEAR(std::hypot(eye.x - 5.84f, eye.z), 1.44f, 1e-5f);
        EXPECT_GE(eye.y, 0.9519f);
        EXPECT_LE(eye.y, 1.4321f);
    }
}

TEST(LookAt, MapsEyeToOriginAndTargetOntoNegativeZ) {
    Vec3 eye{7.28f, 1.432f, 0.0f};
    Mat4 view = lookAt(eye, demoCameraTarget, demoCameraUp);
    Vec3 origin = transformPoint(view, eye);
    EXPECT_NEAR(origin.x, 0.0f, 1e-5f);
    EXPECT_NEAR(origin.y, 0.0f, 1e-5f);
    EXPECT_NEAR(origin.z, 0.0f, 1e-5f);
    Vec3 target = transformPoint(view, demoCameraTarget);
    float distance = std::sqrt(7.28f * 7.28f + (1.432f - 0.72f) * (1.432f - 0.72f));
    EXPECT_NEAR(target.x, 0.0f, 1e-5f);
    EXPECT_NEAR(target.y, 0.0f, 1e-5f);
    EXPECT_NEAR(target.z, -distance, 1e-4f);
    // A point above the target appears above it on screen (up stays up); right-handed.
    Vec3 above = transformPoint(view, {0.0f, 1.72f, 0.0f});
    EXPECT_GT(above.y, 0.5f);
    // Looking down -x with +y up, right-handed: +z lies to the viewer's left.
    Vec3 side = transformPoint(view, {0.0f, 0.72f, 1.0f});
    EXPECT_LT(side.x, -0.5f);
}

TEST(LookAt, DegenerateDirectionsStayUnnormalised) {
    Mat4 view = lookAt({1, 2, 3}, {1, 2, 3}, {0, 1, 0});
    for (float v : view) EXPECT_FALSE(std::isnan(v));
    EXPECT_EQ(view[15], 1.0f);
}

TEST(InvertMatrix, ProductWithInverseIsIdentity) {
    std::mt19937 random(3);
    std::uniform_real_distribution<float> value(-3.0f, 3.0f);
    for (int round = 0; round < 200; ++round) {
        Mat4 m;
        for (float& e : m) e = value(random);
        for (int i = 0; i < 4; ++i) m[5 * i] += 4.0f; // keep it well conditioned
        Mat4 inverse = invertMatrix(m);
        expectNearIdentity(multiplyMatrix(m, inverse), 2e-4f);
        expectNearIdentity(multiplyMatrix(inverse, m), 2e-4f);
    }
    Mat4 p = demoProjection(1920, 1080);
    expectNearIdentity(multiplyMatrix(p, invertMatrix(p)), 1e-4f);
}

TEST(InvertMatrix, SingularMatrixGivesIdentity) {
    Mat4 zero{};
    EXPECT_EQ(invertMatrix(zero), identityMatrix());
    Mat4 repeatedRows = {1, 1, 0, 0, 2, 2, 0, 0, 3, 3, 1, 0, 4, 4, 0, 1}; // rows 0 and 1 equal
    EXPECT_EQ(invertMatrix(repeatedRows), identityMatrix());
}

TEST(DemoCamera, MatricesAreConsistent) {
    DemoCamera c = demoCamera(3.0f, 960, 540);
    expectNearIdentity(multiplyMatrix(c.camera, c.invCamera), 1e-5f);
    expectNearIdentity(multiplyMatrix(c.proj, c.invProj), 1e-5f);
    Vec3 eye = transformPoint(c.invCamera, {0, 0, 0});
    Vec3 expected = demoEyePosition(3.0f);
    EXPECT_NEAR(eye.x, expected.x, 1e-5f);
    EXPECT_NEAR(eye.y, expected.y, 1e-5f);
    EXPECT_NEAR(eye.z, expected.z, 1e-5f);
}

TEST(FitCamera, FramesBoundsOfAnySizeAndPlaceInsideTheView) {
    struct Case {
        SceneBounds bounds;
        float time;
    };
    const Case cases[] = {
        {{-1, -1, -1, 1, 1, 1}, 0.0f},                      // the unit cube at the origin
        {{100, 20, -300, 100.02f, 20.01f, -299.99f}, 7.0f}, // a speck far off-centre
        {{-4000, 0, -2000, 4000, 10, 2000}, 15.0f},         // a flat city
        {{2, 2, 2, 2, 2, 2}, 3.0f},                         // a single point
    };
    for (const Case& c : cases) {
        DemoCamera camera = fitCamera(c.time, 320, 180, c.bounds);
        Mat4 viewProj = multiplyMatrix(camera.proj, camera.camera);
        float largest = 0;
        for (int corner = 0; corner < 8; ++corner) {
            Vec3 p{c.bounds[corner & 1 ? 3 : 0], c.bounds[corner & 2 ? 4 : 1], c.bounds[corner & 4 ? 5 : 2]};
            Vec3 clip = transformPoint(viewProj, p);
            float w = -transformPoint(camera.camera, p).z;
            ASSERT_GT(w, 0) << "corner " << corner << " behind the eye";
            float x = clip.x / w, y = clip.y / w, z = clip.z / w;
            EXPECT_LE(std::fabs(x), 1.0f) << corner;
            EXPECT_LE(std::fabs(y), 1.0f) << corner;
            EXPECT_LT(std::fabs(z), 1.0f) << corner << " between the near and far planes";
            largest = std::max({largest, std::fabs(x) * 320 / 180, std::fabs(y)});
        }
        if (c.bounds[0] < c.bounds[3]) {
            EXPECT_GT(largest, 0.5f) << "the bounds fill most of the view";
        }
        expectNearIdentity(multiplyMatrix(camera.camera, camera.invCamera), 1e-3f);
        // The eye keeps the orbit's bearing from its target, turned 45 degrees, from higher up.
        Vec3 eye = transformPoint(camera.invCamera, {0, 0, 0});
        Vec3 orbit = demoEyePosition(c.time);
        float centreX = (c.bounds[0] + c.bounds[3]) / 2, centreZ = (c.bounds[2] + c.bounds[5]) / 2;
        float bearing = std::atan2(eye.z - centreZ, eye.x - centreX);
        float orbitBearing = std::atan2(orbit.z - demoCameraTarget.z, orbit.x - demoCameraTarget.x);
        EXPECT_NEAR(std::remainder(bearing - orbitBearing - 0.7853982f, 6.2831853f), 0.0f, 5e-3f);
        EXPECT_GT(eye.y, (c.bounds[1] + c.bounds[4]) / 2);
    }
    // Given a sample of the scene's points, those fill the view, not the corners of the bounds.
    std::vector<float> ring;
    for (int k = 0; k < 64; ++k)
        ring.insert(ring.end(), {std::cos(0.0982f * k), 0.0f, std::sin(0.0982f * k)});
    DemoCamera onRing = fitCamera(5.0f, 320, 180, {-1, 0, -1, 1, 0, 1}, ring);
    float largest = 0;
    for (size_t i = 0; i < ring.size(); i += 3) {
        Vec3 clip =
            transformPoint(multiplyMatrix(onRing.proj, onRing.camera), {ring[i], ring[i + 1], ring[i + 2]});
        float w = -transformPoint(onRing.camera, {ring[i], ring[i + 1], ring[i + 2]}).z;
        largest = std::max({largest, std::fabs(clip.x / w), std::fabs(clip.y / w)});
    }
    EXPECT_NEAR(largest, 0.95f, 0.01f);
    // Nothing to frame: the demo's own camera.
    const float inf = INFINITY;
    EXPECT_EQ(fitCamera(4.0f, 800, 450, {inf, inf, inf, -inf, -inf, -inf}).camera,
              demoCamera(4.0f, 800, 450).camera);
}
