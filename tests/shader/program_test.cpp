// Programs against the real driver: resource records, arguments, feeding by name, fatal texts.
#include "shader/shader.h"
#include "tests/support/fatal_exit.h"

#include "shader_gl_test.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

using ProgramTest = ShaderGLTest;

const ProgramResource* findResource(const ShaderProgram* program, const char* name) {
    for (const ProgramResource& resource : program->resources)
        if (resource.name == name) return &resource;
    return nullptr;
}

template <typename T> T* storeValue(const char* name, uint32_t size = sizeof(T)) {
    return static_cast<T*>(variableData(currentVariable(getVariable(name, size))));
}

BufferRecord hostBuffer(std::vector<int32_t>& values) {
    BufferRecord record{};
    record.elementSize = 4;
    record.elementCount = static_cast<int32_t>(values.size());
    record.hostCapacity = record.elementCount;
    record.hostData = values.data();
    record.pending = record.elementCount;
    return record;
}

std::vector<int32_t> readBuffer(GLuint buffer, size_t count) {
    std::vector<int32_t> values(count);
    glMemoryBarrier(GL_ALL_BARRIER_BITS);
    glBindBuffer(GL_COPY_READ_BUFFER, buffer);
    glGetBufferSubData(GL_COPY_READ_BUFFER, 0, static_cast<GLsizeiptr>(count * 4), values.data());
    glBindBuffer(GL_COPY_READ_BUFFER, 0);
    return values;
}

// ---- Arguments ----

const char* kArgumentsSource = R"(#version 430
#ifdef COMPUTE
layout(local_size_x = 1) in;
uniform int arg0_level;
layout(std430) buffer arg1_tree { int tree[]; };
layout(std430) buffer arg2_feedback { int feedback[]; };
void main() { feedback[0] = tree[0] * 10 + arg0_level; feedback[1] = tree[1]; }
#endif
)";

} // namespace

TEST_F(ProgramTest, ArgumentsArePositional) {
    ShaderProgram* program = buildProgram(0, kArgumentsSource);
    EXPECT_EQ(program->argumentCount, 3);
    EXPECT_EQ(findResource(program, "arg0_level")->argumentIndex, 0);
    EXPECT_EQ(findResource(program, "arg1_tree")->argumentIndex, 1);
    EXPECT_EQ(findResource(program, "arg2_feedback")->argumentIndex, 2);
    EXPECT_EQ(findResource(program, "arg1_tree")->programInterface,
              static_cast<uint32_t>(GL_SHADER_STORAGE_BLOCK));

    int level = 7;
    std::vector<int32_t> tree{4, 99}, feedback{0, 0};
    BufferRecord treeRecord = hostBuffer(tree), feedbackRecord = hostBuffer(feedback);
    use(program, &level, &treeRecord, &feedbackRecord);
    glDispatchCompute(1, 1, 1);
    EXPECT_EQ(readBuffer(feedbackRecord.glBuffer, 2), (std::vector<int32_t>{47, 99}));
    EXPECT_EQ(treeRecord.pending, 0);
}

TEST_F(ProgramTest, ArgumentIndicesFromNames) {
    ShaderProgram* plain =
        buildProgram(0, "#version 430\n#ifdef COMPUTE\nlayout(local_size_x = 1) in;\n"
                        "uniform int argCount;\nuniform int arg0;\nuniform int arg;\n"
                        "uniform int nothing;\nlayout(std430) buffer outBlock { int o[]; };\n"
                        "void main() { o[0] = argCount + arg0 + arg + nothing; }\n#endif\n");
    EXPECT_EQ(findResource(plain, "argCount")->argumentIndex, 0) << "no digits read as 0";
    EXPECT_EQ(findResource(plain, "arg0")->argumentIndex, 0);
    EXPECT_EQ(findResource(plain, "arg")->argumentIndex, -1) << "three characters are no argument";
    EXPECT_EQ(findResource(plain, "nothing")->argumentIndex, -1);
    EXPECT_EQ(plain->argumentCount, 1);

    ShaderProgram* none =
        buildProgram(0, "#version 430\n#ifdef COMPUTE\nlayout(local_size_x = 1) in;\n"
                        "uniform float shaderNothing;\nlayout(std430) buffer outBlock2 { float o[]; };\n"
                        "void main() { o[0] = shaderNothing; }\n#endif\n");
    EXPECT_EQ(none->argumentCount, 0);
    EXPECT_EQ(none->resourceCount, static_cast<int32_t>(none->resources.size()));
}

// ---- Uniform values ----

namespace {
const char* kUniformsSource = R"(#version 430
#ifdef VERTEX
void main() { gl_Position = vec4(float(gl_VertexID), 0.0, 0.5, 1.0); }
#endif
#ifdef FRAGMENT
uniform float uFloat;
uniform vec2 uVec2;
uniform vec4 uVec4;
uniform int uInt;
uniform ivec2 uIvec2;
uniform ivec3 uIvec3;
uniform ivec4 uIvec4;
uniform mat2 uMat2;
uniform mat4 uMat4;
uniform float uFloats[3];
out vec4 color;
void main() {
    color = vec4(uFloat + uVec2.x + uMat2[1][0] + uFloats[0] + uFloats[2], uVec4.y + uMat4[3][2],
                 float(uInt + uIvec2.y + uIvec3.z + uIvec4.w), 1.0);
}
#endif
)";

void fillFloats(float* values, int count, float start) {
    for (int i = 0; i < count; ++i) values[i] = start + static_cast<float>(i);
}
void fillInts(int* values, int count, int start) {
    for (int i = 0; i < count; ++i) values[i] = start + i;
}
} // namespace

TEST_F(ProgramTest, UniformsOfEverySupportedTypeReachTheProgram) {
    ShaderProgram* program = buildProgram(0, kUniformsSource);
    struct FloatUniform {
        const char* name;
        int count;
    } floatUniforms[] = {{"uFloat", 1}, {"uVec2", 2},  {"uVec4", 4},
                         {"uMat2", 4},  {"uMat4", 16}, {"uFloats", 3}};
    struct IntUniform {
        const char* name;
        int count;
    } intUniforms[] = {{"uInt", 1}, {"uIvec2", 2}, {"uIvec3", 3}, {"uIvec4", 4}};
    float start = 1.5f;
    for (const FloatUniform& u : floatUniforms)
        fillFloats(storeValue<float>(u.name, u.count * 4), u.count, start += 20);
    int intStart = 3;
    for (const IntUniform& u : intUniforms)
        fillInts(storeValue<int>(u.name, u.count * 4), u.count, intStart += 20);

    use(program);
    GLuint name = program->program;
    start = 1.5f;
    for (const FloatUniform& u : floatUniforms) {
        start += 20;
        float read[16] = {};
        if (std::strcmp(u.name, "uFloats") == 0) {
            for (int i = 0; i < 3; ++i) {
                std::string element = "uFloats[" + std::to_string(i) + "]";
                glGetUniformfv(name, glGetUniformLocation(name, element.c_str()), &read[i]);
            }
        } else {
            glGetUniformfv(name, glGetUniformLocation(name, u.name), read);
        }
        for (int i = 0; i < u.count; ++i)
            EXPECT_EQ(read[i], start + static_cast<float>(i)) << u.name << "[" << i << "]";
    }
    intStart = 3;
    for (const IntUniform& u : intUniforms) {
        intStart += 20;
        int read[4] = {};
        glGetUniformiv(name, glGetUniformLocation(name, u.name), read);
        for (int i = 0; i < u.count; ++i) EXPECT_EQ(read[i], intStart + i) << u.name << "[" << i << "]";
    }

    // Every use re-reads the Variable, through replacement links set since the last call.
    *storeValue<float>("uFloat") = -2.0f;
    use(program);
    float value = 0;
    glGetUniformfv(name, glGetUniformLocation(name, "uFloat"), &value);
    EXPECT_EQ(value, -2.0f);
    Variable* other = appendVariable("uFloat.other", 4);
    *reinterpret_cast<float*>(other->inlineData()) = 8.25f;
    getVariable("uFloat", 0)->replacement = other;
    use(program);
    glGetUniformfv(name, glGetUniformLocation(name, "uFloat"), &value);
    EXPECT_EQ(value, 8.25f);
}

TEST_F(ProgramTest, BuiltInsAreNotRecordedBlockMembersAre) {
    const char* source = R"(#version 430
#ifdef VERTEX
in vec3 blockPos;
void main() { gl_Position = vec4(blockPos, float(gl_VertexID + gl_InstanceID)); }
#endif
#ifdef FRAGMENT
layout(std140) uniform Material { vec4 blockTint; };
out vec4 color;
void main() { color = blockTint * gl_FragCoord; }
#endif
)";
    ShaderProgram* program = buildProgram(0, source);
    for (const ProgramResource& resource : program->resources)
        EXPECT_NE(resource.name.rfind("gl_", 0), 0u) << resource.name;
    const ProgramResource* tint = findResource(program, "blockTint");
    ASSERT_NE(tint, nullptr);
    EXPECT_EQ(tint->location, -1);
    ASSERT_NE(findResource(program, "blockPos"), nullptr);
    EXPECT_EQ(findResource(program, "color"), nullptr) << "outputs are only logged";
}

// ---- Vertex inputs and storage blocks ----

TEST_F(ProgramTest, VertexInputsAreUploadedAndPointed) {
    const char* source = R"(#version 430
#ifdef VERTEX
in vec3 vtPos;
in vec2 vtUV;
out vec2 uv;
void main() { uv = vtUV; gl_Position = vec4(vtPos, 1.0); }
#endif
#ifdef FRAGMENT
in vec2 uv;
out vec4 color;
void main() { color = vec4(uv, 0.0, 1.0); }
#endif
)";
    ShaderProgram* program = buildProgram(0, source);
    static float positions[9] = {-1, -1, 0, 3, -1, 0, -1, 3, 0};
    static float uvs[6] = {0.25f, 0.5f, 0.25f, 0.5f, 0.25f, 0.5f};
    BufferRecord* pos = storeValue<BufferRecord>("vtPos", 32);
    *pos = BufferRecord{12, 3, 3, positions, 3, 0, 0};
    BufferRecord* uv = storeValue<BufferRecord>("vtUV", 32);
    *uv = BufferRecord{8, 3, 3, uvs, 3, 0, 0};
    use(program);
    EXPECT_EQ(pos->pending, 0);
    EXPECT_EQ(pos->glCapacity, 3);
    ASSERT_NE(pos->glBuffer, 0u);

    GLuint location = static_cast<GLuint>(findResource(program, "vtPos")->location);
    GLint size = 0, stride = 0, enabled = 0, buffer = 0;
    glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_SIZE, &size);
    glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_STRIDE, &stride);
    glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &enabled);
    glGetVertexAttribiv(location, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING, &buffer);
    EXPECT_EQ(size, 3);
    EXPECT_EQ(stride, 12);
    EXPECT_EQ(enabled, 1);
    EXPECT_EQ(static_cast<GLuint>(buffer), pos->glBuffer);

    // The triangle covers the window; every pixel gets the interpolated (constant) uv.
    auto pixel = drawAndReadCentre(16);
    EXPECT_NEAR(pixel[0], 64, 1);
    EXPECT_NEAR(pixel[1], 128, 1);
}

TEST_F(ProgramTest, BufferUploadSendsPendingPrefixAndRecreatesOnGrowth) {
    std::vector<int32_t> values{1, 2, 3, 4};
    BufferRecord record = hostBuffer(values);
    uploadBuffer(&record, GL_ARRAY_BUFFER);
    GLuint first = record.glBuffer;
    EXPECT_EQ(record.glCapacity, 4);
    values = {10, 20, 30, 40};
    record.hostData = values.data();
    record.pending = 2;
    uploadBuffer(&record, GL_ARRAY_BUFFER);
    EXPECT_EQ(readBuffer(record.glBuffer, 4), (std::vector<int32_t>{10, 20, 3, 4}));
    record.pending = 0;
    values[3] = 77;
    uploadBuffer(&record, GL_ARRAY_BUFFER);
    EXPECT_EQ(readBuffer(record.glBuffer, 4)[3], 4) << "nothing pending, nothing sent";

    std::vector<int32_t> grown{5, 6, 7, 8, 9, 10};
    record.hostData = grown.data();
    record.elementCount = record.pending = 6;
    uploadBuffer(&record, GL_ARRAY_BUFFER);
    EXPECT_EQ(record.glBuffer, first) << "the buffer object stays, its store is made anew";
    EXPECT_EQ(record.glCapacity, 6);
    EXPECT_EQ(readBuffer(record.glBuffer, 6), grown);
}

TEST_F(ProgramTest, StorageBlocksTakeBindingsInOrderAndUnbackedOnesGetZero) {
    const char* source = R"(#version 430
#ifdef COMPUTE
layout(local_size_x = 1) in;
layout(std430, binding = 5) buffer sbFirst { int first[]; };
layout(std430, binding = 6) buffer sbSecond { int second[]; };
void main() { first[0] = second.length() > 0 ? second[0] : 33; }
#endif
)";
    ShaderProgram* program = buildProgram(0, source);
    std::vector<int32_t> values{0};
    *storeValue<BufferRecord>("sbFirst", 32) = hostBuffer(values);
    *storeValue<BufferRecord>("sbSecond", 32) = BufferRecord{};
    use(program);

    std::vector<std::string> order;
    for (const ProgramResource& resource : program->resources)
        if (resource.programInterface == GL_SHADER_STORAGE_BLOCK) order.push_back(resource.name);
    ASSERT_EQ(order.size(), 2u);
    for (GLuint binding = 0; binding < 2; ++binding) {
        GLint bound = -1;
        glGetIntegeri_v(GL_SHADER_STORAGE_BUFFER_BINDING, binding, &bound);
        GLuint expected = order[binding] == "sbFirst" ? storeValue<BufferRecord>("sbFirst")->glBuffer : 0;
        EXPECT_EQ(static_cast<GLuint>(bound), expected) << order[binding];
        GLuint index =
            glGetProgramResourceIndex(program->program, GL_SHADER_STORAGE_BLOCK, order[binding].c_str());
        GLenum property = GL_BUFFER_BINDING;
        GLint blockBinding = -1;
        glGetProgramResourceiv(program->program, GL_SHADER_STORAGE_BLOCK, index, 1, &property, 1, nullptr,
                               &blockBinding);
        EXPECT_EQ(blockBinding, static_cast<GLint>(binding)) << "the shader's own binding is overridden";
    }
    EXPECT_EQ(storeValue<BufferRecord>("sbSecond")->glBuffer, 0u);
}

// ---- Samplers and units ----

TEST_F(ProgramTest, NullSamplerDoesNotConsumeItsUnit) {
    const char* source = R"(#version 430
#ifdef COMPUTE
layout(local_size_x = 1) in;
uniform sampler2D arg0_nullTexture;
uniform sampler2D unitFirst;
uniform sampler2D unitSecond;
layout(std430) buffer unitOut { vec4 o[]; };
void main() {
    o[0] = textureLod(arg0_nullTexture, vec2(0.5), 0.0) + textureLod(unitFirst, vec2(0.5), 0.0) +
           textureLod(unitSecond, vec2(0.5), 0.0);
}
#endif
)";
    ShaderProgram* program = buildProgram(0, source);
    ASSERT_EQ(program->argumentCount, 1);
    EXPECT_TRUE(findResource(program, "arg0_nullTexture")->nullAllowed);
    EXPECT_FALSE(findResource(program, "unitFirst")->nullAllowed);
    static uint32_t texel[2] = {0xff00ff00u, 0xffff0000u};
    for (const char* name : {"unitFirst", "unitSecond"}) {
        TextureRecord* texture = storeValue<TextureRecord>(name, 64);
        *texture = TextureRecord{};
        texture->width = texture->height = texture->uploadWidth = texture->uploadHeight = 1;
        texture->pixels = &texel[name[4] == 'F' ? 0 : 1];
    }
    *storeValue<BufferRecord>("unitOut", 32) = BufferRecord{16, 1, 0, nullptr, 0, 0, 0};
    reserveDeviceBuffer(storeValue<BufferRecord>("unitOut"), 1);
    use(program, nullptr);

    // A CPU reference of the hand-out: units in resource order, the null sampler not advancing.
    int unit = 0;
    for (const ProgramResource& resource : program->resources) {
        if (resource.type != GL_SAMPLER_2D) continue;
        GLint value = -1;
        glGetUniformiv(program->program, resource.location, &value);
        EXPECT_EQ(value, unit) << resource.name;
        if (!resource.nullAllowed) ++unit;
    }
    EXPECT_EQ(unit, 2);
    for (const char* name : {"unitFirst", "unitSecond"}) {
        GLint value = -1;
        glGetUniformiv(program->program, glGetUniformLocation(program->program, name), &value);
        glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(value));
        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        EXPECT_EQ(static_cast<GLuint>(bound), storeValue<TextureRecord>(name)->glTexture) << name;
    }
}

// ---- Fatal texts ----

using ProgramDeathTest = ProgramTest;

TEST_F(ProgramDeathTest, Vec3UniformIsAnUnknownCombination) {
    const char* source =
        "#version 430\n#ifdef COMPUTE\nlayout(local_size_x = 1) in;\nuniform vec3 tintVec3;\n"
        "layout(std430) buffer outVec3 { vec3 o[]; };\nvoid main() { o[0] = tintVec3; }\n#endif\n";
    EXPECT_EXIT(
        {
            getVariable("tintVec3", 12);
            getVariable("outVec3", 32);
            use(buildProgram(0, source));
        },
        ::testing::ExitedWithCode(kFatalExitStatus), "unknown combination tintVec3 clsid:92e1 ty:8b51");
}

TEST_F(ProgramDeathTest, Vec4VertexInputIsAnUnknownCombination) {
    const char* source =
        "#version 430\n#ifdef VERTEX\nin vec4 colourIn;\nvoid main() { gl_Position = colourIn; }\n"
        "#endif\n";
    EXPECT_EXIT(
        {
            getVariable("colourIn", 32);
            use(buildProgram(0, source));
        },
        ::testing::ExitedWithCode(kFatalExitStatus), "unknown combination colourIn clsid:92e3 ty:8b52");
}

TEST_F(ProgramDeathTest, MissingVariableAtFirstUse) {
    const char* source =
        "#version 430\n#ifdef COMPUTE\nlayout(local_size_x = 1) in;\nuniform float notInStore;\n"
        "layout(std430) buffer outMissing { float o[]; };\nvoid main() { o[0] = notInStore; }\n#endif\n";
    ShaderProgram* program = buildProgram(0, source);
    ASSERT_NE(findResource(program, "notInStore"), nullptr)
        << "missing Variables are found at use, not at build";
    EXPECT_EXIT(use(program), ::testing::ExitedWithCode(kFatalExitStatus),
                "Variable \\[notInStore\\] missing at use\\(\\)");
}

TEST_F(ProgramDeathTest, CompileAndLinkErrorsCarryTheDriverLog) {
    putFileVariable("versioned_include.glsl", 13, "#version 450\n");
    EXPECT_EXIT(buildProgram(0, "#version 430\n//!!using:versioned_include.glsl\n#ifdef COMPUTE\n"
                                "layout(local_size_x = 1) in;\nvoid main() {}\n#endif\n"),
                ::testing::ExitedWithCode(kFatalExitStatus), "SHADER:.*version");
    EXPECT_EXIT(
        buildProgram(GL_COMPUTE_SHADER, "#version 430\nlayout(local_size_x = 1) in;\nvoid helper() {}\n", 0),
        ::testing::ExitedWithCode(kFatalExitStatus), "SHADER:.*main");
    EXPECT_EXIT(buildProgram(0, "#version 430\n//!!using:no_such_include.glsl\n#ifdef COMPUTE\n#endif\n"),
                ::testing::ExitedWithCode(kFatalExitStatus), "Could not open no_such_include\\.glsl");
}

namespace {
void useWithoutFeedback() {
    int level = 1;
    std::vector<int32_t> tree(2, 1);
    BufferRecord treeRecord = hostBuffer(tree);
    use(buildProgram(0, kArgumentsSource), &level, &treeRecord, nullptr);
}
} // namespace

TEST_F(ProgramDeathTest, NullArgumentWithoutNullInItsName) {
    EXPECT_EXIT(useWithoutFeedback(), ::testing::ExitedWithCode(kFatalExitStatus),
                "arg2_feedback has no data");
}

// ---- Explicit stages and transform feedback ----

TEST_F(ProgramTest, ExplicitStagesAndFeedbackVaryings) {
    ShaderProgram* explicitProgram =
        buildProgram(GL_VERTEX_SHADER, "#version 430\nvoid main() { gl_Position = vec4(0.0); }\n",
                     GL_FRAGMENT_SHADER, "#version 430\nout vec4 c;\nvoid main() { c = vec4(1.0); }\n", 0);
    GLint shaders = 0;
    glGetProgramiv(explicitProgram->program, GL_ATTACHED_SHADERS, &shaders);
    EXPECT_EQ(shaders, 2);

    const char* source = "#version 430\n#ifdef VERTEX\nout vec4 vFirst;\nout vec2 vSecond;\n"
                         "void main() { vFirst = vec4(1.0); vSecond = vec2(2.0); gl_Position = vec4(0.0); }\n"
                         "#endif\n//!!TRANSFORMFEEDBACK:vFirst,vSecond\n";
    ShaderProgram* feedback = buildProgram(0, source);
    GLint count = 0, mode = 0;
    glGetProgramiv(feedback->program, GL_TRANSFORM_FEEDBACK_VARYINGS, &count);
    glGetProgramiv(feedback->program, GL_TRANSFORM_FEEDBACK_BUFFER_MODE, &mode);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(mode, GL_INTERLEAVED_ATTRIBS);
    char name[32] = {};
    GLsizei length = 0, size = 0;
    GLenum type = 0;
    glGetTransformFeedbackVarying(feedback->program, 1, sizeof name, &length, &size, &type, name);
    EXPECT_STREQ(name, "vSecond");
    EXPECT_EQ(type, static_cast<GLenum>(GL_FLOAT_VEC2));
}

// ---- Device-only buffers ----

TEST_F(ProgramTest, ReserveDeviceBufferGrowthRuleAndContents) {
    BufferRecord record{};
    reserveDeviceBuffer(&record, 10);
    EXPECT_EQ(record.elementSize, 32);
    EXPECT_EQ(record.glCapacity, 8192);
    EXPECT_EQ(record.elementCount, 10);
    GLuint small = record.glBuffer;

    std::vector<int32_t> pattern(2048);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<int32_t>(i * 7 + 1);
    glBindBuffer(GL_COPY_WRITE_BUFFER, record.glBuffer);
    glBufferSubData(GL_COPY_WRITE_BUFFER, 0, 8192, pattern.data());

    EXPECT_EQ(reserveDeviceBuffer(&record, 256), small) << "8192 bytes fit the first store";
    EXPECT_EQ(reserveDeviceBuffer(&record, 257), record.glBuffer);
    EXPECT_NE(record.glBuffer, small);
    EXPECT_EQ(record.glCapacity, 16384) << "8224 bytes x 1.3 = 10691, rounded up to 8192s";
    EXPECT_EQ(readBuffer(record.glBuffer, 2048), pattern);

    reserveDeviceBuffer(&record, 1000);
    EXPECT_EQ(record.glCapacity, 49152) << "32000 x 1.3 = 41600 -> 49152";
    EXPECT_EQ(readBuffer(record.glBuffer, 2048), pattern) << "contents survive a second growth";

    GLuint kept = record.glBuffer;
    reserveDeviceBuffer(&record, 5);
    EXPECT_EQ(record.glBuffer, kept);
    EXPECT_EQ(record.glCapacity, 49152);
    EXPECT_EQ(record.elementCount, 5);

    BufferRecord wide{};
    wide.elementSize = 100;
    reserveDeviceBuffer(&wide, 1000);
    EXPECT_EQ(wide.glCapacity, 131072) << "100000 x 1.3 = 130000 -> 131072";
}

namespace {

// The GL calls of a growth, in order, each passed on to the driver.
std::vector<std::string> growthCalls;
glMemoryBarrierFunction driverMemoryBarrier = nullptr;
glCopyBufferSubDataFunction driverCopyBufferSubData = nullptr;

void APIENTRY recordMemoryBarrier(GLbitfield barriers) {
    growthCalls.push_back((barriers & GL_BUFFER_UPDATE_BARRIER_BIT) != 0 ? "buffer-update barrier"
                                                                         : "other barrier");
    driverMemoryBarrier(barriers);
}

void APIENTRY recordCopyBufferSubData(GLenum readTarget, GLenum writeTarget, GLintptr readOffset,
                                      GLintptr writeOffset, GLsizeiptr size) {
    growthCalls.push_back("copy");
    driverCopyBufferSubData(readTarget, writeTarget, readOffset, writeOffset, size);
}

} // namespace

TEST_F(ProgramTest, GrowthCopiesWhatShadersWroteIntoTheOldStore) {
    // A shader fills the store through a storage block, as the vertex stages fill the capture
    // buffer, right before the store grows: the copy must wait for those writes.
    // Programs live for the run; a static keeps this one where the leak check at exit finds it.
    static ShaderProgram* writer =
        buildProgram(0, "#version 430\n#ifdef COMPUTE\nlayout(local_size_x = 1) in;\n"
                        "layout(std430) buffer growthStore { int values[]; };\n"
                        "void main() { values[gl_WorkGroupID.x] = int(gl_WorkGroupID.x) * 3 + 1; }\n"
                        "#endif\n");
    BufferRecord* store = storeValue<BufferRecord>("growthStore", 32);
    store->elementSize = 4;
    reserveDeviceBuffer(store, 64);
    use(writer);
    glDispatchCompute(64, 1, 1);

    growthCalls.clear();
    driverMemoryBarrier = glMemoryBarrier;
    driverCopyBufferSubData = glCopyBufferSubData;
    glMemoryBarrier = recordMemoryBarrier;
    glCopyBufferSubData = recordCopyBufferSubData;
    reserveDeviceBuffer(store, 4096);
    glMemoryBarrier = driverMemoryBarrier;
    glCopyBufferSubData = driverCopyBufferSubData;

    EXPECT_EQ(growthCalls, (std::vector<std::string>{"buffer-update barrier", "copy"}));
    std::vector<int32_t> expected(64);
    for (int i = 0; i < 64; ++i) expected[i] = i * 3 + 1;
    EXPECT_EQ(readBuffer(store->glBuffer, 64), expected);
}

// ---- Sizes beyond the usual ----

TEST_F(ProgramTest, LongNamesManyIncludesAndLongFeedbackNames) {
    const std::string longName = "uniformWithAVeryLongNameThatGoesOnAndOnForMoreThanFiftyCharacters";
    ASSERT_GT(longName.size(), 50u);
    putFileVariable("empty_include.glsl", 14, "// no content\n");
    std::string source = "#version 430\n";
    for (int i = 0; i < 45; ++i) source += "//!!using:empty_include.glsl\n";
    source += "#ifdef COMPUTE\nlayout(local_size_x = 1) in;\nuniform float " + longName +
              ";\nlayout(std430) buffer longOut { float o[]; };\nvoid main() { o[0] = " + longName +
              "; }\n#endif\n";
    ShaderProgram* program = buildProgram(0, source.c_str());
    const ProgramResource* resource = findResource(program, longName.c_str());
    ASSERT_NE(resource, nullptr);
    *storeValue<float>(longName.c_str()) = 4.5f;
    BufferRecord* out = storeValue<BufferRecord>("longOut", 32);
    out->elementSize = 4;
    reserveDeviceBuffer(out, 1);
    use(program);
    glDispatchCompute(1, 1, 1);
    float value = 0;
    glMemoryBarrier(GL_ALL_BARRIER_BITS);
    glBindBuffer(GL_COPY_READ_BUFFER, out->glBuffer);
    glGetBufferSubData(GL_COPY_READ_BUFFER, 0, 4, &value);
    EXPECT_EQ(value, 4.5f);

    const std::string longVarying = "capturedVaryingWithALongName";
    ASSERT_GT(longVarying.size(), 19u);
    std::string feedbackSource =
        "#version 430\n#ifdef VERTEX\nout vec4 " + longVarying + ";\nvoid main() { " + longVarying +
        " = vec4(1.0); gl_Position = vec4(0.0); }\n#endif\n" + "//!!TRANSFORMFEEDBACK:" + longVarying + "\n";
    ShaderProgram* feedback = buildProgram(0, feedbackSource.c_str());
    char name[64] = {};
    GLsizei length = 0, size = 0;
    GLenum type = 0;
    glGetTransformFeedbackVarying(feedback->program, 0, sizeof name, &length, &size, &type, name);
    EXPECT_EQ(std::string(name), longVarying);
}

TEST_F(ProgramDeathTest, ArgumentIndexBeyondTheLimit) {
    const char* source =
        "#version 430\n#ifdef COMPUTE\nlayout(local_size_x = 1) in;\nuniform float arg20_far;\n"
        "layout(std430) buffer farOut { float o[]; };\nvoid main() { o[0] = arg20_far; }\n#endif\n";
    EXPECT_EXIT(buildProgram(0, source), ::testing::ExitedWithCode(kFatalExitStatus),
                "arg20_far: argument 20 is out of range");
}

// ---- Console lines ----

TEST_F(ProgramTest, BuildingLogsEveryStepInOrder) {
    putFileVariable("logged_include.glsl", 11, "// nothing\n");
    const char* source =
        "#version 430\n//!!using:logged_include.glsl\n#ifdef COMPUTE\nlayout(local_size_x = 1) in;\n"
        "layout(std430) buffer loggedOut { int o[]; };\nvoid main() { o[0] = 1; }\n#endif\n";
    ::testing::internal::CaptureStdout();
    buildProgram(0, source);
    std::string log = ::testing::internal::GetCapturedStdout();
    const std::string expected[] = {
        "PRE-VA-ARG DEBUGOK 2?!\n",
        "AUTO?!\n",
        std::string("CompileShader:") + source + "\n",
        "POST-CREATE-SHADER?!\n",
        "INSIDE-COPY://!!using:logged_include.glsl\n#ifdef COMPUTE\n",
        "//!!using: 10\n",
        "INSIDE-COPY FN:logged_include.glsl\n",
        "ENDED?!\n",
        "PRE-COMPILE-SHADER?!\n",
        "Linking\n",
        "Class 92e6 Res 0 ty:",
        "  name:loggedOut (10)\n",
    };
    size_t at = 0;
    for (const std::string& line : expected) {
        size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line << "\nin:\n" << log;
        at = found + line.size();
    }
}
