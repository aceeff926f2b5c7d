/* scene_animation.h — sampling animation channels and composing node transforms.

   The per-frame update of the scene (Scene::updateAndDraw in scene.h) is built from these
   pure functions, which know nothing of the blob, the store or GL:

       NodeTransform local = kRestTransform;                 // then the node's own T, R, S
       ChannelTarget target = decodeChannelTarget(channel.target);
       float* destination = transformComponents(local, target.path);
       sampleChannel(target.interpolation, times, keyCount, values, valueCount,
                     target.components, musicTime, destination);
       float world[16];
       composeTransform(local, world);                        // T x R x S

   Sampling clamps the time to the key range (no looping). "STEP" holds key j until the time
   reaches key j + 1; "LINEAR" blends neighbouring keys; "CUBICSPLINE" is the cubic Hermite
   spline of glTF with in-tangent, value, out-tangent per key and tangents scaled by the
   segment's duration. Quaternions are blended component by component and not renormalised.
   Two keys at the same time give the later key's value (no division by zero).

   Matrices are 16 floats, column-major (row r, column c at 4c + r), vectors multiplied on
   the right; their products and inverses come from app/matrix.h. */
#pragma once

#include "app/matrix.h" // products and inverses of the composed matrices

#include <cstdint>

// Local transform of one node: translation, rotation quaternion (x, y, z, w), scale.
struct NodeTransform {
    float translation[3];
    float rotation[4];
    float scale[3];
};
static_assert(sizeof(NodeTransform) == 10 * sizeof(float));

inline constexpr NodeTransform kRestTransform = {{0, 0, 0}, {0, 0, 0, 1}, {1, 1, 1}};

enum class AnimationPath { translation, scale, rotation, invalid };

// What the target code of a packed channel says.
struct ChannelTarget {
    int node;          // index in the blob's node chunk
    int interpolation; // kInterpolationStep, kInterpolationLinear or kInterpolationCubicSpline
    AnimationPath path;
    int components; // 4 for rotation, else 3
};

ChannelTarget decodeChannelTarget(uint16_t target);

// The floats of `transform` a path writes (null for an invalid path).
float* transformComponents(NodeTransform& transform, AnimationPath path);

// Keys a channel needs: 1 for "STEP", 2 otherwise.
int minimumKeyCount(int interpolation);

// Samples a channel at `time` into out[0 .. components - 1]. `values` holds `valueCount`
// floats: components per key, three times that for "CUBICSPLINE". Returns false, leaving
// `out` alone, when the channel has too few keys, too few values or an unknown interpolation.
bool sampleChannel(int interpolation, const float* times, int keyCount, const float* values, int valueCount,
                   int components, float time, float* out);

// T x R x S of a local transform.
void composeTransform(const NodeTransform& transform, float out[16]);
