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
