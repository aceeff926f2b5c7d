// The light cache on the GPU against the CPU reference: cell, hash and axis of a lookup, claims,
// touches, expiry and the tag wrap, a full table, and the update's schedule and weight caps.
#include "gl_support.h"
#include "reference.h"

#include "platform/gl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

using namespace reference;

namespace {

const std::string kKeyKernel =
    countedKernel({"util.glsl", "licache.glsl"}, "vec4 points[]", "uvec4 keys[]", R"(
    vec3 cam = points[3 * i].xyz, p = points[3 * i + 1].xyz, n = points[3 * i + 2].xyz;
    vec4 fb = fragBox(p, cam, LIC_DENSITY);
    uint dax = packSnorm4x8(vec4(dominantAxis(n), 0.0));
    keys[2 * i] = floatBitsToUint(fb);
    keys[2 * i + 1] = uvec4(fragBoxToHash(fb), dax, liKeyHash(fb, dax), 0u);
)");

const char* kLookupKernel = R"(#version 450 core
//!!using:util.glsl
//!!using:licache.glsl
#ifdef COMPUTE
layout(local_size_x = 1) in;
uniform vec4 arg0_cam;
uniform vec4 arg1_point;
uniform vec4 arg2_normal;
layout(std430) buffer arg3_found { uint found[]; };
void main() {
    found[0] = liGetEntry(arg0_cam.xyz, arg1_point.xyz, arg2_normal.xyz);
    found[1] = liGetNAEntry(arg0_cam.xyz, arg1_point.xyz, arg2_normal.xyz);
}
#endif
)";

LightCache initialCache() {
    writeInitialLightCache();
    BufferRecord* record = storeBuffer("liCache");
    const auto* entries = static_cast<const LICEntry*>(record->hostData);
    LightCache cache;
    cache.entries.assign(entries, entries + kLightCacheEntryCount);
    return cache;
}

void upload(const LightCache& cache) {
    setHostBuffer("liCache", cache.entries);
    LICInfo info{0, 0, cache.frame, static_cast<int32_t>(cache.entries.size())};
    setHostBuffer("licInfo", std::vector<LICInfo>{info});
}

std::vector<LICEntry> downloadCache() {
    return readBuffer<LICEntry>(storeBuffer("liCache")->glBuffer, kLightCacheEntryCount);
}

bool sameEntry(const LICEntry& a, const LICEntry& b, float tolerance) {
    if (a.lfHI != b.lfHI || a.tracePos != b.tracePos || a.normal != b.normal || a.dax != b.dax) return false;
    for (int c = 0; c < 4; ++c) {
        if (a.posS[c] != b.posS[c]) return false;
        if (std::fabs(a.inLight[c] - b.inLight[c]) > tolerance * (1 + std::fabs(b.inLight[c]))) return false;
    }
    return true;
}

void expectSameTable(const std::vector<LICEntry>& gpu, const LightCache& cpu, float tolerance = 0.0f) {
    ASSERT_EQ(gpu.size(), cpu.entries.size());
    int mismatches = 0;
    for (size_t i = 0; i < gpu.size() && mismatches < 5; ++i) {
        if (sameEntry(gpu[i], cpu.entries[i], tolerance)) continue;
        ++mismatches;
        ADD_FAILURE() << "entry " << i << ": lfHI " << std::hex << gpu[i].lfHI << " vs "
                      << cpu.entries[i].lfHI << " dax " << gpu[i].dax << " vs " << cpu.entries[i].dax
                      << std::dec << " w " << gpu[i].inLight[3] << " vs " << cpu.entries[i].inLight[3];
    }
}

struct Lookup {
    uint32_t entry;
    uint32_t existing;
};

// One lookup alone on the GPU, the same on the CPU table; both results and tables must agree.
Lookup lookUp(LightCache& cpu, Vec3 cam, Vec3 point, Vec3 normal) {
    static ShaderProgram* program = buildProgram(0, kLookupKernel);
    upload(cpu);
    Vec4 camArgument = {cam[0], cam[1], cam[2], 1}, pointArgument = {point[0], point[1], point[2], 1},
         normalArgument = {normal[0], normal[1], normal[2], 0};
    std::vector<uint32_t> found{7, 7};
    BufferRecord foundRecord = hostRecord(found);
    use(program, camArgument.data(), pointArgument.data(), normalArgument.data(), &foundRecord);
    glDispatchCompute(1, 1, 1);
    std::vector<uint32_t> gpu = readBuffer<uint32_t>(foundRecord.glBuffer, 2);
    uint32_t expected = liGetEntry(cpu, cam, point, normal);
    EXPECT_EQ(gpu[0], expected);
    EXPECT_EQ(gpu[1], liGetNAEntry(cpu, cam, point, normal));
    expectSameTable(downloadCache(), cpu);
    return {gpu[0], gpu[1]};
}

LICEntry foreignEntry(int32_t frame) {
    LICEntry entry{};
    entry.lfHI = 0x0000123u + (static_cast<uint32_t>(frame) << 25);
    entry.dax = 0x7F;
    entry.posS[3] = 1.0f;
    entry.inLight[3] = 1.0f;
    return entry;
}

const Vec3 kOrigin{0, 0, 0};
const Vec3 kWorkedPoint{10, 0, 0};
const Vec3 kPlusX{1, 0, 0};

} // namespace

TEST(LightCacheKey, CellHashAndAxisMatchTheReference) {
    testRenderer();
    static ShaderProgram* program = buildProgram(0, kKeyKernel.c_str());
    std::mt19937 random(3);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<Vec4> points{{0, 0, 0, 0}, {10, 0, 0, 0}, {1, 0, 0, 0}}; // the worked key first
    for (int k = 0; k < 3000; ++k) {
        float scale = std::exp2(6.0f * unit(random));
        points.push_back({5 * unit(random), 5 * unit(random), 5 * unit(random), 0});
        points.push_back({points.back()[0] + scale * unit(random), points.back()[1] + scale * unit(random),
                          points.back()[2] + scale * unit(random), 0});
        points.push_back({unit(random), unit(random), unit(random), 0});
    }
    int32_t count = static_cast<int32_t>(points.size() / 3);
    std::vector<std::array<uint32_t, 4>> keys = runCountedKernel<std::array<uint32_t, 4>>(
        program, points, count, 2 * points.size() / 3, {7, 7, 7, 7});

    EXPECT_EQ(keys[0], (std::array<uint32_t, 4>{floatBits(10), 0, 0, floatBits(0.5f)}));
    EXPECT_EQ(keys[1][0], 148886334u);
    EXPECT_EQ(keys[1][1], 0x7Fu);
    EXPECT_EQ(keys[1][2], 0x08DFD3BDu);
    int mismatches = 0;
    for (int32_t i = 0; i < count && mismatches < 5; ++i) {
        Vec3 cam{points[3 * i][0], points[3 * i][1], points[3 * i][2]};
        Vec3 p{points[3 * i + 1][0], points[3 * i + 1][1], points[3 * i + 1][2]};
        Vec3 n{points[3 * i + 2][0], points[3 * i + 2][1], points[3 * i + 2][2]};
        Vec4 fb = fragBox(p, cam, 11.0f);
        std::array<uint32_t, 4> cell{floatBits(fb[0]), floatBits(fb[1]), floatBits(fb[2]), floatBits(fb[3])};
        std::array<uint32_t, 4> key{fragBoxToHash(fb), daxOf(n), lookupHash(cam, p, n), 0};
        if (keys[2 * i] != cell || keys[2 * i + 1] != key) {
            ++mismatches;
            ADD_FAILURE() << "point " << i << " cell edge " << bitsFloat(keys[2 * i][3]) << " vs " << fb[3];
        }
    }
}

TEST(LightCacheLookup, ClaimTouchAndNeighbourSeed) {
    testRenderer();
    LightCache cpu = initialCache();
    // The worked key probes 5870 first; that slot's spread tag (54) is recent at frame 80.
    Lookup first = lookUp(cpu, kOrigin, kWorkedPoint, kPlusX);
    EXPECT_EQ(first.entry, 5871u);
    EXPECT_EQ(first.existing, 5871u);
    EXPECT_EQ(cpu.entries[5871].lfHI, 0x0DFD3BDu + (80u << 25));
    EXPECT_EQ(cpu.entries[5871].dax, 0x7Fu);
    EXPECT_EQ(lookUp(cpu, kOrigin, kWorkedPoint, kPlusX).entry, 5871u); // found again, unchanged

    cpu.frame = 81;
    EXPECT_EQ(lookUp(cpu, kOrigin, {10.2f, 0.1f, 0.3f}, kPlusX).entry, 5871u); // touched: new tag and point
    EXPECT_EQ(cpu.entries[5871].lfHI >> 25, 81u);

    // A claim next to it takes its light.
    cpu.entries[5871].inLight[0] = 3.0f;
    cpu.entries[5871].inLight[3] = 2.0f;
    Lookup neighbour = lookUp(cpu, kOrigin, {10.1f, 0.6f, 0.1f}, kPlusX);
    ASSERT_LT(neighbour.entry, 0x80000000u);
    EXPECT_NE(neighbour.entry, 5871u);
    EXPECT_EQ(cpu.entries[neighbour.entry].inLight[0], 3.0f);

    // A zero normal is claimed with no axis.
    Lookup flat = lookUp(cpu, kOrigin, {-4.0f, 2.0f, 1.0f}, {0, 0, 0});
    ASSERT_LT(flat.entry, 0x80000000u);
    EXPECT_EQ(cpu.entries[flat.entry].dax, 0u);
}

TEST(LightCacheLookup, ExpiryAndTheTagWrap) {
    testRenderer();
    const uint32_t h = lookupHash(kOrigin, kWorkedPoint, kPlusX);
    const uint32_t first = h % kLightCacheEntryCount;
    struct Case {
        int32_t foreignTag;
        uint32_t expected;
    } cases[] = {
        {37, first + 1}, // 63 frames old: still reserved
        {36, first},     // 64 frames old: taken over
        {100, first + 1} // 128 frames old: reserved again
    };
    for (const Case& c : cases) {
        LightCache cpu = initialCache();
        cpu.frame = 100;
        cpu.entries[first] = foreignEntry(c.foreignTag);
        cpu.entries[first + 1] = foreignEntry(0);
        EXPECT_EQ(lookUp(cpu, kOrigin, kWorkedPoint, kPlusX).entry, c.expected) << c.foreignTag;
    }

    LightCache full = initialCache();
    for (uint32_t k = 0; k < 20; ++k) full.entries[first + k] = foreignEntry(full.frame);
    Lookup none = lookUp(full, kOrigin, kWorkedPoint, kPlusX);
    EXPECT_EQ(none.entry, 0xFFFFFFFFu);
    EXPECT_EQ(none.existing, 0xFFFFFFFFu);
    full.entries[first + 19] = foreignEntry(full.frame - 64);
    EXPECT_EQ(lookUp(full, kOrigin, kWorkedPoint, kPlusX).entry, first + 19);
}

// An empty scene seen from the origin, and a cache whose every entry is in use this frame, each
// in a cell far from the others (no neighbours to blend with); `lightOf(i, inLight)` writes
// entry i's light sum.
template <typename LightOf> LightCache farApartEntries(LightOf lightOf) {
    installEmptyScene();
    float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::memcpy(storeValue<float>("invCamera", 64), identity, sizeof(identity));
    LightCache cache = initialCache();
    for (uint32_t i = 0; i < cache.entries.size(); ++i) {
        LICEntry& entry = cache.entries[i];
        entry.lfHI = 0x155u + (80u << 25);
        entry.dax = 0x7F;
        entry.normal = packSnorm4x8({0, 0, 1, 0});
        entry.tracePos = 0x00808080;
        float posS[4] = {1000.0f + static_cast<float>(i), 0, 0, 0.5f};
        std::memcpy(entry.posS, posS, sizeof(posS));
        lightOf(i, entry.inLight);
    }
    return cache;
}

TEST(LightCacheUpdate, ScheduleAndWeightCapsOverTheWholeTable) {
    CachedGI& renderer = testRenderer();
    // Weights 1, 4 and 200.
    LightCache cpu = farApartEntries([](uint32_t i, float* inLight) {
        const float weights[3] = {1.0f, 4.0f, 200.0f};
        const float sum[4] = {1, 2, 3, weights[i % 3]};
        std::memcpy(inLight, sum, sizeof(sum));
    });
    upload(cpu);
    renderer.updateLightCache();
    EXPECT_EQ(static_cast<const LICInfo*>(storeBuffer("licInfo")->hostData)->licFrameNr, 81);
    EXPECT_EQ(storeBuffer("licInfo")->pending, 1);
    std::vector<LICEntry> gpu = downloadCache();
    // The listing pass put exactly the entries due to gather or blend under the refresh.
    int due = 0;
    for (uint32_t i = 0; i < cpu.entries.size(); ++i) {
        UpdateStep step = updateStep(cpu.entries[i], i, cpu.frame);
        due += step == UpdateStep::gather || step == UpdateStep::blend;
    }
    std::vector<uint32_t> list =
        readBuffer<uint32_t>(storeBuffer("licList")->glBuffer, kLightCacheListHeaderWords);
    EXPECT_EQ(list[3], static_cast<uint32_t>(due));
    EXPECT_EQ(list[0], (list[3] + 63) / 64) << "work groups of 64 over the list";
    updateWithoutGeometry(cpu, kOrigin);
    expectSameTable(gpu, cpu, 1e-5f);

    int gathers = 0, blends = 0, left = 0;
    for (uint32_t i = 0; i < gpu.size(); ++i) {
        const float w = gpu[i].inLight[3];
        switch (i % 3) {
        case 0: // weight 1: gather adds 19 rays that leave the scene, blend gives 13, leave keeps 1
            gathers += w == 20.0f;
            blends += w == 13.0f;
            left += w == 1.0f;
            break;
        case 1:
            EXPECT_TRUE(w == 40.0f || w == 4.0f || w == 23.0f) << i;
            break;
        case 2:
            EXPECT_TRUE(w == 40.0f || w == 200.0f || std::fabs(w - 120.0f) < 1e-4f) << i;
            break;
        }
    }
    EXPECT_NEAR(gathers, 8238 / 3, 200);
    EXPECT_GT(blends, 20000);
    EXPECT_GT(left, 20000);
}

TEST(LightCacheUpdate, BlendsWithNeighbourCells) {
    CachedGI& renderer = testRenderer();
    installEmptyScene();
    LightCache cpu = initialCache();
    std::mt19937 random(5);
    std::uniform_real_distribution<float> weight(0.0005f, 150.0f);
    // A 7 x 7 patch of cells on the plane x = 10, checkerboard: the updated half only reads the other.
    for (int j = -3; j <= 3; ++j)
        for (int k = -3; k <= 3; ++k) {
            uint32_t e = liGetEntry(cpu, kOrigin, {10.1f, 0.1f + 0.5f * j, 0.1f + 0.5f * k}, kPlusX);
            ASSERT_LT(e, 0x80000000u);
            LICEntry& entry = cpu.entries[e];
            ASSERT_EQ(entry.posS[3], 0.5f);
            if ((j + k) % 2 != 0) entry.lfHI = (entry.lfHI & 0x1FFFFFFu) + (70u << 25);
            float w = weight(random);
            float light[4] = {weight(random), weight(random), weight(random), w};
            std::memcpy(entry.inLight, light, sizeof(light));
        }
    upload(cpu);
    renderer.updateLightCache();
    std::vector<LICEntry> gpu = downloadCache();
    LightCache before = cpu;
    updateWithoutGeometry(cpu, kOrigin);
    expectSameTable(gpu, cpu, 1e-5f);
    int blendedWithNeighbours = 0;
    for (size_t i = 0; i < gpu.size(); ++i) {
        if (updateStep(before.entries[i], static_cast<uint32_t>(i), 80) != UpdateStep::blend) continue;
        // Alone, the entry would only be scaled: its colour ratio would stay.
        const float* old = before.entries[i].inLight;
        if (std::fabs(gpu[i].inLight[0] / gpu[i].inLight[3] - old[0] / old[3]) > 1e-3f * old[0] / old[3])
            ++blendedWithNeighbours;
    }
    EXPECT_GT(blendedWithNeighbours, 3);
}

// ---- Non-finite light ----

namespace {

// Sums the update must not keep or spread: infinite or NaN colour with a normal weight, a
// non-finite weight; and one sound sum.
const float kInf = INFINITY, kNaN = NAN;
const float kBrokenLights[][4] = {{kInf, 1, 1, 5}, {kNaN, 1, 1, 5}, {1, -kInf, 1, 5},
                                  {1, 1, 1, kNaN}, {1, 1, 1, kInf}, {1, 2, 3, 4}};
constexpr size_t kBrokenLightCount = sizeof kBrokenLights / sizeof kBrokenLights[0];

bool finiteLight(const LICEntry& entry) {
    for (float c : entry.inLight)
        if (!std::isfinite(c)) return false;
    return true;
}

// Every entry the update wrote this frame holds a finite sum, and the GPU agrees with the CPU.
void expectUpdatedEntriesFinite(const LightCache& before, const std::vector<LICEntry>& gpu) {
    int updated = 0;
    for (uint32_t i = 0; i < gpu.size(); ++i) {
        UpdateStep step = updateStep(before.entries[i], i, before.frame);
        if (step != UpdateStep::blend && step != UpdateStep::gather) continue;
        ++updated;
        EXPECT_TRUE(finiteLight(gpu[i]))
            << "entry " << i << (step == UpdateStep::blend ? " (blend)" : " (gather)") << ": "
            << gpu[i].inLight[0] << " " << gpu[i].inLight[1] << " " << gpu[i].inLight[2] << " "
            << gpu[i].inLight[3];
        if (!finiteLight(gpu[i])) return;
    }
    EXPECT_GT(updated, 0);
}

} // namespace

TEST(LightCacheUpdate, NonFiniteSumsRestartAndNeverSpread) {
    CachedGI& renderer = testRenderer();
    // Cycling through the broken sums: blends and gathers must restart each one.
    LightCache alone = farApartEntries([](uint32_t i, float* inLight) {
        std::memcpy(inLight, kBrokenLights[i % kBrokenLightCount], 4 * sizeof(float));
    });
    upload(alone);
    renderer.updateLightCache();
    std::vector<LICEntry> gpu = downloadCache();
    expectUpdatedEntriesFinite(alone, gpu);
    LightCache cpu = alone;
    updateWithoutGeometry(cpu, kOrigin);
    expectSameTable(gpu, cpu, 1e-5f);

    // A checkerboard patch whose resting half holds the broken sums: the blending half must
    // not take them in.
    LightCache patch = initialCache();
    int broken = 0;
    for (int j = -3; j <= 3; ++j)
        for (int k = -3; k <= 3; ++k) {
            uint32_t e = liGetEntry(patch, kOrigin, {10.1f, 0.1f + 0.5f * j, 0.1f + 0.5f * k}, kPlusX);
            ASSERT_LT(e, 0x80000000u);
            LICEntry& entry = patch.entries[e];
            float sound[4] = {1, 2, 3, 4};
            if ((j + k) % 2 != 0) {
                entry.lfHI = (entry.lfHI & 0x1FFFFFFu) + (70u << 25);
                std::memcpy(entry.inLight, kBrokenLights[broken++ % (kBrokenLightCount - 1)], sizeof(sound));
            } else {
                std::memcpy(entry.inLight, sound, sizeof(sound));
            }
        }
    upload(patch);
    renderer.updateLightCache();
    gpu = downloadCache();
    expectUpdatedEntriesFinite(patch, gpu);
    cpu = patch;
    updateWithoutGeometry(cpu, kOrigin);
    expectSameTable(gpu, cpu, 1e-5f);
}

// ---- Reading the cache smoothly ----

namespace {

const std::string kSmoothKernel =
    countedKernel({"util.glsl", "licache.glsl"}, "vec4 points[]", "vec4 lights[]", R"(
    vec3 cam = points[3 * i].xyz, p = points[3 * i + 1].xyz, n = points[3 * i + 2].xyz;
    lights[i] = vec4(liSmoothLight(cam, p, n, liGetNAEntry(cam, p, n)), 1.0);
)");

} // namespace

TEST(LightCacheRead, SmoothAcrossCellsAsTheReferenceWeighsThem) {
    testRenderer();
    static ShaderProgram* program = buildProgram(0, kSmoothKernel.c_str());
    // A 7 x 7 patch of half-unit cells on the plane x = 10.1 with random light and weights (some
    // below one sample); one cell has no entry and one was traced from another surface 0.4 away.
    LightCache cpu = initialCache();
    std::mt19937 random(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int j = -3; j <= 3; ++j)
        for (int k = -3; k <= 3; ++k) {
            uint32_t e = liGetEntry(cpu, kOrigin, {10.1f, 0.25f + 0.5f * j, 0.25f + 0.5f * k}, kPlusX);
            ASSERT_LT(e, 0x80000000u);
            LICEntry& entry = cpu.entries[e];
            float w = 0.3f + 50.0f * unit(random) * unit(random);
            for (int c = 0; c < 3; ++c) entry.inLight[c] = w * (0.5f + 4.5f * unit(random));
            entry.inLight[3] = w;
            if (j == 1 && k == -2) entry.dax = 0;
            if (j == -1 && k == 1) entry.tracePos |= 0xFFu;
        }
    upload(cpu);

    // Random points of the patch, and pairs straddling each cell edge across z by 2 mm.
    std::vector<Vec4> points;
    auto add = [&](Vec3 p, Vec3 n) {
        points.push_back({0, 0, 0, 0});
        points.push_back({p[0], p[1], p[2], 0});
        points.push_back({n[0], n[1], n[2], 0});
    };
    for (int s = 0; s < 400; ++s)
        add({10.05f + 0.1f * unit(random), -1.5f + 3.5f * unit(random), -1.5f + 3.5f * unit(random)},
            {0.95f, 0.3f * unit(random) - 0.15f, 0.3f * unit(random) - 0.15f});
    const int pairsFrom = static_cast<int>(points.size() / 3);
    for (int edge = -2; edge <= 3; ++edge)
        for (float y = -1.45f; y < 2.0f; y += 0.1f)
            for (float side : {-0.001f, 0.001f}) add({10.1f, y, 0.5f * edge + side}, kPlusX);
    int32_t count = static_cast<int32_t>(points.size() / 3);
    std::vector<Vec4> gpu = runCountedKernel<Vec4>(program, points, count, count, {-1, -1, -1, -1});

    int mismatches = 0;
    for (int32_t i = 0; i < count && mismatches < 5; ++i) {
        Vec3 p{points[3 * i + 1][0], points[3 * i + 1][1], points[3 * i + 1][2]};
        Vec3 n{points[3 * i + 2][0], points[3 * i + 2][1], points[3 * i + 2][2]};
        Vec3 expected = smoothLight(cpu, kOrigin, p, n, liGetNAEntry(cpu, kOrigin, p, n));
        for (int c = 0; c < 3; ++c)
            if (std::fabs(gpu[i][c] - expected[c]) > 1e-4f * (1 + expected[c])) {
                ++mismatches;
                ADD_FAILURE() << "point " << i << " (" << p[1] << ", " << p[2] << ") channel " << c << ": "
                              << gpu[i][c] << " vs " << expected[c];
                break;
            }
    }
    // No seam: across a cell edge the light moves by what 2 mm of interpolation allow (cells
    // differ by up to 4.5), not by the step between two cells.
    for (int32_t i = pairsFrom; i + 1 < count; i += 2)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(gpu[i][c], gpu[i + 1][c], 0.03f)
                << "z " << points[3 * i + 1][2] << " y " << points[3 * i + 1][1];
}
