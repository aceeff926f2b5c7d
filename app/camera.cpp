#include "app/camera.h"

#include <algorithm>
#include <cmath>
#include <vector>

Mat4 demoProjection(int windowWidth, int windowHeight) {
    Mat4 m = identityMatrix();
    float shorter = static_cast<float>(windowWidth < windowHeight ? windowWidth : windowHeight);
    m[0] = 2.0f / (static_cast<float>(windowWidth) / shorter);
    m[5] = 2.0f / (static_cast<float>(windowHeight) / shorter);
    m[10] = -1.0002f;
    m[11] = -1.0f;
    m[14] = -2.0002f;
    m[15] = 0.0f;
    return m;
}

Vec3 demoEyePosition(float t) {
    float angle = 0.2f * t;
    // Sines and cosines in double precision; each product is rounded to float before the
    // single-precision offset is added.
    const double radius = static_cast<double>(1.44f);
    const double bob = static_cast<double>(0.24f);
    float x = static_cast<float>(radius * std::cos(static_cast<double>(angle)));
    float y = static_cast<float>(bob * std::cos(0.5 * static_cast<double>(t)) + 0.7920000314712525);
    float z = static_cast<float>(radius * std::sin(static_cast<double>(angle)));
    return {5.84f + x, 0.4f + y, z};
}

DemoCamera demoCamera(float t, int windowWidth, int windowHeight) {
    DemoCamera result;
    result.proj = demoProjection(windowWidth, windowHeight);
    result.camera = lookAt(demoEyePosition(t), demoCameraTarget, demoCameraUp);
    result.invProj = invertMatrix(result.proj);
    result.invCamera = invertMatrix(result.camera);
    return result;
}

// ---- Framing a scene ----

namespace {

// Added to the orbit's slope (height over horizontal distance) for the framing camera.
constexpr float kFitElevation = 0.5f;
// Turn of the framing camera's bearing about +y from the orbit's (radians, +x towards +z).
constexpr float kFitBearing = 0.7853982f;

float dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

} // namespace

Mat4 perspectiveProjection(int windowWidth, int windowHeight, float nearPlane, float farPlane) {
    Mat4 m = demoProjection(windowWidth, windowHeight);
    m[10] = -(farPlane + nearPlane) / (farPlane - nearPlane);
    m[14] = -2.0f * farPlane * nearPlane / (farPlane - nearPlane);
    return m;
}

DemoCamera fitCamera(float t, int windowWidth, int windowHeight, const SceneBounds& bounds,
                     std::span<const float> points) {
    if (!(bounds[0] <= bounds[3] && bounds[1] <= bounds[4] && bounds[2] <= bounds[5]))
        return demoCamera(t, windowWidth, windowHeight);
    const Vec3 centre{0.5f * (bounds[0] + bounds[3]), 0.5f * (bounds[1] + bounds[4]),
                      0.5f * (bounds[2] + bounds[5])};

    // The orbit's direction from its target at this time, and the view's axes looking back.
    Vec3 eye = demoEyePosition(t);
    Vec3 back{eye.x - demoCameraTarget.x, eye.y - demoCameraTarget.y, eye.z - demoCameraTarget.z};
    // The hall's orbit looks almost level (5 degrees down); framed from some 30 degrees above,
    // flat models (a terrain, a tile, a city) show their faces instead of an edge.
    back.y += kFitElevation * std::sqrt(back.x * back.x + back.z * back.z);
    // The hall's orbit starts on +x; a quarter turn less than that (45 degrees towards +z) starts
    // on a three-quarter view of a model facing +z, glTF's front, with no axis seen end-on.
    const float c = std::cos(kFitBearing), s = std::sin(kFitBearing);
    back = {c * back.x - s * back.z, back.y, s * back.x + c * back.z};
    float length = std::sqrt(dot(back, back));
    back = {back.x / length, back.y / length, back.z / length};
    Vec3 side = cross(demoCameraUp, back);
    float sideLength = std::sqrt(dot(side, side));
    side = {side.x / sideLength, side.y / sideLength, side.z / sideLength};
    const Vec3 up = cross(back, side);

    // The distance at which every point lies inside 95 % of the view: a point at (x, y) across
    // and z towards the eye from the centre needs |x| <= k tanX (d - z), and the same for y. The
    // view's half-extent is 0.5 at distance 1 on the shorter side.
    const float shorter = static_cast<float>(std::min(windowWidth, windowHeight));
    const float tanX = 0.475f * static_cast<float>(windowWidth) / shorter;
    const float tanY = 0.475f * static_cast<float>(windowHeight) / shorter;
    std::vector<Vec3> offsets;
    if (points.size() >= 3) {
        for (size_t i = 0; i + 2 < points.size(); i += 3)
            offsets.push_back({points[i] - centre.x, points[i + 1] - centre.y, points[i + 2] - centre.z});
    } else {
        for (int corner = 0; corner < 8; ++corner)
            offsets.push_back({bounds[corner & 1 ? 3 : 0] - centre.x, bounds[corner & 2 ? 4 : 1] - centre.y,
                               bounds[corner & 4 ? 5 : 2] - centre.z});
    }
    // A point-like scene still gets some distance.
    const float extent = std::max({bounds[3] - bounds[0], bounds[4] - bounds[1], bounds[5] - bounds[2]});
    float distance = std::max(0.05f * extent, 1e-4f);
    for (const Vec3& p : offsets) {
        float z = dot(p, back);
        distance = std::max({distance, z + std::fabs(dot(p, side)) / tanX, z + std::fabs(dot(p, up)) / tanY});
    }
    // Near and far planes around everything within the bounds, whatever is sampled.
    const float radius = 0.5f * std::sqrt((bounds[3] - bounds[0]) * (bounds[3] - bounds[0]) +
                                          (bounds[4] - bounds[1]) * (bounds[4] - bounds[1]) +
                                          (bounds[5] - bounds[2]) * (bounds[5] - bounds[2]));
    const float nearest = std::max(distance - radius, 0.01f * distance), farthest = distance + radius;

    const Vec3 framed{centre.x + back.x * distance, centre.y + back.y * distance,
                      centre.z + back.z * distance};
    DemoCamera result;
    result.proj = perspectiveProjection(windowWidth, windowHeight, nearest * 0.5f, farthest * 2.0f);
    result.camera = lookAt(framed, centre, demoCameraUp);
    result.invProj = invertMatrix(result.proj);
    result.invCamera = invertMatrix(result.camera);
    return result;
}
