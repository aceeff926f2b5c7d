#include "reference.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

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

namespace {

Vec3 boxCorner(const int32_t* words) {
    return {bitsFloat(static_cast<uint32_t>(words[0])), bitsFloat(static_cast<uint32_t>(words[1])),
            bitsFloat(static_cast<uint32_t>(words[2]))};
}

float halfArea(Vec3 lo, Vec3 hi) {
    Vec3 e{std::max(hi[0] - lo[0], 0.0f), std::max(hi[1] - lo[1], 0.0f), std::max(hi[2] - lo[2], 0.0f)};
    return e[0] * e[1] + e[1] * e[2] + e[2] * e[0];
}

bool sameCorner(const int32_t* words, Vec3 corner) {
    for (int c = 0; c < 3; ++c)
        if (static_cast<uint32_t>(words[c]) != floatBits(corner[c])) return false;
    return true;
}

} // namespace

std::vector<Vec3> quadWalls(int nx, int ny, Vec3 offset, bool shuffled) {
    std::vector<std::array<Vec3, 4>> quads;
    for (int wall = 0; wall < 4; ++wall)
        for (int y = 0; y < ny; ++y)
            for (int x = 0; x < nx; ++x) {
                std::array<Vec3, 4> quad;
                for (int corner = 0; corner < 4; ++corner) {
                    float u = float(x + (corner == 1 || corner == 2)) / nx * 10 - 5;
                    float v = float(y + (corner >= 2)) / ny * 4;
                    Vec3 p = wall % 2 == 0 ? Vec3{u, v, wall == 0 ? -5.0f : 5.0f}
                                           : Vec3{wall == 1 ? -5.0f : 5.0f, v, u};
                    for (int c = 0; c < 3; ++c) quad[corner][c] = p[c] + offset[c];
                }
                quads.push_back(quad);
            }
    if (shuffled) std::shuffle(quads.begin(), quads.end(), std::mt19937(5));
    std::vector<Vec3> corners;
    for (const auto& q : quads)
        for (int corner : {0, 1, 2, 0, 2, 3}) corners.push_back(q[corner]);
    return corners;
}

bool sharesEdge(const std::vector<FVert>& vertices, int32_t first, int32_t second) {
    int same = 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (std::memcmp(vertices[3 * first + i].uposn, vertices[3 * second + j].uposn, 12) == 0) {
                ++same;
                break;
            }
    return same >= 2;
}

TreeCheck checkTree(const std::vector<BIVH>& tree, const std::vector<FVert>& vertices,
                    int32_t triangleCount) {
    TreeCheck check;
    auto fail = [&](const std::string& what, int32_t node) {
        if (check.error.empty()) check.error = what + " at node " + std::to_string(node);
        return check;
    };
    if (tree.size() < 2) return fail("no header", 0);
    int32_t root = tree[0].mi[3];
    check.nodes = tree[0].ma[3];
    if (check.nodes < 1 || check.nodes >= static_cast<int32_t>(tree.size()) || root < 1 || root > check.nodes)
        return fail("header out of range", 0);
    std::vector<int32_t> triangleSeen(static_cast<size_t>(triangleCount), 0);
    std::vector<char> nodeSeen(static_cast<size_t>(check.nodes) + 1, 0);
    struct Item {
        int32_t node, skip, depth;
    };
    std::vector<Item> stack{{root, 0, 1}};
    double rootArea = halfArea(boxCorner(tree[root].mi), boxCorner(tree[root].ma));
    while (!stack.empty()) {
        Item item = stack.back();
        stack.pop_back();
        int32_t n = item.node;
        if (n < 1 || n > check.nodes) return fail("link out of range", n);
        if (nodeSeen[static_cast<size_t>(n)]++) return fail("node reached twice", n);
        const BIVH& node = tree[static_cast<size_t>(n)];
        if (node.ma[3] != item.skip) return fail("wrong skip link", n);
        check.depth = std::max(check.depth, item.depth);
        Vec3 lo = boxCorner(node.mi), hi = boxCorner(node.ma);
        double area = rootArea > 0 ? halfArea(lo, hi) / rootArea : 1.0;
        int32_t link = node.mi[3];
        if (link < 0) {
            int32_t first = (-1 - link) >> 1, count = 1 + ((-1 - link) & 1);
            if (first + count > triangleCount) return fail("leaf triangle out of range", n);
            if (count == 2 && !sharesEdge(vertices, first, first + 1))
                return fail("pair without a shared edge", n);
            Vec3 blo = triangleCorner(vertices, 3 * first), bhi = blo;
            for (int32_t v = 3 * first; v < 3 * (first + count); ++v)
                for (int c = 0; c < 3; ++c) {
                    blo[c] = std::min(blo[c], triangleCorner(vertices, v)[c]);
                    bhi[c] = std::max(bhi[c], triangleCorner(vertices, v)[c]);
                }
            if (!sameCorner(node.mi, blo) || !sameCorner(node.ma, bhi)) return fail("leaf box", n);
            for (int32_t t = first; t < first + count; ++t) ++triangleSeen[static_cast<size_t>(t)];
            ++check.leaves;
            check.cost += area * count;
            continue;
        }
        int32_t a = link;
        if (a < 1 || a > check.nodes) return fail("child out of range", n);
        int32_t b = tree[static_cast<size_t>(a)].ma[3];
        if (b < 1 || b > check.nodes || b == a) return fail("second child out of range", n);
        Vec3 ulo = boxCorner(tree[static_cast<size_t>(a)].mi),
             uhi = boxCorner(tree[static_cast<size_t>(a)].ma);
        for (int c = 0; c < 3; ++c) {
            ulo[c] = std::min(ulo[c], boxCorner(tree[static_cast<size_t>(b)].mi)[c]);
            uhi[c] = std::max(uhi[c], boxCorner(tree[static_cast<size_t>(b)].ma)[c]);
        }
        if (!sameCorner(node.mi, ulo) || !sameCorner(node.ma, uhi))
            return fail("box is not its children's union", n);
        check.cost += area;
        stack.push_back({b, item.skip, item.depth + 1});
        stack.push_back({a, b, item.depth + 1});
    }
    for (int32_t n = 1; n <= check.nodes; ++n)
        if (!nodeSeen[static_cast<size_t>(n)]) return fail("node not reached", n);
    for (int32_t t = 0; t < triangleCount; ++t)
        if (triangleSeen[static_cast<size_t>(t)] != 1)
            return fail("triangle " + std::to_string(t) + " not in one leaf", 0);
    return check;
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
        if (hit[3] != 0.0f && hit[0] > 0.001f && hit[0] < 0.999f) return true;
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

Walk walkAnyHit(const std::vector<BIVH>& tree, const std::vector<FVert>& vertices, Vec3 origo, Vec3 dir) {
    Walk walk;
    Vec3 inverse{1 / dir[0], 1 / dir[1], 1 / dir[2]};
    auto nodeCount = static_cast<int32_t>(tree.size());
    if (nodeCount < 2) return walk;
    for (int32_t n = tree[0].mi[3]; n > 0 && n < nodeCount;) {
        const BIVH& node = tree[static_cast<size_t>(n)];
        ++walk.nodes;
        if (!boxHitBound(boxCorner(node.mi), boxCorner(node.ma), origo, inverse)) {
            n = node.ma[3];
            continue;
        }
        if (node.mi[3] > 0) {
            n = node.mi[3];
            continue;
        }
        int32_t first = 3 * ((-1 - node.mi[3]) >> 1), count = 1 + ((-1 - node.mi[3]) & 1);
        for (int32_t b = first; b < first + 3 * count; b += 3) {
            ++walk.triangles;
            Vec4 hit = triHit(origo, dir, triangleCorner(vertices, b), triangleCorner(vertices, b + 1),
                              triangleCorner(vertices, b + 2));
            if (hit[3] != 0.0f && hit[0] > 0.001f && hit[0] < 0.999f) {
                walk.hit = true;
                return walk;
            }
        }
        n = node.ma[3];
    }
    return walk;
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

uint32_t findEntry(const LightCache& cache, Vec4 fb, uint32_t dax, int probes) {
    uint32_t h = keyHash(fb, dax);
    uint32_t slot = h % tableSize(cache);
    for (int probe = 0; probe < probes; ++probe) {
        const LICEntry& entry = cache.entries[slot];
        if ((entry.lfHI & 0x1FFFFFFu) == (h & 0x1FFFFFFu) && sameCell(entry, fb, dax)) return slot;
        slot = (slot + 1) % tableSize(cache);
    }
    return 0xFFFFFFFFu;
}

uint32_t liGetNAEntry(const LightCache& cache, Vec3 cam, Vec3 point, Vec3 normal) {
    return findEntry(cache, fragBox(point, cam, 11.0f), daxOf(normal), 20);
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

Vec3 smoothLight(const LightCache& cache, Vec3 cam, Vec3 point, Vec3 normal, uint32_t own) {
    auto entryLight = [&](uint32_t e) {
        Vec3 light{0, 0, 0};
        if (e >= 0x80000000u || !(cache.entries[e].inLight[3] > 0.0f)) return light;
        for (int c = 0; c < 3; ++c)
            light[c] = cache.entries[e].inLight[c] / std::max(cache.entries[e].inLight[3], 1.0f);
        return light;
    };
    Vec3 axis = dominantAxis(normal);
    if (axis == Vec3{0, 0, 0}) return entryLight(own);
    Vec4 fb = fragBox(point, cam, 11.0f);
    int k = axis[0] != 0 ? 0 : (axis[1] != 0 ? 1 : 2), ku = (k + 1) % 3, kv = (k + 2) % 3;
    Vec3 g;
    for (int c = 0; c < 3; ++c) g[c] = (point[c] - fb[c]) / fb[3] - 0.5f;
    float length = std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    float sum[4] = {0, 0, 0, 0};
    for (int corner = 0; corner < 4; ++corner) {
        bool alongU = corner & 1, alongV = corner & 2;
        float w = (alongU ? std::fabs(g[ku]) : 1 - std::fabs(g[ku])) *
                  (alongV ? std::fabs(g[kv]) : 1 - std::fabs(g[kv]));
        if (w <= 0) continue;
        Vec4 cell = fb; // the neighbour of the same size
        if (alongU) cell[ku] += fb[3] * (g[ku] > 0 ? 1.0f : g[ku] < 0 ? -1.0f : 0.0f);
        if (alongV) cell[kv] += fb[3] * (g[kv] > 0 ? 1.0f : g[kv] < 0 ? -1.0f : 0.0f);
        uint32_t e = corner == 0 ? own : findEntry(cache, cell, daxOf(normal), 8); // LIC_NEIGHBOUR_PROBES
        if (e >= 0x80000000u || !(cache.entries[e].inLight[3] > 0.0f)) continue;
        const LICEntry& entry = cache.entries[e];
        float offPlane = 0;
        for (int c = 0; c < 3; ++c) {
            float traced = entry.posS[c] +
                           static_cast<float>((entry.tracePos >> (8 * c)) & 255u) / 255.0f * entry.posS[3];
            offPlane += (traced - point[c]) * normal[c] / length;
        }
        if (std::fabs(offPlane) > 0.5f * fb[3]) continue;
        w *= std::min(entry.inLight[3], 1.0f);
        for (int c = 0; c < 3; ++c) sum[c] += w * entry.inLight[c] / entry.inLight[3];
        sum[3] += w;
    }
    if (!(sum[3] > 0)) return entryLight(own);
    return {sum[0] / sum[3], sum[1] / sum[3], sum[2] / sum[3]};
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
            for (int r = 0; r < rays; ++r) acc[3] += 1.0f; // every ray leaves the scene: black, weight 1
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
