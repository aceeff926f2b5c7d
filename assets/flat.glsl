#version 430
// Primitives without texture coordinates into the G-buffer: their material's base colour, the
// face normal and the world position. Vertices are captured like textured ones, with no
// normal, texture coordinates or texture (but with the base colour); the tree build gives them
// their face normal.
//!!using:util.glsl
uniform float iGlobalTime;

#ifdef VERTEX
uniform mat4 objXF;
uniform mat4 camera;
uniform mat4 proj;
uniform int xfTriCount;
uniform vec4 baseColor;
in vec3 pos;
layout(std430) buffer xfFeedback {
    FVert xfVertices[];
};
out vec4 vWorldPos;

void main() {
    int k = xfTriCount * 3 + gl_VertexID;
    vec4 w = objXF * vec4(pos, 1.0);
    if (k >= 0 && k < xfVertices.length())
        xfVertices[k] = FVert(uvec4(floatBitsToUint(w.xyz), 0u), uvec4(0u, 0u, capturedMaterialWords(uvec2(0u), baseColor)));
    gl_Position = proj * camera * w;
    vWorldPos = w;
}
#endif

#ifdef FRAGMENT
uniform vec4 baseColor;
uniform mat4 invCamera;
in vec4 vWorldPos;
GBUFFER_OUTPUTS

void main() {
    frag0 = baseColor;
    // The face normal in winding order: turned towards the viewer, then away again for back faces.
    vec3 p = vWorldPos.xyz;
    vec3 n = normalize(cross(dFdx(p), dFdy(p)));
    vec3 cam = (invCamera * vec4(0.0, 0.0, 0.0, 1.0)).xyz;
    if (dot(n, cam - p) < 0.0) n = -n;
    if (!gl_FrontFacing) n = -n;
    fragNormal = n;
    fragPos = p;
}
#endif
