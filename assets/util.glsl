// ---- Texture handles ----
// A texture reaches a shader as a uvec2 handle, low word first; (0, 0) means no texture and
// samples as white. With GL_ARB_bindless_texture the words are the resident bindless handle.
// Without it the host defines TEXTURE_SLOT_COUNT and the low word is 1 + a slot of the
// host's texture slot table, whose textures are bound to `textureSlots` by use().
// textureHandleSample takes the implicit level of detail in fragment stages and the base level
// elsewhere; textureHandleSampleLod takes an explicit level.
#if defined(TEXTURE_SLOT_COUNT)
uniform sampler2D textureSlots[TEXTURE_SLOT_COUNT];

// Sampler arrays may only be indexed with dynamically uniform values and handles vary per
// invocation, so the slot is matched by a loop whose index is the same for every invocation.
vec4 textureHandleSampleGrad(uvec2 handle, vec2 uv, vec2 dx, vec2 dy) {
    int slot = int(handle.x) - 1;
    for (int i = 0; i < TEXTURE_SLOT_COUNT; ++i) {
        if (i == slot) return textureGrad(textureSlots[i], uv, dx, dy);
    }
    return vec4(1.0);
}

vec4 textureHandleSampleLod(uvec2 handle, vec2 uv, float lod) {
    int slot = int(handle.x) - 1;
    for (int i = 0; i < TEXTURE_SLOT_COUNT; ++i) {
        if (i == slot) return textureLod(textureSlots[i], uv, lod);
    }
    return vec4(1.0);
}

vec4 textureHandleSample(uvec2 handle, vec2 uv) {
#if defined(FRAGMENT)
    return textureHandleSampleGrad(handle, uv, dFdx(uv), dFdy(uv));
#else
    return textureHandleSampleLod(handle, uv, 0.0);
#endif
}
#elif defined(GL_ARB_bindless_texture)
vec4 textureHandleSampleLod(uvec2 handle, vec2 uv, float lod) {
    if (handle == uvec2(0u)) return vec4(1.0);
    return textureLod(sampler2D(handle), uv, lod);
}

vec4 textureHandleSample(uvec2 handle, vec2 uv) {
    if (handle == uvec2(0u)) return vec4(1.0);
    return texture(sampler2D(handle), uv);
}
#endif
// ---- end of texture handles ----

// ---- Shared GPU records (std430) ----
// A captured vertex: position float bits and the packed normal (packSnorm4x8), then texture
// coordinate bits and the two words of the texture handle.
struct FVert {
    uvec4 uposn;
    uvec4 uvTI;
};

// The texture words (uvTI.zw) of a captured triangle: its first vertex holds the base-colour
// texture handle; the second and third hold the base colour factor as the complement of
// packUnorm4x8 in z (so words left at zero read as opaque white) and 0 in w. The geometry
// pass's albedo is that factor times the texel, and so is the colour a traced ray brings back.
#if defined(VERTEX)
uvec2 capturedMaterialWords(uvec2 handle, vec4 baseColor) {
    return gl_VertexID % 3 == 0 ? handle : uvec2(~packUnorm4x8(baseColor), 0u);
}
#endif

vec4 unpackCapturedBaseColor(uint word) {
    return unpackUnorm4x8(~word);
}

// A node of the triangle tree: box minimum bits with the node's link in w, box maximum bits with
// its skip link in w. Node 0 heads the tree: mi.w is the root, ma.w the number of nodes.
// The link of an inner node is its first child (> 0); a leaf's is bivhLeafLink(first triangle,
// count) (< 0): one triangle, or two captured one after the other. The skip link is the node the
// walk goes on with once this node's subtree is done or missed (0: the walk is over), so a walk
// needs no stack: box hit, follow the link (or test the leaf's triangles, then skip); missed, skip.
struct BIVH {
    ivec4 mi;
    ivec4 ma;
};

int bivhLeafLink(int firstTriangle, int count) {
    return -1 - (2 * firstTriangle + (count - 1));
}

// A leaf's first captured vertex and triangle count from its (negative) link.
int bivhLeafVertex(int link) {
    return 3 * ((-1 - link) >> 1);
}

int bivhLeafTriangles(int link) {
    return 1 + ((-1 - link) & 1);
}

// ---- Tree build ----
// The build's scratch words ("bivhScratch") for T triangles: a header, then arrays.
#define TREE_CENTROID_MIN 0u // 3 words: the primitives' centroid box, as treeOrderedBits
#define TREE_PRIMITIVES 3u   // primitives (leaves), counted by the sort
#define TREE_CENTROID_MAX 4u // 3 words
#define TREE_CLUSTERS 8u     // 2 words: clusters at the start of even and odd rounds
#define TREE_NEXT_NODE 10u   // the next node a merge makes
#define TREE_LAST_MERGES 11u // merges of the last round
#define TREE_CLUSTER_ARGS 12u // 2 x 3 words: dispatch of one invocation per cluster, by round parity
#define TREE_BLOCK_ARGS 18u   // 2 x 3 words: one invocation per block of TREE_BLOCK clusters
#define TREE_ROUND_FIRST_NODE 24u // the first node the current round makes
#define TREE_ROUND_ARGS 26u // 2 x 3 words: one group while a round has clusters to merge (small trees)
#define TREE_HEADER 32u
#define TREE_BLOCK 32u // clusters per block of the clustering rounds' counts
#define TREE_ROLES TREE_HEADER // [T] per triangle: TREE_SINGLE, TREE_HEAD or TREE_TAIL
uint treeKeys(uint T, uint k) { return TREE_HEADER + (1u + 2u * k) * T; }   // [T] sort keys, k = 0, 1
uint treeValues(uint T, uint k) { return TREE_HEADER + (2u + 2u * k) * T; } // [T] their triangles
uint treeLeft(uint T) { return TREE_HEADER + 5u * T; }       // [2T] per node: first child
uint treeRight(uint T) { return TREE_HEADER + 7u * T; }      // [2T] second child
uint treeParent(uint T) { return TREE_HEADER + 9u * T; }     // [2T] parent
uint treeBoxes(uint T) { return TREE_HEADER + 11u * T; }     // [6T] triangle boxes, then primitive boxes
uint treeBlockKept(uint T) { return TREE_HEADER + 17u * T; } // [T / TREE_BLOCK + 1] clusters kept (16x: sort counts),
// then 2 (T / 1024 + 2) words of chunk sums
uint treeBlockMerges(uint T) { return treeBlockKept(T) + T / TREE_BLOCK + 1u; } // [same] merges
#define TREE_SINGLE 0u // a triangle alone in its leaf
#define TREE_HEAD 1u   // the first of two triangles sharing an edge, leaf together
#define TREE_TAIL 2u   // the second of such a pair
#define TREE_NO_KEY 0xFFFFFFFFu // the sort key of a tail: after every primitive

// The flat index of an invocation of a dispatch laid out in rows (a macro: the work-group size is
// declared after this file).
#define TREE_INVOCATION (gl_GlobalInvocationID.x + gl_GlobalInvocationID.y * gl_NumWorkGroups.x * gl_WorkGroupSize.x)

// Float bits whose unsigned order is the floats' order, for atomicMin / atomicMax.
uint treeOrderedBits(float f) {
    uint u = floatBitsToUint(f);
    return (u & 0x80000000u) != 0u ? ~u : u | 0x80000000u;
}

float treeOrderedFloat(uint u) {
    return uintBitsToFloat((u & 0x80000000u) != 0u ? u & 0x7FFFFFFFu : ~u);
}

// The fragment outputs of the geometry programs ("texm.glsl", "flat.glsl"): albedo, world-space
// normal and world position, in the order of the G-buffer's colour attachments.
#define GBUFFER_OUTPUTS                                                                                     \
    layout(location = 0) out vec4 frag0;                                                                   \
    layout(location = 1) out vec3 fragNormal;                                                              \
    layout(location = 2) out vec3 fragPos;

// A point light: position xyz; colour rgb with the intensity in w (<= 0 ends the list).
struct GPULightEntry {
    vec4 pos;
    vec4 color;
};

// ---- Geometry ----
float maxComponent(vec3 v) {
    return max(v.x, max(v.y, v.z));
}

float minComponent(vec3 v) {
    return min(v.x, min(v.y, v.z));
}

// Does the segment origo .. origo + d meet the box [mi, ma]? iRayDir is 1 / d componentwise.
bool boxHitBound(vec3 mi, vec3 ma, vec3 origo, vec3 iRayDir) {
    vec3 t0 = (mi - origo) * iRayDir;
    vec3 t1 = (ma - origo) * iRayDir;
    float inner = maxComponent(min(t0, t1));
    float outer = minComponent(max(t0, t1));
    return outer > 0.0 && inner < 1.0 && inner <= outer;
}

// Segment against triangle (Moller-Trumbore): (t, u, v, 1) for a hit with t in [0, 1],
// (t, u, v, 0) when the plane is hit inside the triangle but outside the segment, zero otherwise.
vec4 triHit(vec3 origo, vec3 dir, vec3 v1, vec3 v2, vec3 v3) {
    vec3 e1 = v2 - v1;
    vec3 e2 = v3 - v1;
    vec3 p = cross(dir, e2);
    float det = dot(e1, p);
    if (abs(det) < 0.000000000000001) return vec4(0.0);
    vec3 s = origo - v1;
    float u = dot(s, p) / det;
    if (u < 0.0 || u > 1.0) return vec4(0.0);
    vec3 q = cross(s, e1);
    float v = dot(dir, q) / det;
    if (v < 0.0 || u + v > 1.0) return vec4(0.0);
    float t = dot(e2, q) / det;
    if (t < 0.0 || t > 1.0) return vec4(t, u, v, 0.0);
    return vec4(t, u, v, 1.0);
}

// p rotated by angle about the unit vector axis (Rodrigues).
vec3 rotateAxis(vec3 p, vec3 axis, float angle) {
    return mix(dot(axis, p) * axis, p, cos(angle)) + cross(axis, p) * sin(angle);
}

// ono tilted by amounts.x away from itself, then turned by amounts.y about itself.
vec3 rotateNormal(vec3 ono, vec2 amounts) {
    vec3 f = normalize(cross(ono, ono.yzx));
    return rotateAxis(rotateAxis(ono, f, amounts.x), ono, amounts.y);
}
