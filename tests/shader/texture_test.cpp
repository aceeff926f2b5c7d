// Texture uploads with their in-place mip chain, image units, and the texture handle layer.
#include "shader/shader.h"
#include "tests/support/fatal_exit.h"

#include "shader_gl_test.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

class TextureTest : public ShaderGLTest {
protected:
    static void SetUpTestSuite() {
        ShaderGLTest::SetUpTestSuite();
        // The shader files include the helper from the asset folder.
        if (getVariable("util.glsl", 0) != nullptr) return;
        std::ifstream file(NOVA31_SOURCE_DIR "/assets/util.glsl", std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        std::string util = text.str();
        putFileVariable("util.glsl", static_cast<uint32_t>(util.size()), util.data());
    }
};

// Texels of a w x h image and room for its whole chain.
std::vector<uint32_t> chainStorage(int w, int h) {
    size_t total = 0;
    for (; w > 0 && h > 0; w /= 2, h /= 2) total += static_cast<size_t>(w) * h;
    return std::vector<uint32_t>(total);
}

std::vector<uint32_t> referenceNextLevel(const std::vector<uint32_t>& level, int w, int h) {
    std::vector<uint32_t> next(static_cast<size_t>(w / 2) * (h / 2));
    auto term = [&](int x, int y) { return (level[static_cast<size_t>(y) * w + x] >> 2) & 0x3f3f3f3fu; };
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 2; ++x)
            next[static_cast<size_t>(y) * (w / 2) + x] = term(2 * x, 2 * y) + term(2 * x + 1, 2 * y) +
                                                         term(2 * x, 2 * y + 1) + term(2 * x + 1, 2 * y + 1);
    return next;
}

TextureRecord imageRecord(std::vector<uint32_t>& storage, int w, int h) {
    TextureRecord texture{};
    texture.width = texture.uploadWidth = w;
    texture.height = texture.uploadHeight = h;
    texture.pixels = storage.data();
    return texture;
}

GLint levelParameter(int level, GLenum parameter) {
    GLint value = -1;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, parameter, &value);
    return value;
}

GLint maxLevel() {
    GLint value = -1;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, &value);
    return value;
}

std::vector<uint32_t> readLevel(int level, int w, int h) {
    std::vector<uint32_t> texels(static_cast<size_t>(w) * h);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glGetTexImage(GL_TEXTURE_2D, level, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
    return texels;
}

} // namespace

// ---- Mip chain ----

TEST_F(TextureTest, MipChainIsBuiltInPlaceAndUploaded) {
    const int w = 256, h = 128;
    std::vector<uint32_t> storage = chainStorage(w, h);
    uint32_t seed = 12345;
    for (int i = 0; i < w * h; ++i) storage[i] = seed = seed * 1664525u + 1013904223u;
    std::vector<uint32_t> level(storage.begin(), storage.begin() + w * h);
    TextureRecord texture = imageRecord(storage, w, h);

    uploadTexture(&texture);
    ASSERT_NE(texture.glTexture, 0u);
    EXPECT_EQ(texture.dirty, 0);
    EXPECT_NE(texture.bindlessHandle, 0u);

    size_t offset = 0;
    int lw = w, lh = h;
    for (int l = 0; l < 8; ++l) {
        EXPECT_EQ(levelParameter(l, GL_TEXTURE_WIDTH), lw) << "level " << l;
        EXPECT_EQ(levelParameter(l, GL_TEXTURE_HEIGHT), lh) << "level " << l;
        ASSERT_TRUE(std::equal(level.begin(), level.end(), storage.begin() + static_cast<long>(offset)))
            << "host chain, level " << l;
        EXPECT_EQ(readLevel(l, lw, lh), level) << "texture, level " << l;
        offset += level.size();
        if (l < 7) level = referenceNextLevel(level, lw, lh);
        lw /= 2;
        lh /= 2;
    }
    EXPECT_EQ(lw, 1);
    EXPECT_EQ(levelParameter(8, GL_TEXTURE_WIDTH), 0) << "2 x 1 is the last level";
    EXPECT_EQ(maxLevel(), 7);

    // Not dirty: bound, nothing sent.
    storage[0] = 0xff0000ffu;
    uploadTexture(&texture);
    EXPECT_NE(readLevel(0, w, h)[0], 0xff0000ffu);
    // Dirty: level 0 again, and the chain below it rebuilt.
    texture.dirty = 1;
    uploadTexture(&texture);
    EXPECT_EQ(readLevel(0, w, h)[0], 0xff0000ffu);
    EXPECT_EQ(maxLevel(), 7);
    EXPECT_EQ(texture.dirty, 0);
}

TEST_F(TextureTest, OddSizesStayInsideTheirLevels) {
    // 5 x 3 has the chain 5 x 3, 2 x 1: exactly 17 texels, the last two built from rows 0 and 1.
    std::vector<uint32_t> storage = chainStorage(5, 3);
    ASSERT_EQ(storage.size(), 17u);
    for (int i = 0; i < 15; ++i) storage[i] = 0x04040404u * static_cast<uint32_t>(i + 1);
    std::vector<uint32_t> level(storage.begin(), storage.begin() + 15);
    TextureRecord texture = imageRecord(storage, 5, 3);
    uploadTexture(&texture);
    std::vector<uint32_t> expected = referenceNextLevel(level, 5, 3);
    EXPECT_EQ(std::vector<uint32_t>(storage.begin() + 15, storage.end()), expected);
    EXPECT_EQ(readLevel(1, 2, 1), expected);
    EXPECT_EQ(maxLevel(), 1);
}

TEST_F(TextureTest, RenderTargetsAreOnlyBound) {
    TextureRecord target{};
    target.width = target.uploadWidth = 4;
    target.height = target.uploadHeight = 4;
    glGenTextures(1, &target.glTexture);
    glBindTexture(GL_TEXTURE_2D, target.glTexture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, 4, 4, 0, GL_RGBA, GL_FLOAT, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    uploadTexture(&target);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), target.glTexture);
    EXPECT_EQ(target.bindlessHandle, 0u);
    EXPECT_EQ(levelParameter(0, GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA32F);
}

TEST_F(TextureTest, ImageUniformsBindImageUnits) {
    const char* source = R"(#version 430
#ifdef COMPUTE
layout(local_size_x = 1) in;
layout(rgba8) uniform writeonly image2D arg0_target;
layout(rgba8ui) uniform readonly uimage2D arg1_nullImage;
layout(rgba8ui) uniform readonly uimage2D arg2_plain;
void main() {
    uvec4 extra = imageLoad(arg1_nullImage, ivec2(0)) + imageLoad(arg2_plain, ivec2(0));
    imageStore(arg0_target, ivec2(gl_GlobalInvocationID.xy), vec4(1.0, 2.0, 3.0, 4.0 + float(extra.x)) / 255.0);
}
#endif
)";
    ShaderProgram* program = buildProgram(0, source);
    std::vector<uint32_t> storage = chainStorage(2, 2), plainStorage = chainStorage(1, 1);
    TextureRecord target = imageRecord(storage, 2, 2);
    target.internalFormat = GL_RGBA8;
    TextureRecord plain = imageRecord(plainStorage, 1, 1);
    use(program, &target, nullptr, &plain);
    glDispatchCompute(2, 2, 1);
    glMemoryBarrier(GL_ALL_BARRIER_BITS);

    // A CPU reference of the hand-out: units in resource order, the null image not advancing.
    int unit = 0;
    for (const ProgramResource& resource : program->resources) {
        GLint value = -1;
        glGetUniformiv(program->program, resource.location, &value);
        EXPECT_EQ(value, unit) << resource.name;
        if (!resource.nullAllowed) {
            const TextureRecord& bound = resource.name == "arg0_target" ? target : plain;
            GLint name = 0, format = 0;
            glGetIntegeri_v(GL_IMAGE_BINDING_NAME, static_cast<GLuint>(unit), &name);
            glGetIntegeri_v(GL_IMAGE_BINDING_FORMAT, static_cast<GLuint>(unit), &format);
            EXPECT_EQ(static_cast<GLuint>(name), bound.glTexture) << resource.name;
            EXPECT_EQ(format, &bound == &target ? GL_RGBA8 : GL_RGBA8UI) << "internal format, else RGBA8UI";
            ++unit;
        }
    }
    EXPECT_EQ(unit, 2);
    glBindTexture(GL_TEXTURE_2D, target.glTexture);
    EXPECT_EQ(readLevel(0, 2, 2), std::vector<uint32_t>(4, 0x04010203u));
}

// ---- Texture handles ----

namespace {

const char* kHandleComputeSource = R"(#version 450 core
//!!using:util.glsl
#ifdef COMPUTE
layout(local_size_x = 1) in;
layout(std430) buffer arg0_handles { uvec2 handles[]; };
layout(std430) buffer arg1_colors { vec4 colors[]; };
void main() {
    uint i = gl_GlobalInvocationID.x;
    colors[i] = textureHandleSampleLod(handles[i], vec2(0.5), 0.0);
}
#endif
)";

uint32_t solid[3] = {0xffff0000u, 0xff00ff00u, 0x800000ffu}; // red, green, half-transparent blue

TextureRecord solidTexture(uint32_t* texel) {
    TextureRecord texture{};
    texture.width = texture.height = texture.uploadWidth = texture.uploadHeight = 1;
    texture.pixels = texel;
    return texture;
}

} // namespace

TEST_F(TextureTest, HandlesSampleTheirTexturesPerInvocation) {
    TextureRecord textures[3] = {solidTexture(&solid[0]), solidTexture(&solid[1]), solidTexture(&solid[2])};
    for (TextureRecord& texture : textures) uploadTexture(&texture);
    if (textureHandleMode() == TextureHandleMode::slotTable) {
        for (TextureRecord& texture : textures) {
            ASSERT_GE(texture.bindlessHandle, 1u);
            EXPECT_EQ(textureSlotTexture(static_cast<int>(texture.bindlessHandle - 1)), texture.glTexture);
        }
    }

    // Non-uniform handles: each invocation its own texture, and (0, 0) meaning none.
    std::vector<uint32_t> handles;
    for (int i : {2, 0, 1, -1, 0}) {
        uint64_t handle = i < 0 ? 0 : textures[i].bindlessHandle;
        handles.push_back(static_cast<uint32_t>(handle));
        handles.push_back(static_cast<uint32_t>(handle >> 32));
    }
    BufferRecord handleBuffer{8, 5, 5, handles.data(), 5, 0, 0};
    BufferRecord colorBuffer{16, 0, 0, nullptr, 0, 0, 0};
    reserveDeviceBuffer(&colorBuffer, 5);

    ShaderProgram* program = buildProgram(0, kHandleComputeSource);
    use(program, &handleBuffer, &colorBuffer);
    glDispatchCompute(5, 1, 1);
    glMemoryBarrier(GL_ALL_BARRIER_BITS);
    float colors[20] = {};
    glBindBuffer(GL_COPY_READ_BUFFER, colorBuffer.glBuffer);
    glGetBufferSubData(GL_COPY_READ_BUFFER, 0, sizeof colors, colors);
    const float expected[5][4] = {
        {0, 0, 1, 128.0f / 255}, {1, 0, 0, 1}, {0, 1, 0, 1}, {1, 1, 1, 1}, {1, 0, 0, 1}};
    for (int i = 0; i < 5; ++i)
        for (int c = 0; c < 4; ++c) EXPECT_NEAR(colors[i * 4 + c], expected[i][c], 0.002) << i << "." << c;
}

TEST_F(TextureTest, HandleUniformSamplesInTheFragmentStage) {
    const char* source = R"(#version 450 core
//!!using:util.glsl
#ifdef VERTEX
in vec2 handleQuad;
void main() { gl_Position = vec4(handleQuad, 0.5, 1.0); }
#endif
#ifdef FRAGMENT
uniform uvec2 handleTexture;
uniform sampler2D handleSampler;
out vec4 color;
void main() { color = textureHandleSample(handleTexture, vec2(0.5)) + texture(handleSampler, vec2(0.5)) * 0.0; }
#endif
)";
    static float quad[6] = {-1, -1, 3, -1, -1, 3};
    *static_cast<BufferRecord*>(variableData(getVariable("handleQuad", 32))) =
        BufferRecord{8, 3, 3, quad, 3, 0, 0};
    *static_cast<TextureRecord*>(variableData(getVariable("handleTexture", 64))) = solidTexture(&solid[1]);
    *static_cast<TextureRecord*>(variableData(getVariable("handleSampler", 64))) = solidTexture(&solid[0]);
    ShaderProgram* program = buildProgram(0, source);
    use(program);
    auto pixel = drawAndReadCentre(8);
    EXPECT_EQ(pixel[0], 0);
    EXPECT_EQ(pixel[1], 255) << "the handle's texture, not the sampler bound next to it";
    EXPECT_EQ(pixel[2], 0);
}

TEST_F(TextureTest, BindlessPathWhereTheDriverHasIt) {
    if (textureHandleMode() != TextureHandleMode::bindless)
        GTEST_SKIP() << "GL_ARB_bindless_texture is missing on this driver; the slot table serves instead";
    uint32_t texel = 0xff00ff00u;
    TextureRecord texture = solidTexture(&texel);
    uploadTexture(&texture);
    EXPECT_NE(texture.bindlessHandle, 0u);
    EXPECT_TRUE(glIsTextureHandleResidentARB(texture.bindlessHandle));
    ShaderProgram* program = buildProgram(0, kHandleComputeSource);
    EXPECT_EQ(program->argumentCount, 2);
}

using TextureDeathTest = TextureTest;

namespace {
void takeEverySlot() {
    static uint32_t texel = 0xffffffffu;
    for (int i = 0; i <= kTextureSlotCount; ++i) {
        TextureRecord texture = solidTexture(&texel);
        std::strcpy(texture.label, "slotFiller");
        uploadTexture(&texture);
    }
}
} // namespace

TEST_F(TextureDeathTest, SlotTableRunsOutWithAClearError) {
    if (textureHandleMode() != TextureHandleMode::slotTable) GTEST_SKIP() << "bindless handles need no slots";
    EXPECT_EXIT(takeEverySlot(), ::testing::ExitedWithCode(kFatalExitStatus),
                "Texture slots: all 24 are taken.*slotFiller");
}

// ---- Files named by resources ----

TEST_F(TextureTest, SamplerNamedAfterAFileGetsItsDecodedTexture) {
    const char* source = R"(#version 430
#ifdef COMPUTE
layout(local_size_x = 1) in;
uniform sampler2D file_shadertex_DOT_png;
layout(std430) buffer arg0_sampled { vec4 sampled[]; };
void main() { sampled[0] = textureLod(file_shadertex_DOT_png, vec2(0.5), 0.0); }
#endif
)";
    // What the image hook leaves: the file Variable, linked to its decoded texture.
    Variable* file = putFileVariable("shadertex.png", 4, "\x89PNG");
    Variable* decoded = appendVariable("shadertex.png_loadedimage", 64);
    static uint32_t texel = 0xff0000ffu;
    *reinterpret_cast<TextureRecord*>(decoded->inlineData()) = solidTexture(&texel);
    file->replacement = decoded;

    ShaderProgram* program = buildProgram(0, source);
    BufferRecord out{16, 0, 0, nullptr, 0, 0, 0};
    reserveDeviceBuffer(&out, 1);
    use(program, &out);
    glDispatchCompute(1, 1, 1);
    glMemoryBarrier(GL_ALL_BARRIER_BITS);
    float color[4] = {};
    glBindBuffer(GL_COPY_READ_BUFFER, out.glBuffer);
    glGetBufferSubData(GL_COPY_READ_BUFFER, 0, sizeof color, color);
    EXPECT_EQ(color[0], 0.0f);
    EXPECT_EQ(color[2], 1.0f) << "the blue texel of the decoded file";
    EXPECT_NE(reinterpret_cast<TextureRecord*>(decoded->inlineData())->glTexture, 0u);
}
