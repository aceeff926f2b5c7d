#include "app/camera.h"

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
