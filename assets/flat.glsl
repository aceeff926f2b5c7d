#version 430
// Untextured primitives (positions only) into the G-buffer: a screen-position colour ramp, the
// face normal and the world position. Vertices are captured like textured ones, with no
// normal, texture coordinates or texture; the tree build gives them their face normal.
//!!using:util.glsl
uniform float iGlobalTime;

#ifdef VERTEX
uniform mat4 objXF;
uniform mat4 camera;
uniform mat4 proj;
uniform int xfTriCount;
in vec3 pos;
layout(std430) buffer xfFeedback {
    FVert xfVertices[];
};
out vec4 vWorldPos;

void main() {
    int k = xfTriCount * 3 + gl_VertexID;
    vec4 w = objXF * vec4(pos, 1.0);
    if (k >= 0 && k < xfVertices.length()) xfVertices[k] = FVert(uvec4(floatBitsToUint(w.xyz), 0u), uvec4(0u));
    gl_Position = proj * camera * w;
    vWorldPos = w;
}
#endif

#ifdef FRAGMENT
uniform vec2 iResolution;
uniform float shaderBlue;
uniform mat4 invCamera;
in vec4 vWorldPos;
GBUFFER_OUTPUTS

void main() {
    float m = max(iResolution.x, iResolution.y);
    frag0 = vec4(gl_FragCoord.x / m, iResolution.y / m - gl_FragCoord.y / m, shaderBlue, 1.0);
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
