#include "reference.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace reference {

uint32_t floatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return bits;
}

float bitsFloat(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

uint32_t packSnorm4x8(Vec4 value) {
    uint32_t packed = 0;
    for (int c = 0; c < 4; ++c) {
        auto byte = static_cast<int8_t>(std::nearbyint(std::clamp(value[c], -1.0f, 1.0f) * 127.0f));
        packed |= static_cast<uint32_t>(static_cast<uint8_t>(byte)) << (8 * c);
    }
    return packed;
}

Vec4 unpackSnorm4x8(uint32_t packed) {
    Vec4 value;
    for (int c = 0; c < 4; ++c)
        value[c] =
            std::clamp(static_cast<float>(static_cast<int8_t>(packed >> (8 * c))) / 127.0f, -1.0f, 1.0f);
    return value;
}

uint32_t packUnorm4x8(Vec4 value) {
    uint32_t packed = 0;
    for (int c = 0; c < 4; ++c)
        packed |= static_cast<uint32_t>(std::nearbyint(std::clamp(value[c], 0.0f, 1.0f) * 255.0f)) << (8 * c);
    return packed;
}

uint32_t bitfieldReverse(uint32_t value) {
    uint32_t reversed = 0;
    for (int bit = 0; bit < 32; ++bit)
        if (value & (1u << bit)) reversed |= 1u << (31 - bit);
    return reversed;
}

namespace {

Vec3 sub(Vec3 a, Vec3 b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
Vec3 cross(Vec3 a, Vec3 b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
float dot(Vec3 a, Vec3 b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
float length(Vec3 a) {
    return std::sqrt(dot(a, a));
}

Vec3 position(const FVert& vertex) {
    return {bitsFloat(vertex.uposn[0]), bitsFloat(vertex.uposn[1]), bitsFloat(vertex.uposn[2])};
}

Vec3 triangleCorner(const std::vector<FVert>& vertices, int32_t index) {
    return position(vertices[index]);
}

} // namespace

// ---- Triangle tree ----

std::vector<FVert> capturedVertices(const std::vector<Vec3>& corners) {
    std::vector<FVert> vertices(corners.size());
    for (size_t v = 0; v < corners.size(); ++v) {
        for (int c = 0; c < 3; ++c) vertices[v].uposn[c] = floatBits(corners[v][c]);
        vertices[v].uposn[3] = packSnorm4x8({0, 0, 1, 0});
    }
    return vertices;
}

std::vector<BIVH> buildTree(const std::vector<FVert>& vertices, int32_t triangleCount) {
    TreeShape shape = treeShape(triangleCount);
    std::vector<BIVH> tree(static_cast<size_t>(shape.nodeCount), BIVH{});
    int32_t vertexCount = 3 * triangleCount;
    for (int32_t leaf = 0; leaf < shape.leafCount; ++leaf) {
        Vec3 lo{0, 0, 0}, hi{0, 0, 0};
        int32_t flags = 0;
        for (int32_t i = 0; i < 6; ++i) {
            int32_t v = 6 * leaf + i;
            if (v >= vertexCount) continue;
            flags |= 1 << (i / 3);
            Vec3 p = position(vertices[v]);
            for (int c = 0; c < 3; ++c) {
                lo[c] = i == 0 ? p[c] : std::min(lo[c], p[c]);
                hi[c] = i == 0 ? p[c] : std::max(hi[c], p[c]);
            }
        }
        BIVH& node = tree[shape.leafCount + leaf];
        for (int c = 0; c < 3; ++c) {
            node.mi[c] = static_cast<int32_t>(floatBits(lo[c]));
            node.ma[c] = static_cast<int32_t>(floatBits(hi[c]));
        }
        node.mi[3] = flags;
        node.ma[3] = 6 * leaf;
    }
    for (int32_t level = shape.leafCount / 2; level >= 1; level /= 2) {
        for (int32_t n = level; n < 2 * level; ++n) {
            const BIVH& left = tree[2 * n];
            const BIVH& right = tree[2 * n + 1];
            BIVH& node = tree[n];
            for (int c = 0; c < 3; ++c) {
                node.mi[c] =
                    static_cast<int32_t>(floatBits(std::min(bitsFloat(left.mi[c]), bitsFloat(right.mi[c]))));
                node.ma[c] =
                    static_cast<int32_t>(floatBits(std::max(bitsFloat(left.ma[c]), bitsFloat(right.ma[c]))));
            }
            node.mi[3] = (left.mi[3] != 0 ? 4 : 0) + (right.mi[3] != 0 ? 8 : 0);
            node.ma[3] = level;
        }
    }
    return tree;
}

// ---- Segments ----

bool boxHitBound(Vec3 mi, Vec3 ma, Vec3 origo, Vec3 iRayDir) {
    float inner = -INFINITY, outer = INFINITY;
    for (int c = 0; c < 3; ++c) {
        float t0 = (mi[c] - origo[c]) * iRayDir[c];
        float t1 = (ma[c] - origo[c]) * iRayDir[c];
        inner = std::max(inner, std::min(t0, t1));
        outer = std::min(outer, std::max(t0, t1));
    }
    return outer > 0.0f && inner < 1.0f && inner <= outer;
}

Vec4 triHit(Vec3 origo, Vec3 dir, Vec3 v1, Vec3 v2, Vec3 v3) {
    Vec3 e1 = sub(v2, v1), e2 = sub(v3, v1);
    Vec3 p = cross(dir, e2);
    float det = dot(e1, p);
    if (std::fabs(det) < 1e-15f) return {0, 0, 0, 0};
    Vec3 s = sub(origo, v1);
    float u = dot(s, p) / det;
    if (u < 0.0f || u > 1.0f) return {0, 0, 0, 0};
    Vec3 q = cross(s, e1);
    float v = dot(dir, q) / det;
    if (v < 0.0f || u + v > 1.0f) return {0, 0, 0, 0};
    float t = dot(e2, q) / det;
    if (t < 0.0f || t > 1.0f) return {t, u, v, 0};
    return {t, u, v, 1};
}

bool anyHit(const std::vector<FVert>& vertices, int32_t triangleCount, Vec3 origo, Vec3 dir) {
    for (int32_t k = 0; k < triangleCount; ++k) {
        Vec4 hit = triHit(origo, dir, triangleCorner(vertices, 3 * k), triangleCorner(vertices, 3 * k + 1),
                          triangleCorner(vertices, 3 * k + 2));
        if (hit[3] != 0.0f && hit[0] > 0.001f && hit[0] < 0.9999f) return true;
    }
    return false;
}

Vec4 closestHit(const std::vector<FVert>& vertices, int32_t triangleCount, Vec3 origo, Vec3 dir) {
    Vec4 best{10.001f, 0.0f, 1.0f, -1.0f};
    for (int32_t k = 0; k < triangleCount; ++k) {
        Vec4 hit = triHit(origo, dir, triangleCorner(vertices, 3 * k), triangleCorner(vertices, 3 * k + 1),
                          triangleCorner(vertices, 3 * k + 2));
        if (hit[3] != 0.0f && hit[0] > 0.00001f && hit[0] < best[0])
            best = {hit[0], hit[1], hit[2], static_cast<float>(3 * k)};
    }
    return best;
}

// ---- Light cache ----

Vec4 fragBox(Vec3 pos, Vec3 cam, float density) {
    float size = std::exp2(1.0f + std::ceil(std::log2(length(sub(pos, cam)))));
    Vec4 result{pos[0], pos[1], pos[2], size};
    for (int step = 0; step < 64; ++step) {
        Vec3 mi, centre;
        for (int c = 0; c < 3; ++c) {
            mi[c] = size * std::floor(pos[c] / size);
            centre[c] = mi[c] + size / 2.0f;
        }
        if (size < length(sub(centre, cam)) / density) return {mi[0], mi[1], mi[2], size};
        size *= 0.5f;
    }
    return result;
}

uint32_t fragBoxToHash(Vec4 fb) {
    const float scale[4] = {0.0124412f, 1.31251346123f, 321.41231f, 0.012341731f};
    const uint32_t mulA[4] = {185683u, 736867u, 313009u, 675347u};
    const uint32_t mulB[4] = {162671u, 670321u, 711023u, 506609u};
    uint32_t t[4];
    for (int c = 0; c < 4; ++c) t[c] = floatBits(fb[c] * scale[c]);
    const uint32_t wzyx[4] = {t[3], t[2], t[1], t[0]};
    const uint32_t zwxy[4] = {t[2], t[3], t[0], t[1]};
    uint32_t next[4];
    uint32_t reversedW = bitfieldReverse(t[3]);
    for (int c = 0; c < 4; ++c)
        next[c] = ((t[c] * reversedW) ^ ((bitfieldReverse(wzyx[c]) * mulA[c]) >> 7)) ^
                  bitfieldReverse((zwxy[c] >> 16) * mulB[c]);
    return (next[0] ^ next[1] ^ next[2] ^ next[3]) >> 4;
}

Vec3 dominantAxis(Vec3 v) {
    Vec3 a{std::fabs(v[0]), std::fabs(v[1]), std::fabs(v[2])};
    int axis = a[0] > a[1] ? (a[0] > a[2] ? 0 : 2) : (a[1] > a[2] ? 1 : 2);
    Vec3 result{0, 0, 0};
    result[axis] = v[axis] > 0.0f ? 1.0f : (v[axis] < 0.0f ? -1.0f : 0.0f);
    return result;
}

uint32_t daxOf(Vec3 normal) {
    Vec3 a = dominantAxis(normal);
    return packSnorm4x8({a[0], a[1], a[2], 0.0f});
}

namespace {
uint32_t keyHash(Vec4 fb, uint32_t dax) {
    return fragBoxToHash(fb) + (dax ^ ((dax >> 16) * 37u));
}
bool sameCell(const LICEntry& entry, Vec4 fb, uint32_t dax) {
    return entry.posS[0] == fb[0] && entry.posS[1] == fb[1] && entry.posS[2] == fb[2] &&
           entry.posS[3] == fb[3] && entry.dax == dax;
}
uint32_t tableSize(const LightCache& cache) {
    return static_cast<uint32_t>(cache.entries.size());
}
} // namespace

uint32_t lookupHash(Vec3 cam, Vec3 point, Vec3 normal) {
    return keyHash(fragBox(point, cam, 11.0f), daxOf(normal));
}

uint32_t liGetNAEntry(const LightCache& cache, Vec3 cam, Vec3 point, Vec3 normal) {
    Vec4 fb = fragBox(point, cam, 11.0f);
    uint32_t dax = daxOf(normal);
    uint32_t h = keyHash(fb, dax);
    uint32_t slot = h % tableSize(cache);
    for (int probe = 0; probe < 20; ++probe) {
        const LICEntry& entry = cache.entries[slot];
        if ((entry.lfHI & 0x1FFFFFFu) == (h & 0x1FFFFFFu) && sameCell(entry, fb, dax)) return slot;
        slot = (slot + 1) % tableSize(cache);
    }
    return 0xFFFFFFFFu;
}

uint32_t liGetEntry(LightCache& cache, Vec3 cam, Vec3 point, Vec3 normal) {
    Vec4 fb = fragBox(point, cam, 11.0f);
    Vec3 axis = dominantAxis(normal);
    uint32_t dax = daxOf(normal);
    uint32_t h = keyHash(fb, dax);
    uint32_t f = (h & 0x1FFFFFFu) + (static_cast<uint32_t>(cache.frame) << 25);
    Vec4 fraction{(point[0] - fb[0]) / fb[3], (point[1] - fb[1]) / fb[3], (point[2] - fb[2]) / fb[3], 0.0f};
    uint32_t tracePos = 0;
    for (int c = 0; c < 4; ++c)
        tracePos |= static_cast<uint32_t>(std::nearbyint(std::clamp(fraction[c], 0.0f, 1.0f) * 255.0f))
                    << (8 * c);
    uint32_t packedNormal = packSnorm4x8({normal[0], normal[1], normal[2], 0.0f});
    uint32_t slot = h % tableSize(cache);
    for (int probe = 0; probe < 20; ++probe) {
        uint32_t e = slot;
        slot = (slot + 1) % tableSize(cache);
        LICEntry& entry = cache.entries[e];
        if ((entry.lfHI & 0x1FFFFFFu) == (f & 0x1FFFFFFu)) {
            if (!sameCell(entry, fb, dax)) continue;
            if (entry.lfHI != f) {
                entry.lfHI = f;
                entry.tracePos = tracePos;
                entry.normal = packedNormal;
            }
            return e;
        }
        if (static_cast<int32_t>((f & 0xFE000000u) - (entry.lfHI & 0xFE000000u)) >= 0) continue;
        entry.lfHI = f;
        for (int c = 0; c < 4; ++c) entry.posS[c] = fb[c];
        entry.dax = dax;
        entry.tracePos = tracePos;
        entry.normal = packedNormal;
        for (int c = 0; c < 4; ++c) entry.diLight[c] = entry.inLight[c] = c == 3 ? 0.001f : 0.00002f;
        for (int d = 0; d < 6; ++d) {
            Vec3 neighbour;
            for (int c = 0; c < 3; ++c) neighbour[c] = fb[c] + fb[3] * 0.5f;
            neighbour[d / 2] += fb[3] * (d % 2 == 0 ? -1.0f : 1.0f);
            uint32_t found = liGetNAEntry(cache, cam, neighbour, axis);
            if (found < 0x80000000u && found != e) {
                std::memcpy(entry.inLight, cache.entries[found].inLight, sizeof(entry.inLight));
                break;
            }
        }
        return e;
    }
    return 0xFFFFFFFFu;
}

UpdateStep updateStep(const LICEntry& entry, uint32_t index, int32_t frame) {
    bool recent = false;
    for (int k = 0; k < 4; ++k)
        recent |= (entry.lfHI & 0xFE000000u) == (static_cast<uint32_t>(frame - k) << 25);
    if (entry.dax == 0 || !recent) return UpdateStep::skip;
    uint32_t testV = index * 117977u + static_cast<uint32_t>(frame) * 75389u;
    if (testV % 17u == 0) return UpdateStep::gather;
    return (testV & 1u) == 0 ? UpdateStep::blend : UpdateStep::leave;
}

int gatherRayCount(float weight) {
    return static_cast<int>(std::max((120.0f - weight) / 6.0f, 1.0f));
}

namespace {

bool finite(const Vec4& v) {
    return std::all_of(v.begin(), v.end(), [](float c) { return std::isfinite(c); });
}

// An entry's sum as the update starts from it: a non-finite sum or a weight out of range restarts.
Vec4 restartIfBroken(const float* inLight) {
    Vec4 acc;
    std::memcpy(acc.data(), inLight, sizeof(acc));
    if (!finite(acc) || !(acc[3] >= 0.0f && acc[3] <= 1000000.0f)) acc = {0.0f, 0.0f, 0.0f, 0.001f};
    return acc;
}

} // namespace

void updateWithoutGeometry(LightCache& cache, Vec3 cam) {
    const std::vector<LICEntry> before = cache.entries;
    LightCache snapshot{before, cache.frame};
    for (uint32_t i = 0; i < tableSize(cache); ++i) {
        const LICEntry& entry = before[i];
        float* out = cache.entries[i].inLight;
        switch (updateStep(entry, i, cache.frame)) {
        case UpdateStep::skip:
        case UpdateStep::leave:
            break;
        case UpdateStep::blend: {
            Vec4 acc = restartIfBroken(entry.inLight);
            for (float& c : acc) c *= 13.0f;
            Vec4 axis = unpackSnorm4x8(entry.dax);
            for (int d = 0; d < 6; ++d) {
                Vec3 neighbour;
                for (int c = 0; c < 3; ++c) neighbour[c] = entry.posS[c] + entry.posS[3] * 0.5f;
                neighbour[d / 2] += entry.posS[3] * (d % 2 == 0 ? -1.0f : 1.0f);
                uint32_t found = liGetNAEntry(snapshot, cam, neighbour, {axis[0], axis[1], axis[2]});
                if (found >= 0x80000000u) continue;
                Vec4 light;
                std::memcpy(light.data(), before[found].inLight, sizeof(light));
                if (light[3] > 0.0001f && light[3] < 100.0f && finite(light))
                    for (int c = 0; c < 4; ++c) acc[c] += light[c];
            }
            if (acc[3] > 40.0f) {
                float scale = 40.0f / acc[3];
                for (float& c : acc) c *= scale;
            }
            std::memcpy(out, acc.data(), sizeof(acc));
            break;
        }
        case UpdateStep::gather: {
            Vec4 acc = restartIfBroken(entry.inLight);
            int rays = gatherRayCount(acc[3]);
            for (int r = 0; r < rays; ++r) acc[3] += 0.0001f;
            if (acc[3] > 120.0f) {
                float scale = 120.0f / acc[3];
                for (float& c : acc) c *= scale;
            }
            std::memcpy(out, acc.data(), sizeof(acc));
            break;
        }
        }
    }
}

} // namespace reference
