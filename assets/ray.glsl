// Traversal of the triangle tree, direct light with shadow rays, and the light a traced
// segment brings back. Included after "util.glsl" and "licache.glsl".
// Rays are segments: dir is as long as the segment, distances are parameters t in [0, 1].
layout(std430) buffer xfFeedback {
    FVert vertices[];
};
layout(std430) buffer bivhTree {
    BIVH treeItems[];
};
layout(std430) buffer gpuLights {
    GPULightEntry lights[];
};
uniform float iGlobalTime;

// Counters of the shadow rays traced while treeStatsOn is non-zero (host mirror: TreeStats).
#define TREE_STATS_BINS 1024
uniform int treeStatsOn;
layout(std430) buffer treeStats {
    uint shadowRays;        // shadow rays traced
    uint raysAtLimit;       // rays stopped by the visit limit before their walk ended
    uint maxNodes;          // most nodes one ray visited
    uint maxTriangles;      // most triangles one ray tested
    uint overflowNodes;     // node visits summed over the rays in the last node bin
    uint overflowTriangles; // likewise for triangles
    uint reserved[2];
    uint nodeHistogram[TREE_STATS_BINS];     // rays by nodes visited
    uint triangleHistogram[TREE_STATS_BINS]; // rays by triangles tested
};

// What the last treeHitAny did: boxes tested, triangles tested, stopped by the visit limit.
int walkNodes;
int walkTriangles;
bool walkAtLimit;

void countShadowRay() {
    atomicAdd(shadowRays, 1u);
    if (walkAtLimit) atomicAdd(raysAtLimit, 1u);
    atomicMax(maxNodes, uint(walkNodes));
    atomicMax(maxTriangles, uint(walkTriangles));
    int nodeBin = min(walkNodes, TREE_STATS_BINS - 1);
    int triangleBin = min(walkTriangles, TREE_STATS_BINS - 1);
    atomicAdd(nodeHistogram[nodeBin], 1u);
    atomicAdd(triangleHistogram[triangleBin], 1u);
    if (nodeBin == TREE_STATS_BINS - 1) atomicAdd(overflowNodes, uint(walkNodes));
    if (triangleBin == TREE_STATS_BINS - 1) atomicAdd(overflowTriangles, uint(walkTriangles));
}

#define MAX_LIGHTS 100

vec3 capturedPosition(int b) {
    return uintBitsToFloat(vertices[b].uposn.xyz);
}

vec3 capturedNormal(int b) {
    return unpackSnorm4x8(vertices[b].uposn.w).xyz;
}

vec2 capturedUV(int b) {
    return uintBitsToFloat(vertices[b].uvTI.xy);
}

// The base colour factor of the triangle whose first vertex is b.
vec4 capturedBaseColor(int b) {
    return unpackCapturedBaseColor(vertices[b + 1].uvTI.z);
}

// Hit record: (t, u, v, w); w is the hit triangle's first vertex (closest hit) or 1 (any hit),
// and (10.001, 0, 1, -1) means nothing was hit.
vec4 treeHitAny(vec3 origo, vec3 dir, bool doBestHit) {
    vec3 iDir = 1.0 / dir;
    vec4 best = vec4(10.001, 0.0, 1.0, -1.0);
    int nodeCount = treeItems.length();
    int vertexCount = vertices.length();
    walkNodes = 0;
    walkTriangles = 0;
    walkAtLimit = false;
    if (nodeCount < 2) return best;
    // The walk follows the links of util.glsl: no stack, nothing but registers, which software
    // rasterisers handle far better than an array. Each node is met at most once, so the tree's
    // node count bounds the walk; reaching it means the tree is broken, and is counted.
    BIVH head = treeItems[0];
    int n = head.mi.w;
    int limit = min(head.ma.w, nodeCount - 1);
    // Nodes whose triangles need no test are passed through in a loop of their own, so that
    // invocations run side by side spend their turns on the same kind of work (box tests, or
    // triangle tests) instead of each turn paying for both.
    while (n > 0 && n < nodeCount) {
        BIVH node;
        for (;;) {
            if (walkNodes >= limit) {
                walkAtLimit = true;
                return best;
            }
            ++walkNodes;
            node = treeItems[n];
            bool hit = boxHitBound(intBitsToFloat(node.mi.xyz), intBitsToFloat(node.ma.xyz), origo, iDir);
            if (hit && node.mi.w < 0) break;
            n = hit ? node.mi.w : node.ma.w;
            if (n <= 0 || n >= nodeCount) return best;
        }
        int first = bivhLeafVertex(node.mi.w);
        int count = bivhLeafTriangles(node.mi.w);
        for (int j = 0; j < count; ++j) {
            int b = first + 3 * j;
            if (b < 0 || b + 2 >= vertexCount) continue;
            ++walkTriangles;
            vec4 hit = triHit(origo, dir, capturedPosition(b), capturedPosition(b + 1), capturedPosition(b + 2));
            if (hit.w == 0.0) continue;
            if (!doBestHit) {
                // Only hits before the segment's last thousandth occlude (see getLighting); ending
                // the walk at one inside it would let the walk's order hide a nearer occluder.
                if (hit.x > 0.001 && hit.x < 0.999) return hit;
            } else if (hit.x > 0.00001 && hit.x < best.x) {
                best = vec4(hit.x, hit.y, hit.z, float(b));
                iDir = 1.0 / (dir * hit.x);
            }
        }
        n = node.ma.w;
    }
    return best;
}

// The base-colour texel at a closest hit (base level); (0, 0, 0, 1) when nothing was hit.
vec4 triSample(vec4 hitInfo) {
    if (hitInfo.x < 0.999 && hitInfo.w >= 0.0) {
        int b = int(hitInfo.w);
        vec2 uv = (1.0 - hitInfo.y - hitInfo.z) * capturedUV(b) + hitInfo.y * capturedUV(b + 1) +
                  hitInfo.z * capturedUV(b + 2);
        return textureHandleSample(vertices[b].uvTI.zw, uv);
    }
    return vec4(0.0, 0.0, 0.0, 1.0);
}

// Direct light of every light at a point, each with a shadow ray from the light when shadowed.
vec3 getLighting(vec3 at, vec3 normal, int lightIndex, bool shadowed) {
    vec3 light = vec3(0.0);
    int count = min(MAX_LIGHTS, lights.length());
    for (int i = 0; i < count; ++i) {
        GPULightEntry entry = lights[i];
        if (entry.color.w <= 0.0) break;
        vec3 c = entry.color.w * 0.001 * entry.color.rgb;
        vec3 toLight = entry.pos.xyz - at;
        float d = length(toLight);
        vec3 unshadowed = c / (d * d) * max(0.0, dot(normalize(toLight), normal));
        // A light that adds nothing here needs no shadow ray.
        if (shadowed && unshadowed != vec3(0.0)) {
            bool occluded = treeHitAny(entry.pos.xyz, -toLight, false).x < 0.999;
            if (treeStatsOn != 0) countShadowRay();
            if (occluded) continue;
        }
        light += unshadowed;
    }
    return light;
}

// The light the segment's closest hit sends back, (rgb, 1), or (0, 0, 0, 0.0001) for no hit: the
// hit surface's linear albedo times the light arriving there, direct (with shadow rays) and
// indirect (the cache entry of the hit's own cell where one exists; a hit claims none, which
// would put every surface the rays reach, seen or not, under the update: four times the
// entries in the demo). A surface seen from behind is lit as its other side is.
vec4 litRay(vec3 camPos, vec3 origo, vec3 dir) {
    vec4 hit = treeHitAny(origo, dir, true);
    if (hit.x < 0.0001 || hit.x > 0.9999) return vec4(0.0, 0.0, 0.0, 0.0001);
    int b = int(hit.w);
    vec3 normal = (1.0 - hit.y - hit.z) * capturedNormal(b) + hit.y * capturedNormal(b + 1) +
                  hit.z * capturedNormal(b + 2);
    if (dot(normal, dir) > 0.0) normal = -normal;
    // The surface's albedo as the geometry pass has it: base colour factor times texel, made linear.
    vec3 colour = capturedBaseColor(b).rgb * triSample(hit).rgb;
    colour *= colour;
    vec3 at = origo + hit.x * dir;
    vec3 light = getLighting(at, normal, 0, true);
    light += liEntryLight(liGetNAEntry(camPos, at, normal));
    return vec4(colour * light, 1.0);
}
