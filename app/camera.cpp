#include "app/camera.h"

#include <algorithm>
#include <cmath>

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

Mat4 perspectiveProjection(int windowWidth, int windowHeight, float nearPlane, float farPlane) {
    Mat4 m = demoProjection(windowWidth, windowHeight);
    m[10] = -(farPlane + nearPlane) / (farPlane - nearPlane);
    m[14] = -2.0f * farPlane * nearPlane / (farPlane - nearPlane);
    return m;
}

DemoCamera fitCamera(float t, int windowWidth, int windowHeight, const SceneBounds& bounds) {
    if (!(bounds[0] <= bounds[3] && bounds[1] <= bounds[4] && bounds[2] <= bounds[5]))
        return demoCamera(t, windowWidth, windowHeight);
    const Vec3 centre{0.5f * (bounds[0] + bounds[3]), 0.5f * (bounds[1] + bounds[4]),
                      0.5f * (bounds[2] + bounds[5])};
    const float dx = bounds[3] - bounds[0], dy = bounds[4] - bounds[1], dz = bounds[5] - bounds[2];
    // A flat or point-like scene still gets a sphere of some size.
    const float radius = std::max(0.5f * std::sqrt(dx * dx + dy * dy + dz * dz), 1e-4f);
    // The demo's view has a half-extent of 0.5 at distance 1 on its shorter side: a sphere of
    // radius r just fills that side from r / sin(atan(0.5)) = r * sqrt(5) away.
    const float distance = radius * std::sqrt(5.0f);

    // The orbit's direction from its target, at this time.
    Vec3 eye = demoEyePosition(t);
    Vec3 offset{eye.x - demoCameraTarget.x, eye.y - demoCameraTarget.y, eye.z - demoCameraTarget.z};
    float length = std::sqrt(offset.x * offset.x + offset.y * offset.y + offset.z * offset.z);
    Vec3 framed{centre.x + offset.x / length * distance, centre.y + offset.y / length * distance,
                centre.z + offset.z / length * distance};

    DemoCamera result;
    result.proj = perspectiveProjection(windowWidth, windowHeight, (distance - radius) * 0.5f,
                                        (distance + radius) * 2.0f);
    result.camera = lookAt(framed, centre, demoCameraUp);
    result.invProj = invertMatrix(result.proj);
    result.invCamera = invertMatrix(result.camera);
    return result;
}
