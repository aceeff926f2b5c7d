#include "scene/scene_animation.h"

#include <algorithm>
#include <cstring>

#include "scene/blob.h"

// ---- Channels ----

ChannelTarget decodeChannelTarget(uint16_t target) {
    ChannelTarget decoded{};
    decoded.node = target >> 4;
    int low = target & 15;
    decoded.interpolation = low % 3;
    switch (low / 3) {
    case 0:
        decoded.path = AnimationPath::translation;
        break;
    case 1:
        decoded.path = AnimationPath::scale;
        break;
    case 2:
        decoded.path = AnimationPath::rotation;
        break;
    default:
        decoded.path = AnimationPath::invalid;
        break;
    }
    decoded.components = decoded.path == AnimationPath::rotation ? 4 : 3;
    return decoded;
}

float* transformComponents(NodeTransform& transform, AnimationPath path) {
    switch (path) {
    case AnimationPath::translation:
        return transform.translation;
    case AnimationPath::scale:
        return transform.scale;
    case AnimationPath::rotation:
        return transform.rotation;
    case AnimationPath::invalid:
        break;
    }
    return nullptr;
}

int minimumKeyCount(int interpolation) {
    return interpolation == kInterpolationStep ? 1 : 2;
}

bool sampleChannel(int interpolation, const float* times, int keyCount, const float* values, int valueCount,
                   int components, float time, float* out) {
    if (interpolation < kInterpolationStep || interpolation > kInterpolationCubicSpline) return false;
    if (keyCount < minimumKeyCount(interpolation)) return false;
    int valuesPerKey = interpolation == kInterpolationCubicSpline ? 3 : 1;
    if (static_cast<int64_t>(keyCount) * valuesPerKey * components > valueCount) return false;

    const int n = keyCount;
    float t = std::max(times[0], std::min(times[n - 1], time));
    int j = 0;
    if (interpolation == kInterpolationStep) {
        while (j + 1 < n && times[j + 1] <= t) ++j;
        std::memcpy(out, values + j * components, components * sizeof(float));
        return true;
    }
    while (j + 2 < n && t > times[j + 1]) ++j;
    float dt = times[j + 1] - times[j];
    // Equal key times: the segment has no length, so the later key holds.
    float u = dt > 0.0f ? std::clamp((t - times[j]) / dt, 0.0f, 1.0f) : 1.0f;
    for (int c = 0; c < components; ++c) {
        if (interpolation == kInterpolationLinear) {
            float vj = values[j * components + c], vk = values[(j + 1) * components + c];
            out[c] = vj * (1.0f - u) + vk * u;
        } else {
            float u2 = u * u, u3 = u2 * u;
            float vj = values[(3 * j + 1) * components + c];
            float bj = values[(3 * j + 2) * components + c]; // out-tangent of key j
            float ak = values[(3 * j + 3) * components + c]; // in-tangent of key j + 1
            float vk = values[(3 * j + 4) * components + c];
            out[c] = vj * (2 * u3 - 3 * u2 + 1) + bj * (u3 - 2 * u2 + u) * dt + ak * (u3 - u2) * dt +
                     vk * (3 * u2 - 2 * u3);
        }
    }
    return true;
}

// ---- Matrices ----

void composeTransform(const NodeTransform& transform, float out[16]) {
    const float x = transform.rotation[0], y = transform.rotation[1], z = transform.rotation[2],
                w = transform.rotation[3];
    // Columns of R, each scaled by its axis' scale factor: R x S.
    const float rotation[3][3] = {
        {1 - 2 * y * y - 2 * z * z, 2 * x * y + 2 * z * w, 2 * x * z - 2 * y * w},
        {2 * x * y - 2 * z * w, 1 - 2 * x * x - 2 * z * z, 2 * y * z + 2 * x * w},
        {2 * x * z + 2 * y * w, 2 * y * z - 2 * x * w, 1 - 2 * x * x - 2 * y * y},
    };
    for (int c = 0; c < 3; ++c) {
        for (int r = 0; r < 3; ++r) out[4 * c + r] = rotation[c][r] * transform.scale[c];
        out[4 * c + 3] = 0.0f;
    }
    out[12] = transform.translation[0];
    out[13] = transform.translation[1];
    out[14] = transform.translation[2];
    out[15] = 1.0f;
}
