#version 450 core
// Textured primitives into the G-buffer: albedo (baseColor times the texel), world-space normal
// and position. The vertex stage also captures every vertex in world space into xfFeedback,
// at slot xfTriCount * 3 + gl_VertexID, for the triangle tree, with the texture handle and the
// base colour in the texture words (capturedMaterialWords).
//!!using:util.glsl
uniform float iGlobalTime;

#ifdef VERTEX
uniform mat4 objXF;
uniform mat4 iobjXF;
uniform mat4 camera;
uniform mat4 proj;
uniform int xfTriCount;
uniform uvec2 baseColorTexture;
uniform vec4 baseColor;
in vec3 pos;
in vec3 normal;
in vec2 uv;
layout(std430) buffer xfFeedback {
    FVert xfVertices[];
};
out vec4 vWorldPos;
out vec2 vUV;
out vec3 vNormal;

// Normals follow the node's rotation through the transpose of its inverse and keep their length.
vec3 worldNormal(vec3 n) {
    vec3 turned = transpose(mat3(iobjXF)) * n;
    float turnedLength = length(turned);
    return turnedLength > 0.0 ? turned * (length(n) / turnedLength) : vec3(0.0);
}

void main() {
    int k = xfTriCount * 3 + gl_VertexID;
    vec4 w = objXF * vec4(pos, 1.0);
    vec3 n = worldNormal(normal);
    if (k >= 0 && k < xfVertices.length())
        xfVertices[k] = FVert(uvec4(floatBitsToUint(w.xyz), packSnorm4x8(vec4(n, 0.0))),
                              uvec4(floatBitsToUint(uv), capturedMaterialWords(baseColorTexture, baseColor)));
    gl_Position = proj * camera * w;
    vWorldPos = w;
    vUV = uv;
    vNormal = n;
}
#endif

#ifdef FRAGMENT
uniform uvec2 baseColorTexture;
uniform vec4 baseColor;
in vec4 vWorldPos;
in vec2 vUV;
in vec3 vNormal;
GBUFFER_OUTPUTS

void main() {
    vec4 c = textureHandleSample(baseColorTexture, vUV);
    if (c.a < 0.03) discard;
    frag0 = baseColor * c;
    fragNormal = vNormal;
    fragPos = vWorldPos.xyz;
}
#endif
