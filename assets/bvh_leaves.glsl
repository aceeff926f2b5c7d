#version 450 core
// Leaves of the triangle tree: leaf o (node L + o) boxes captured triangles 2o and 2o + 1.
// arg0 = (leaf count L, invocations per dispatch row, triangle count T, 0).
//!!using:util.glsl
#ifdef COMPUTE
layout(local_size_x = 64, local_size_y = 1, local_size_z = 1) in;
uniform ivec4 arg0;
layout(std430) buffer arg1_tree {
    BIVH leafItems[];
};
layout(std430) buffer arg2_feedback {
    FVert leafVertices[];
};

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

void main() {
    int rowStride = arg0.y;
    if (gl_GlobalInvocationID.x >= uint(rowStride)) return;
    int o = int(gl_GlobalInvocationID.x) + rowStride * int(gl_GlobalInvocationID.y);
    if (o >= arg0.x) return;
    int m = min(3 * arg0.z, leafVertices.length());
    vec3 lo = vec3(0.0);
    vec3 hi = vec3(0.0);
    int flags = 0;
    for (int i = 0; i < 6; ++i) {
        int v = 6 * o + i;
        if (v >= m) continue;
        flags |= 1 << (i / 3);
        vec3 p = leafPosition(v);
        lo = i == 0 ? p : min(lo, p);
        hi = i == 0 ? p : max(hi, p);
    }
    for (int j = 0; j < 2; ++j)
        if (bivhHasTriangle(flags, j) && 6 * o + 3 * j + 2 < m) fillFaceNormal(6 * o + 3 * j);
    leafItems[arg0.x + o] = BIVH(ivec4(floatBitsToInt(lo), flags), ivec4(floatBitsToInt(hi), 6 * o));
}
#endif
