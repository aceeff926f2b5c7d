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

// A node of the triangle tree: box minimum bits with the flags in w, box maximum bits with the
// leaf's first vertex (or the level's first index) in w.
struct BIVH {
    ivec4 mi;
    ivec4 ma;
};

// The flags in mi.w: a leaf's triangles 0 and 1 (bits 0, 1); an inner node's children 2n and
// 2n + 1 (bits 2, 3), each present when its subtree holds a triangle.
#define BIVH_TRIANGLES 3
#define BIVH_LEFT_CHILD 4
#define BIVH_RIGHT_CHILD 8
#define BIVH_CHILDREN 12

bool bivhHasTriangle(int flags, int j) {
    return (flags & (1 << j)) != 0;
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
