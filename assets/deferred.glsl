#version 450 core
// The shading pass: one full-window quad lighting the G-buffer with the direct light of every
// light (a shadow ray each) plus the light cache's indirect light, read smoothly across its
// cells, times the linear albedo, written as its square root.
//!!using:util.glsl
//!!using:licache.glsl
//!!using:ray.glsl

#ifdef VERTEX
in vec2 pos2;

void main() {
    gl_Position = vec4(pos2, 0.5, 1.0);
}
#endif

#ifdef FRAGMENT
uniform vec2 iResolution;
uniform mat4 invCamera;
uniform mat4 invProj;
uniform sampler2D gBufferAlb;
uniform sampler2D gBufferNorm;
uniform sampler2D gBufferPos;
layout(location = 0) out vec4 frag0;

void main() {
    vec2 uv = gl_FragCoord.xy / iResolution;
    vec3 a = texture(gBufferAlb, uv).rgb;
    vec3 p = texture(gBufferPos, uv).xyz;
    vec3 n = texture(gBufferNorm, uv).xyz;
    vec3 cam = (invCamera * vec4(0.0, 0.0, 0.0, 1.0)).xyz;
    a *= a;
    vec3 light = getLighting(p, n, 0, true);
    uint e = liGetEntry(cam, p, n);
    light += liSmoothLight(cam, p, n, e);
    frag0 = vec4(sqrt(light * a), 1.0);
}
#endif
