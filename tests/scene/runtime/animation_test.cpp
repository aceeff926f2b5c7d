// Animation sampling and transform composition, against values worked out by hand.
#include "scene/scene_animation.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "scene/blob.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Samples a one-component channel.
float sample1(int interpolation, const std::vector<float>& times, const std::vector<float>& values, float t) {
    float out = kNaN;
    EXPECT_TRUE(sampleChannel(interpolation, times.data(), static_cast<int>(times.size()), values.data(),
                              static_cast<int>(values.size()), 1, t, &out));
    return out;
}

// y = M x for a point (w = 1) or a direction (w = 0).
std::array<float, 3> apply(const float m[16], std::array<float, 3> x, float w) {
    std::array<float, 3> y{};
    for (int r = 0; r < 3; ++r) y[r] = m[r] * x[0] + m[4 + r] * x[1] + m[8 + r] * x[2] + m[12 + r] * w;
    return y;
}

void expectNear3(std::array<float, 3> actual, std::array<float, 3> expected, float tolerance = 1e-5f) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(actual[i], expected[i], tolerance) << "component " << i;
}

const std::vector<float> kTimes = {1.0f, 2.0f, 4.0f};

} // namespace

// ---- Channel sampling ----

TEST(ChannelSampling, TimesOutsideTheKeysClampToTheFirstAndLastKeyForEveryInterpolation) {
    const std::vector<float> values = {10.0f, 20.0f, 40.0f};
    // Cubic: in-tangent, value, out-tangent per key, with tangents that would pull far away.
    const std::vector<float> cubic = {5.0f, 10.0f, 5.0f, -7.0f, 20.0f, -7.0f, 9.0f, 40.0f, 9.0f};
    for (int interpolation : {kInterpolationStep, kInterpolationLinear}) {
        EXPECT_FLOAT_EQ(sample1(interpolation, kTimes, values, -3.0f), 10.0f);
        EXPECT_FLOAT_EQ(sample1(interpolation, kTimes, values, 99.0f), 40.0f);
    }
    EXPECT_FLOAT_EQ(sample1(kInterpolationCubicSpline, kTimes, cubic, -3.0f), 10.0f);
    EXPECT_FLOAT_EQ(sample1(kInterpolationCubicSpline, kTimes, cubic, 99.0f), 40.0f);
}

TEST(ChannelSampling, LinearHitsKeysExactlyAndTheMeanHalfway) {
    const std::vector<float> values = {10.0f, 20.0f, 40.0f};
    EXPECT_FLOAT_EQ(sample1(kInterpolationLinear, kTimes, values, 1.0f), 10.0f);
    EXPECT_FLOAT_EQ(sample1(kInterpolationLinear, kTimes, values, 2.0f), 20.0f);
    EXPECT_FLOAT_EQ(sample1(kInterpolationLinear, kTimes, values, 4.0f), 40.0f);
    EXPECT_FLOAT_EQ(sample1(kInterpolationLinear, kTimes, values, 1.5f), 15.0f);
    EXPECT_FLOAT_EQ(sample1(kInterpolationLinear, kTimes, values, 3.0f), 30.0f);
    EXPECT_FLOAT_EQ(sample1(kInterpolationLinear, kTimes, values, 3.5f), 35.0f);
}

TEST(ChannelSampling, StepHoldsAKeyUntilTheNextKeyTime) {
    const std::vector<float> values = {10.0f, 20.0f, 40.0f};
    EXPECT_FLOAT_EQ(sample1(kInterpolationStep, kTimes, values, 1.999f), 10.0f);
    EXPECT_FLOAT_EQ(sample1(kInterpolationStep, kTimes, values, 2.0f), 20.0f);
    EXPECT_FLOAT_EQ(sample1(kInterpolationStep, kTimes, values, 3.99f), 20.0f);
    EXPECT_FLOAT_EQ(sample1(kInterpolationStep, kTimes, values, 4.0f), 40.0f);
    // A single key is enough for STEP.
    EXPECT_FLOAT_EQ(sample1(kInterpolationStep, {3.0f}, {7.0f}, 0.0f), 7.0f);
}

TEST(ChannelSampling, CubicSplineMeetsTheKeysWhateverTheTangentsAndFollowsHermiteBetween) {
    const std::vector<float> cubic = {5.0f, 10.0f, 3.0f, -7.0f, 20.0f, -2.0f, 9.0f, 40.0f, 9.0f};
    EXPECT_FLOAT_EQ(sample1(kInterpolationCubicSpline, kTimes, cubic, 1.0f), 10.0f);
    EXPECT_FLOAT_EQ(sample1(kInterpolationCubicSpline, kTimes, cubic, 2.0f), 20.0f);
    EXPECT_FLOAT_EQ(sample1(kInterpolationCubicSpline, kTimes, cubic, 4.0f), 40.0f);
    // Between keys 1 and 2 (dt = 2) at u = 0.25: h00 = 0.84375, h10 = 0.140625, h01 = 0.15625, h11 =
    // -0.046875.
    float expected =
        20.0f * 0.84375f + (-2.0f) * 0.140625f * 2.0f + 9.0f * -0.046875f * 2.0f + 40.0f * 0.15625f;
    EXPECT_NEAR(sample1(kInterpolationCubicSpline, kTimes, cubic, 2.5f), expected, 1e-4f);
}

TEST(ChannelSampling, TooFewKeysOrValuesSkipTheChannel) {
    float out = 123.0f;
    const float time = 0.0f, value = 5.0f;
    EXPECT_FALSE(sampleChannel(kInterpolationLinear, &time, 1, &value, 1, 1, 0.0f, &out));
    EXPECT_FALSE(sampleChannel(kInterpolationCubicSpline, &time, 1, &value, 1, 1, 0.0f, &out));
    EXPECT_FALSE(sampleChannel(kInterpolationStep, &time, 0, &value, 1, 1, 0.0f, &out));
    // Two keys of three components need six values; five are there.
    const float times[2] = {0.0f, 1.0f}, values[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(sampleChannel(kInterpolationLinear, times, 2, values, 5, 3, 0.5f, &out));
    EXPECT_FALSE(sampleChannel(3, times, 2, values, 6, 3, 0.5f, &out)) << "unknown interpolation";
    EXPECT_EQ(out, 123.0f) << "a skipped channel must leave its destination alone";
}

TEST(ChannelSampling, EqualKeyTimesGiveTheLaterKeyWithoutDividingByZero) {
    const std::vector<float> times = {1.0f, 1.0f, 2.0f};
    EXPECT_FLOAT_EQ(sample1(kInterpolationLinear, times, {10.0f, 20.0f, 30.0f}, 1.0f), 20.0f);
    EXPECT_FLOAT_EQ(sample1(kInterpolationCubicSpline, times, {0, 10, 1, 0, 20, 1, 0, 30, 0}, 1.0f), 20.0f);
    EXPECT_FLOAT_EQ(sample1(kInterpolationLinear, {2.0f, 2.0f}, {10.0f, 20.0f}, 5.0f), 20.0f);
}

TEST(ChannelSampling, RotationsBlendComponentwiseWithoutRenormalising) {
    const float times[2] = {0.0f, 1.0f};
    const float s = std::sqrt(0.5f);
    const float values[8] = {0, 0, 0, 1, 0, 0, s, s}; // identity to 90 degrees about z
    float out[4];
    ASSERT_TRUE(sampleChannel(kInterpolationLinear, times, 2, values, 8, 4, 0.5f, out));
    EXPECT_FLOAT_EQ(out[2], s / 2);
    EXPECT_FLOAT_EQ(out[3], (1 + s) / 2);
    EXPECT_LT(std::sqrt(out[2] * out[2] + out[3] * out[3]), 1.0f);
}

TEST(ChannelTargets, CodesSplitIntoNodePathAndInterpolation) {
    ChannelTarget t = decodeChannelTarget(5 * 16 + kPathRotation + kInterpolationCubicSpline);
    EXPECT_EQ(t.node, 5);
    EXPECT_EQ(t.path, AnimationPath::rotation);
    EXPECT_EQ(t.interpolation, kInterpolationCubicSpline);
    EXPECT_EQ(t.components, 4);
    t = decodeChannelTarget(4095 * 16 + kPathScale + kInterpolationStep);
    EXPECT_EQ(t.node, 4095);
    EXPECT_EQ(t.path, AnimationPath::scale);
    EXPECT_EQ(t.components, 3);
    t = decodeChannelTarget(kPathTranslation + kInterpolationLinear);
    EXPECT_EQ(t.path, AnimationPath::translation);
    EXPECT_EQ(t.interpolation, kInterpolationLinear);
    for (int low = 9; low < 16; ++low)
        EXPECT_EQ(decodeChannelTarget(low).path, AnimationPath::invalid) << low;

    NodeTransform transform = kRestTransform;
    EXPECT_EQ(transformComponents(transform, AnimationPath::translation), transform.translation);
    EXPECT_EQ(transformComponents(transform, AnimationPath::rotation), transform.rotation);
    EXPECT_EQ(transformComponents(transform, AnimationPath::scale), transform.scale);
    EXPECT_EQ(transformComponents(transform, AnimationPath::invalid), nullptr);
}

// ---- Transforms ----

TEST(NodeTransforms, ScaleAppliesInTheNodesOwnAxesBeforeTheRotation) {
    // 90 degrees about x: y goes to z, z goes to -y. Scale (1, 0.5, 0.1): the thin z axis turns with it.
    const float s = std::sqrt(0.5f);
    NodeTransform transform = {{3, 4, 5}, {s, 0, 0, s}, {1, 0.5f, 0.1f}};
    float m[16];
    composeTransform(transform, m);
    expectNear3(apply(m, {1, 0, 0}, 0), {1, 0, 0});
    expectNear3(apply(m, {0, 1, 0}, 0), {0, 0, 0.5f});
    expectNear3(apply(m, {0, 0, 1}, 0), {0, -0.1f, 0});
    expectNear3(apply(m, {0, 0, 0}, 1), {3, 4, 5});
    EXPECT_FLOAT_EQ(m[3], 0.0f);
    EXPECT_FLOAT_EQ(m[15], 1.0f);
}

TEST(NodeTransforms, RestTransformIsTheIdentity) {
    float m[16];
    composeTransform(kRestTransform, m);
    for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(m[i], i % 5 == 0 ? 1.0f : 0.0f) << i;
}

TEST(NodeTransforms, ProductsApplyTheRightFactorFirst) {
    float translate[16], scale[16], product[16];
    composeTransform({{1, 2, 3}, {0, 0, 0, 1}, {1, 1, 1}}, translate);
    composeTransform({{0, 0, 0}, {0, 0, 0, 1}, {2, 2, 2}}, scale);
    multiplyMatrices(translate, scale, product); // scale, then translate
    expectNear3(apply(product, {1, 1, 1}, 1), {3, 4, 5});
    multiplyMatrices(scale, translate, product); // translate, then scale
    expectNear3(apply(product, {1, 1, 1}, 1), {4, 6, 8});
}

TEST(NodeTransforms, InverseUndoesARegularMatrixAndLeavesOutputAloneForASingularOne) {
    const float s = std::sin(0.7f), c = std::cos(0.7f);
    NodeTransform transform = {{1, -2, 0.5f}, {0.3f * s, 0.5f * s, 0.81240384f * s, c}, {2, 0.5f, 3}};
    float m[16], inverse[16], product[16];
    composeTransform(transform, m);
    ASSERT_TRUE(invertMatrixIfRegular(m, inverse));
    multiplyMatrices(m, inverse, product);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(product[i], i % 5 == 0 ? 1.0f : 0.0f, 1e-5f) << i;

    for (int axis = 0; axis < 3; ++axis) {
        NodeTransform flat = transform;
        flat.scale[axis] = 0.0f;
        composeTransform(flat, m);
        float untouched[16];
        for (float& v : untouched) v = 42.0f;
        EXPECT_FALSE(invertMatrixIfRegular(m, untouched)) << "zero scale on axis " << axis;
        for (float v : untouched) EXPECT_EQ(v, 42.0f);
    }
}
