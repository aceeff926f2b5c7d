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

#define TREE_VISIT_LIMIT 1250
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

// From node n, with these flags when its box was hit (0 otherwise), to the next node of the
// walk; 0 when there is none.
void walkOn(inout int n, inout uint leftPending, int flags) {
    if ((flags & BIVH_CHILDREN) != 0) {
        // Into the right child, remembering the left one when both exist.
        if ((flags & BIVH_CHILDREN) == BIVH_CHILDREN) leftPending |= 1u << (findMSB(n) + 1);
        n = (flags & BIVH_RIGHT_CHILD) != 0 ? 2 * n + 1 : 2 * n;
    } else if (leftPending == 0u) {
        n = 0;
    } else {
        // Up to the deepest level with a left sibling waiting, and over to it.
        int level = findMSB(leftPending);
        leftPending &= ~(1u << level);
        n = (n >> (findMSB(n) - level)) - 1;
    }
}

// Hit record: (t, u, v, w); w is the hit triangle's first vertex (closest hit) or 1 (any hit),
// and (10.001, 0, 1, -1) means nothing was hit.
vec4 treeHitAny(vec3 origo, vec3 dir, bool doBestHit) {
    vec3 iDir = 1.0 / dir;
    vec4 best = vec4(10.001, 0.0, 1.0, -1.0);
    int nodeCount = treeItems.length();
    int vertexCount = vertices.length();
    if (nodeCount < 2) return best;
    // Depth first, right child before left, over the implicit heap (children 2n, 2n + 1). A
    // stack would only ever hold left siblings still to visit, at most one per level, so bit k
    // of leftPending stands for the left sibling at level k (the level of n is findMSB(n)); this
    // keeps the walk in registers, which software rasterisers handle far better than an array.
    // Nodes whose triangles need no test are passed through in a loop of their own, so that
    // invocations run side by side spend their turns on the same kind of work (box tests, or
    // triangle tests) instead of each turn paying for both.
    uint leftPending = 0u;
    int n = 1;
    int visit = 0;
    while (visit < TREE_VISIT_LIMIT && n != 0) {
        BIVH node;
        int flags;
        for (;;) {
            flags = 0;
            if (n < nodeCount) {
                node = treeItems[n];
                if (boxHitBound(intBitsToFloat(node.mi.xyz), intBitsToFloat(node.ma.xyz), origo, iDir))
                    flags = node.mi.w;
            }
            if ((flags & BIVH_TRIANGLES) != 0) break;
            walkOn(n, leftPending, flags);
            if (++visit >= TREE_VISIT_LIMIT || n == 0) return best;
        }
        for (int j = 0; j < 2; ++j) {
            if (!bivhHasTriangle(flags, j)) continue;
            int b = node.ma.w + 3 * j;
            if (b < 0 || b + 2 >= vertexCount) continue;
            vec4 hit = triHit(origo, dir, capturedPosition(b), capturedPosition(b + 1), capturedPosition(b + 2));
            if (hit.w == 0.0) continue;
            if (!doBestHit) {
                if (hit.x > 0.001 && hit.x < 0.9999) return hit;
            } else if (hit.x > 0.00001 && hit.x < best.x) {
                best = vec4(hit.x, hit.y, hit.z, float(b));
                iDir = 1.0 / (dir * hit.x);
            }
        }
        walkOn(n, leftPending, flags);
        ++visit;
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
        if (shadowed && unshadowed != vec3(0.0) && treeHitAny(entry.pos.xyz, -toLight, false).x < 0.999) continue;
        light += unshadowed;
    }
    return light;
}

// The light the segment's closest hit sends back, (rgb, 1), or (0, 0, 0, 0.0001) for no hit.
vec4 litRay(vec3 camPos, vec3 origo, vec3 dir) {
    vec4 hit = treeHitAny(origo, dir, true);
    if (hit.x < 0.0001 || hit.x > 0.9999) return vec4(0.0, 0.0, 0.0, 0.0001);
    int b = int(hit.w);
    vec3 normal = (1.0 - hit.y - hit.z) * capturedNormal(b) + hit.y * capturedNormal(b + 1) +
                  hit.z * capturedNormal(b + 2);
    // The surface's albedo as the geometry pass has it: base colour factor times texel, made linear.
    vec3 colour = capturedBaseColor(b).rgb * triSample(hit).rgb;
    colour *= colour;
    vec3 light = getLighting(origo + hit.x * dir, normal, 0, true);
    uint e = liGetEntry(camPos, origo, normal);
    if (licFound(e)) light += licEntries[e].inLight.xyz / licEntries[e].inLight.w;
    return vec4(colour * light, 1.0);
}
