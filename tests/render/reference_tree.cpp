#include "reference_tree.h"

#include <algorithm>
#include <cmath>

namespace reference {

namespace {

constexpr int kBins = 32;
constexpr int kMaxLeafTriangles = 2;
constexpr int kMaxLights = 100; // lights the shading pass reads

struct Box {
    Vec3 lo{INFINITY, INFINITY, INFINITY};
    Vec3 hi{-INFINITY, -INFINITY, -INFINITY};

    void grow(const Vec3& p) {
        for (int c = 0; c < 3; ++c) {
            lo[c] = std::min(lo[c], p[c]);
            hi[c] = std::max(hi[c], p[c]);
        }
    }
    void grow(const Box& b) {
        for (int c = 0; c < 3; ++c) {
            lo[c] = std::min(lo[c], b.lo[c]);
            hi[c] = std::max(hi[c], b.hi[c]);
        }
    }
    // Half the surface area; empty boxes count 0.
    float area() const {
        if (!(lo[0] <= hi[0])) return 0.0f;
        float x = hi[0] - lo[0], y = hi[1] - lo[1], z = hi[2] - lo[2];
        return x * y + y * z + z * x;
    }
};

struct Bin {
    Box box;
    int32_t count = 0;
};

} // namespace

// ---- Tree ----

std::vector<Vec3> capturedCorners(const std::vector<FVert>& vertices, int32_t triangleCount) {
    size_t count = std::min(vertices.size(), 3 * static_cast<size_t>(std::max(triangleCount, 0)));
    std::vector<Vec3> corners(count - count % 3);
    for (size_t v = 0; v < corners.size(); ++v)
        for (int c = 0; c < 3; ++c) corners[v][c] = bitsFloat(vertices[v].uposn[c]);
    return corners;
}

SahTree buildSahTree(const std::vector<Vec3>& corners) {
    const auto triangleCount = static_cast<int32_t>(corners.size() / 3);
    SahTree tree;
    if (triangleCount == 0) return tree;
    std::vector<Box> boxes(static_cast<size_t>(triangleCount));
    std::vector<Vec3> centroids(boxes.size());
    for (int32_t k = 0; k < triangleCount; ++k) {
        for (int v = 0; v < 3; ++v) boxes[k].grow(corners[3 * static_cast<size_t>(k) + v]);
        for (int c = 0; c < 3; ++c) centroids[k][c] = 0.5f * (boxes[k].lo[c] + boxes[k].hi[c]);
    }
    tree.triangles.resize(boxes.size());
    for (int32_t k = 0; k < triangleCount; ++k) tree.triangles[k] = k;
    tree.nodes.reserve(2 * boxes.size());

    auto boundsOf = [&](int32_t begin, int32_t end) {
        Box box;
        for (int32_t s = begin; s < end; ++s) box.grow(boxes[tree.triangles[s]]);
        return box;
    };
    Box root = boundsOf(0, triangleCount);
    tree.nodes.push_back({root.lo, root.hi, 0, triangleCount, 0});

    struct Task {
        int32_t node, begin, end, depth;
    };
    std::vector<Task> tasks{{0, 0, triangleCount, 1}};
    while (!tasks.empty()) {
        Task task = tasks.back();
        tasks.pop_back();
        tree.depth = std::max(tree.depth, task.depth);
        const int32_t count = task.end - task.begin;
        if (count <= kMaxLeafTriangles) {
            // A split of two triangles costs two box tests before either triangle test: never cheaper.
            tree.nodes[task.node].first = task.begin;
            tree.nodes[task.node].count = count;
            continue;
        }
        Box centroidBox;
        for (int32_t s = task.begin; s < task.end; ++s) centroidBox.grow(centroids[tree.triangles[s]]);

        float bestCost = INFINITY;
        int bestAxis = -1, bestPlane = 0;
        for (int axis = 0; axis < 3; ++axis) {
            float lo = centroidBox.lo[axis], extent = centroidBox.hi[axis] - lo;
            if (!(extent > 0.0f)) continue;
            Bin bins[kBins];
            for (int32_t s = task.begin; s < task.end; ++s) {
                int32_t k = tree.triangles[s];
                int b = std::min(kBins - 1, static_cast<int>((centroids[k][axis] - lo) / extent * kBins));
                bins[b].count += 1;
                bins[b].box.grow(boxes[k]);
            }
            // Cost of the plane after bin p: area times triangles on each side.
            float rightCost[kBins] = {};
            Box right;
            int32_t rightCount = 0;
            for (int p = kBins - 1; p > 0; --p) {
                right.grow(bins[p].box);
                rightCount += bins[p].count;
                rightCost[p - 1] = right.area() * static_cast<float>(rightCount);
            }
            Box left;
            int32_t leftCount = 0;
            for (int p = 0; p < kBins - 1; ++p) {
                left.grow(bins[p].box);
                leftCount += bins[p].count;
                if (leftCount == 0 || leftCount == count) continue;
                float cost = left.area() * static_cast<float>(leftCount) + rightCost[p];
                if (cost < bestCost) {
                    bestCost = cost;
                    bestAxis = axis;
                    bestPlane = p;
                }
            }
        }

        int32_t middle = task.begin + count / 2;
        if (bestAxis >= 0) {
            float lo = centroidBox.lo[bestAxis], extent = centroidBox.hi[bestAxis] - lo;
            auto* split = std::partition(
                &tree.triangles[task.begin], &tree.triangles[task.end - 1] + 1, [&](int32_t k) {
                    int b =
                        std::min(kBins - 1, static_cast<int>((centroids[k][bestAxis] - lo) / extent * kBins));
                    return b <= bestPlane;
                });
            middle = static_cast<int32_t>(split - tree.triangles.data());
        }
        // Every centroid in one place: any halving is as good as another.
        auto child = static_cast<int32_t>(tree.nodes.size());
        Box lower = boundsOf(task.begin, middle), upper = boundsOf(middle, task.end);
        tree.nodes[task.node].first = child;
        tree.nodes[task.node].count = 0;
        tree.nodes[task.node].axis = std::max(bestAxis, 0);
        tree.nodes.push_back({lower.lo, lower.hi, 0, 0, 0});
        tree.nodes.push_back({upper.lo, upper.hi, 0, 0, 0});
        tasks.push_back({child, task.begin, middle, task.depth + 1});
        tasks.push_back({child + 1, middle, task.end, task.depth + 1});
    }
    return tree;
}

// ---- Rays ----

std::vector<Segment> shadowRays(const std::vector<float>& positions, const std::vector<float>& normals,
                                const std::vector<GPULightEntry>& lights) {
    std::vector<Segment> rays;
    size_t texels = std::min(positions.size(), normals.size()) / 3;
    size_t lightCount = std::min(lights.size(), static_cast<size_t>(kMaxLights));
    for (size_t i = 0; i < texels; ++i) {
        Vec3 at{positions[3 * i], positions[3 * i + 1], positions[3 * i + 2]};
        Vec3 normal{normals[3 * i], normals[3 * i + 1], normals[3 * i + 2]};
        for (size_t l = 0; l < lightCount; ++l) {
            const GPULightEntry& light = lights[l];
            if (light.color[3] <= 0.0f) break;
            float strength = light.color[3] * 0.001f;
            Vec3 toLight{light.pos[0] - at[0], light.pos[1] - at[1], light.pos[2] - at[2]};
            float d = std::sqrt(toLight[0] * toLight[0] + toLight[1] * toLight[1] + toLight[2] * toLight[2]);
            float facing = 0.0f;
            for (int c = 0; c < 3; ++c) facing += toLight[c] / d * normal[c];
            facing = std::max(0.0f, facing);
            // As the shader compares the vector: any component not zero (NaN included) traces.
            bool lit = false;
            for (int c = 0; c < 3; ++c) lit = lit || strength * light.color[c] / (d * d) * facing != 0.0f;
            if (!lit) continue;
            rays.push_back(
                {{light.pos[0], light.pos[1], light.pos[2]}, {-toLight[0], -toLight[1], -toLight[2]}});
        }
    }
    return rays;
}

WalkCount walkAnyHit(const SahTree& tree, const std::vector<Vec3>& corners, const Segment& ray) {
    WalkCount count;
    if (tree.nodes.empty()) return count;
    Vec3 inverse{1.0f / ray.dir[0], 1.0f / ray.dir[1], 1.0f / ray.dir[2]};
    // At most one pending sibling per level, plus the node in hand.
    thread_local std::vector<int32_t> stack;
    stack.resize(static_cast<size_t>(tree.depth) + 2);
    size_t top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const SahNode& node = tree.nodes[stack[--top]];
        ++count.nodes;
        if (!boxHitBound(node.lo, node.hi, ray.origo, inverse)) continue;
        if (node.count == 0) {
            bool lowerFirst = ray.dir[node.axis] >= 0.0f;
            stack[top++] = node.first + (lowerFirst ? 1 : 0);
            stack[top++] = node.first + (lowerFirst ? 0 : 1);
            continue;
        }
        for (int32_t s = node.first; s < node.first + node.count; ++s) {
            size_t v = 3 * static_cast<size_t>(tree.triangles[s]);
            ++count.triangles;
            Vec4 hit = triHit(ray.origo, ray.dir, corners[v], corners[v + 1], corners[v + 2]);
            if (hit[3] != 0.0f && hit[0] > 0.001f && hit[0] < 0.999f) {
                count.hit = true;
                return count;
            }
        }
    }
    return count;
}

// ---- Count distributions ----

CountSummary summarize(const uint32_t* histogram, size_t bins, uint64_t overflowSum, uint32_t max) {
    CountSummary summary;
    summary.max = max;
    uint64_t rays = 0, sum = 0;
    for (size_t c = 0; c < bins; ++c) {
        rays += histogram[c];
        sum += c + 1 == bins && overflowSum != 0 ? overflowSum : static_cast<uint64_t>(c) * histogram[c];
    }
    if (rays == 0) return summary;
    summary.mean = static_cast<double>(sum) / static_cast<double>(rays);
    // The smallest count at or below which 99% of the rays lie (rounded up); the last bin stands
    // for the largest count seen.
    uint64_t needed = (rays * 99 + 99) / 100, seen = 0;
    for (size_t c = 0; c < bins; ++c) {
        seen += histogram[c];
        if (seen >= needed) {
            summary.p99 = c + 1 == bins ? max : static_cast<uint32_t>(c);
            break;
        }
    }
    return summary;
}

void CountHistogram::add(uint32_t count) {
    if (count >= rays.size()) rays.resize(count + 1, 0);
    rays[count] += 1;
    max = std::max(max, count);
}

uint64_t CountHistogram::total() const {
    uint64_t sum = 0;
    for (size_t c = 0; c < rays.size(); ++c) sum += static_cast<uint64_t>(c) * rays[c];
    return sum;
}

} // namespace reference
