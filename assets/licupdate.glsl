#version 450 core
// The light cache's refresh: entries used in the last four frames either trace new rays (one in
// 17), blend with their six neighbour cells (half of the rest) or stay as they are, by a schedule
// that moves with the frame number. Two passes: pass 0, one invocation per entry (index
// x + 32768 y), lists the entries due to trace or blend; pass 1, one invocation per listed entry
// (an indirect dispatch the listing sized), refreshes them.
//!!using:util.glsl
//!!using:licache.glsl
//!!using:ray.glsl
#ifdef COMPUTE
layout(local_size_x = 64, local_size_y = 1, local_size_z = 1) in;
uniform mat4 invCamera;
uniform int arg0_pass; // 0: list the entries to refresh; 1: refresh the listed entries

// The entries this frame refreshes: the indirect dispatch of pass 1 (x grows as entries are
// listed; the host starts the record as 0, 1, 1, 0), the count, the entry indices.
layout(std430) buffer licList {
    uint listGroups[3];
    uint listCount;
    uint listed[];
};

#define LIC_ROW 32768u
#define LIC_MAX_WEIGHT 120.0
#define LIC_BLEND_WEIGHT 40.0

const vec3 neighbourDirections[6] = vec3[6](vec3(-1.0, 0.0, 0.0), vec3(1.0, 0.0, 0.0), vec3(0.0, -1.0, 0.0),
                                            vec3(0.0, 1.0, 0.0), vec3(0.0, 0.0, -1.0), vec3(0.0, 0.0, 1.0));

// True when every component is a finite number: its exponent bits are not all ones. Tested on
// the bits because drivers may fold float comparisons as if NaN did not exist.
bool licFinite(vec4 v) {
    return all(notEqual(floatBitsToUint(v) & 0x7F800000u, uvec4(0x7F800000u)));
}

// A sum that is not finite (a light on a surface point gives a zero distance) or whose weight
// is out of range restarts the entry's history.
vec4 licRestartIfBroken(vec4 acc) {
    return licFinite(acc) && acc.w >= 0.0 && acc.w <= 1000000.0 ? acc : vec4(0.0, 0.0, 0.0, 0.001);
}

// Two unit vectors that make a right-handed frame with the unit vector n (Duff et al. 2017,
// "Building an Orthonormal Basis, Revisited"): no division by a vanishing component.
void licTangents(vec3 n, out vec3 tangent, out vec3 bitangent) {
    float sgn = n.z >= 0.0 ? 1.0 : -1.0;
    float a = -1.0 / (sgn + n.z);
    float b = n.x * n.y * a;
    tangent = vec3(1.0 + sgn * n.x * n.x * a, sgn * b, -sgn * n.x);
    bitangent = vec3(b, sgn + n.y * n.y * a, -n.y);
}

// The length of the gather segments: the diagonal of the whole tree's box, so that a ray finds
// whatever it points at (the floor sees the ceiling and the far columns) and a miss means the
// ray left the scene. 1 when there is no tree.
float licSceneReach() {
    int nodeCount = treeItems.length();
    if (nodeCount < 2) return 1.0;
    int root = treeItems[0].mi.w;
    if (root <= 0 || root >= nodeCount) return 1.0;
    vec3 extent = intBitsToFloat(treeItems[root].ma.xyz) - intBitsToFloat(treeItems[root].mi.xyz);
    float reach = length(extent);
    return reach > 0.0 && reach < 1e30 ? reach * 1.001 : 1.0;
}

bool touchedRecently(uint lfHI) {
    uint tag = lfHI & LIC_TAG_MASK;
    for (int k = 0; k < 4; ++k)
        if (tag == (uint(licFrameNr - k) << LIC_TAG_SHIFT)) return true;
    return false;
}

uint licTestV(uint i) {
    return i * 117977u + uint(licFrameNr) * 75389u;
}

// Pass 0: entry i is listed when it was used in the last four frames and its turn is to trace
// (testV divisible by 17) or to blend (testV even); the rest have nothing to do this frame.
void listEntry() {
    if (gl_GlobalInvocationID.x >= LIC_ROW) return;
    uint i = gl_GlobalInvocationID.x + LIC_ROW * gl_GlobalInvocationID.y;
    if (i >= liTableSize()) return;
    if (licEntries[i].dax == 0u || !touchedRecently(licEntries[i].lfHI)) return;
    uint testV = licTestV(i);
    if (testV % 17u != 0u && (testV & 1u) != 0u) return;
    uint k = atomicAdd(listCount, 1u);
    listed[k] = i;
    atomicMax(listGroups[0], k / gl_WorkGroupSize.x + 1u);
}

void refreshEntry(uint i) {
    uint dax = licEntries[i].dax;
    vec3 cam = (invCamera * vec4(0.0, 0.0, 0.0, 1.0)).xyz;
    vec4 posS = licEntries[i].posS;
    uint testV = licTestV(i);
    if (testV % 17u != 0u) {
        vec3 axis = unpackSnorm4x8(dax).xyz;
        vec4 acc = licRestartIfBroken(licEntries[i].inLight) * 13.0;
        vec3 centre = posS.xyz + posS.w * 0.5;
        for (int d = 0; d < 6; ++d) {
            uint e = liGetNAEntry(cam, centre + posS.w * neighbourDirections[d], axis);
            if (!licFound(e)) continue;
            vec4 neighbour = licEntries[e].inLight;
            if (neighbour.w > 0.0001 && neighbour.w < 100.0 && licFinite(neighbour)) acc += neighbour;
        }
        if (acc.w > LIC_BLEND_WEIGHT) acc *= LIC_BLEND_WEIGHT / acc.w;
        licEntries[i].inLight = acc;
        return;
    }

    // The gather estimates the irradiance E at the traced point p, what the shading pass adds to
    // the direct light before it multiplies by the albedo: E = integral over the hemisphere above
    // the surface of L(w) cos(theta) dw, L the radiance arriving from direction w. A Lambert
    // surface of albedo a under irradiance E' sends out a E' / pi, and litRay returns a E' (the
    // renderer's light carries no 1 / pi, as the shading pass shows a E), so L = litRay / pi.
    // Directions drawn with the density cos(theta) / pi (Malley: a uniform point of the unit
    // disc lifted onto the hemisphere) turn each sample's L cos(theta) / density into litRay
    // itself: the plain mean of the rays' light, sum / weight, estimates E. Each ray counts 1; a
    // ray that leaves the scene sees black and counts 1 with no light.
    vec3 n = unpackSnorm4x8(licEntries[i].normal).xyz;
    if (dot(n, n) < 0.25) n = unpackSnorm4x8(dax).xyz;
    n = normalize(n);
    // Start a hair above the surface: the traced point is kept to 1/256 of the cell.
    vec3 p = posS.xyz + unpackUnorm4x8(licEntries[i].tracePos).xyz * posS.w + n * (posS.w / 128.0);
    vec3 tangent, bitangent;
    licTangents(n, tangent, bitangent);
    float reach = licSceneReach();
    vec4 acc = licRestartIfBroken(licEntries[i].inLight);
    int count = int(max((LIC_MAX_WEIGHT - acc.w) / 6.0, 1.0));
    for (int r = 0; r < count; ++r) {
        uint s = (i * 90849383u) ^ ((uint(licFrameNr) + uint(r)) * 78799649u);
        s = s + bitfieldReverse(s * 41781613u) + uint(r) * 0x26001234u;
        vec2 u = unpackUnorm2x16(s);
        float radius = sqrt(u.x), turn = 2.0 * PI * u.y;
        vec3 d = radius * (cos(turn) * tangent + sin(turn) * bitangent) + sqrt(max(1.0 - u.x, 0.0)) * n;
        vec4 ray = litRay(cam, p, d * reach);
        if (licFinite(ray)) acc += vec4(ray.xyz, 1.0);
    }
    if (acc.w > LIC_MAX_WEIGHT) acc *= LIC_MAX_WEIGHT / acc.w;
    licEntries[i].inLight = acc;
}

void main() {
    if (arg0_pass == 0) {
        listEntry();
        return;
    }
    uint k = gl_GlobalInvocationID.x;
    if (k < listCount && k < uint(listed.length())) refreshEntry(listed[k]);
}
#endif
