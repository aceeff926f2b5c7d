#version 450 core
// The triangle tree's primitives and leaves, one invocation per captured triangle (dispatched in
// rows). arg0 = (triangle count T, 0, pass, 0):
//   pass 0: face normals for untextured triangles; each triangle's box, and whether it shares an
//           edge with the next one;
//   pass 1: pairs of consecutive triangles sharing an edge (roles), their boxes, and the
//           primitives' centroid box (the sort counts the primitives);
//   pass 2: sort keys: the Morton code of each primitive's centroid in that box (the sort of
//           "bvh_nodes.glsl" then writes the leaves).
//!!using:util.glsl
#ifdef COMPUTE
layout(local_size_x = 64, local_size_y = 1, local_size_z = 1) in;
uniform ivec4 arg0;
#ifndef TREE_PASS
#define TREE_PASS arg0.z // the renderer builds one program per pass (TREE_PASS defined)
#endif
layout(std430) buffer arg1_tree {
    BIVH leafItems[];
};
layout(std430) buffer arg2_feedback {
    FVert leafVertices[];
};
layout(std430) buffer arg3_scratch {
    uint scratch[];
};

// Pairs restart their count at every block of this many triangles, so the roles follow from a
// short look back.
#define PAIR_BLOCK 32

vec3 leafPosition(int v) {
    return uintBitsToFloat(leafVertices[v].uposn.xyz);
}

// Vertices captured without a normal (untextured draws) get their triangle's face normal, so
// that rays hitting them are lit like any other surface.
void fillFaceNormal(int first) {
    uint packed0 = leafVertices[first].uposn.w | leafVertices[first + 1].uposn.w | leafVertices[first + 2].uposn.w;
    if (packed0 != 0u) return;
    vec3 a = leafPosition(first);
    vec3 faceNormal = cross(leafPosition(first + 1) - a, leafPosition(first + 2) - a);
    float area = length(faceNormal);
    if (!(area > 0.0)) return;
    uint packedNormal = packSnorm4x8(vec4(faceNormal / area, 0.0));
    for (int k = 0; k < 3; ++k) leafVertices[first + k].uposn.w = packedNormal;
}

// Pass 0 notes for each t whether it shares an edge (two corners at the same positions) with
// t + 1, in the second key array, free until the sort.
bool sharesNext(int t, int triangles) {
    return t >= 0 && t + 1 < triangles && scratch[treeKeys(uint(arg0.x), 1u) + uint(t)] != 0u;
}

// Within its block, t starts a pair when it shares an edge with t + 1 and lies an even number of
// triangles after the start of the run of edge-sharing triangles it belongs to.
bool blockHead(int t, int triangles) {
    if (!sharesNext(t, triangles)) return false;
    int start = t;
    int blockStart = t - t % PAIR_BLOCK;
    while (start > blockStart && sharesNext(start - 1, triangles)) --start;
    return (t - start) % 2 == 0;
}

// A block's first triangle gives way to a pair that the block before it ends with.
bool pairHead(int t, int triangles) {
    if (!blockHead(t, triangles)) return false;
    return t % PAIR_BLOCK != 0 || !blockHead(t - 1, triangles);
}

// The box of triangle t as pass 0 wrote it, or of the primitive starting at t after pass 1.
void storedBox(int t, out vec3 lo, out vec3 hi) {
    uint at = treeBoxes(uint(arg0.x)) + 6u * uint(t);
    for (int c = 0; c < 3; ++c) {
        lo[c] = uintBitsToFloat(scratch[at + uint(c)]);
        hi[c] = uintBitsToFloat(scratch[at + 3u + uint(c)]);
    }
}

void storeBox(int t, vec3 lo, vec3 hi) {
    uint at = treeBoxes(uint(arg0.x)) + 6u * uint(t);
    for (int c = 0; c < 3; ++c) {
        scratch[at + uint(c)] = floatBitsToUint(lo[c]);
        scratch[at + 3u + uint(c)] = floatBitsToUint(hi[c]);
    }
}

bool finite3(vec3 v) {
    return all(notEqual(floatBitsToUint(v) & 0x7F800000u, uvec3(0x7F800000u)));
}

// 10 bits spread to every third bit.
uint spreadBits(uint x) {
    x = (x | (x << 16u)) & 0x030000FFu;
    x = (x | (x << 8u)) & 0x0300F00Fu;
    x = (x | (x << 4u)) & 0x030C30C3u;
    x = (x | (x << 2u)) & 0x09249249u;
    return x;
}

// Without a barrier (see "bvh_nodes.glsl"): straight to the header, and only when the value
// would change, which after the first few primitives it rarely does.
void widenCentroidBox(vec3 centre) {
    for (int c = 0; c < 3; ++c) {
        uint bits = treeOrderedBits(centre[c]);
        if (bits < scratch[TREE_CENTROID_MIN + uint(c)]) atomicMin(scratch[TREE_CENTROID_MIN + uint(c)], bits);
        if (bits > scratch[TREE_CENTROID_MAX + uint(c)]) atomicMax(scratch[TREE_CENTROID_MAX + uint(c)], bits);
    }
}

void edgesAndBoxes(int t, int triangles) {
    fillFaceNormal(3 * t);
    vec3 a = leafPosition(3 * t), b = leafPosition(3 * t + 1), c = leafPosition(3 * t + 2);
    storeBox(t, min(a, min(b, c)), max(a, max(b, c)));
    bool shares = false;
    if (t + 1 < triangles) {
        int same = 0;
        for (int j = 0; j < 3; ++j) {
            uvec3 p = leafVertices[3 * t + 3 + j].uposn.xyz;
            if (p == floatBitsToUint(a) || p == floatBitsToUint(b) || p == floatBitsToUint(c)) ++same;
        }
        shares = same >= 2;
    }
    scratch[treeKeys(uint(arg0.x), 1u) + uint(t)] = shares ? 1u : 0u;
}

void rolesAndBounds(int t, int triangles) {
    uint role = pairHead(t, triangles) ? TREE_HEAD : (pairHead(t - 1, triangles) ? TREE_TAIL : TREE_SINGLE);
    scratch[TREE_ROLES + uint(t)] = role;
    if (role == TREE_TAIL) return;
    vec3 lo, hi;
    storedBox(t, lo, hi);
    if (role == TREE_HEAD) {
        // Only t reads the box of its tail, and no one but t reads t's own.
        vec3 lo2, hi2;
        storedBox(t + 1, lo2, hi2);
        lo = min(lo, lo2);
        hi = max(hi, hi2);
        storeBox(t, lo, hi);
    }
    vec3 centre = 0.5 * (lo + hi);
    if (finite3(centre)) widenCentroidBox(centre);
}

void sortKey(int t, uint triangles) {
    uint role = scratch[TREE_ROLES + uint(t)];
    uint key = TREE_NO_KEY;
    if (role != TREE_TAIL) {
        vec3 lo, hi;
        storedBox(t, lo, hi);
        vec3 low = vec3(0.0), size = vec3(0.0);
        for (int c = 0; c < 3; ++c) {
            low[c] = treeOrderedFloat(scratch[TREE_CENTROID_MIN + uint(c)]);
            size[c] = treeOrderedFloat(scratch[TREE_CENTROID_MAX + uint(c)]) - low[c];
        }
        // Cubic cells: the key's order then follows distance alike along every axis, where cells
        // fitted to each axis of a flat scene would order it mostly by height.
        vec3 cell = (0.5 * (lo + hi) - low) / max(maxComponent(size), 1e-30) * 1024.0;
        uvec3 q = uvec3(0u);
        for (int c = 0; c < 3; ++c) q[c] = cell[c] > 0.0 ? uint(min(cell[c], 1023.0)) : 0u; // NaN: 0
        key = (spreadBits(q.x) << 2u) | (spreadBits(q.y) << 1u) | spreadBits(q.z);
    }
    scratch[treeKeys(triangles, 0u) + uint(t)] = key;
    scratch[treeValues(triangles, 0u) + uint(t)] = uint(t);
}

void main() {
    int triangles = min(arg0.x, leafVertices.length() / 3);
    int o = int(TREE_INVOCATION);
    bool inRange = o < triangles;
    if (!inRange) {
        return;
    } else if (TREE_PASS == 0) {
        edgesAndBoxes(o, triangles);
    } else if (TREE_PASS == 1) {
        rolesAndBounds(o, triangles);
    } else {
        sortKey(o, uint(arg0.x));
    }
}
#endif
