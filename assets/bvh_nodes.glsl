#version 450 core
// One level of the triangle tree: node w + o is the union of its children 2n and 2n + 1.
// arg0_level = w, the first index of the level (index x + 32768 y).
//!!using:util.glsl
#ifdef COMPUTE
layout(local_size_x = 64, local_size_y = 1, local_size_z = 1) in;
uniform int arg0_level;
layout(std430) buffer arg1_tree {
    BIVH levelItems[];
};

void main() {
    if (gl_GlobalInvocationID.x >= 32768u) return;
    int o = int(gl_GlobalInvocationID.x) + 32768 * int(gl_GlobalInvocationID.y);
    if (o >= arg0_level) return;
    int n = arg0_level + o;
    BIVH left = levelItems[2 * n];
    BIVH right = levelItems[2 * n + 1];
    vec3 lo = min(intBitsToFloat(left.mi.xyz), intBitsToFloat(right.mi.xyz));
    vec3 hi = max(intBitsToFloat(left.ma.xyz), intBitsToFloat(right.ma.xyz));
    int flags = (left.mi.w != 0 ? BIVH_LEFT_CHILD : 0) + (right.mi.w != 0 ? BIVH_RIGHT_CHILD : 0);
    levelItems[n] = BIVH(ivec4(floatBitsToInt(lo), flags), ivec4(floatBitsToInt(hi), arg0_level));
}
#endif
