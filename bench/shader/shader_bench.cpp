// Source assembly of a stage with includes, and use() on a program shaped like the deferred
// pass (uniforms, samplers, storage blocks, one vertex input). The GL benchmark draws in a
// window when a display is set, on the headless context when none is.
#include "shader/shader.h"

#include "platform/gl.h"
#include "platform/window.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

namespace {

void putText(const char* name, const std::string& text) {
    putFileVariable(name, static_cast<uint32_t>(text.size()), text.data());
}

std::string repeatedLines(const char* line, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += line;
    return text;
}

void BM_AssembleStage(benchmark::State& state) {
    putText("bench_util.glsl", repeatedLines("float helper(float x) { return x * 2.0; }\n", 80));
    putText("bench_ray.glsl", repeatedLines("vec3 trace(vec3 o) { return o; }\n", 200));
    std::string source = "#version 450 core\n//!!using:bench_util.glsl\n//!!using:bench_ray.glsl\n" +
                         repeatedLines("uniform vec4 something; // comment line\n", 300);
    for (auto _ : state) {
        ShaderSourceList list = assembleShaderSource("#define FRAGMENT\n", source.c_str(), "\n/* */",
                                                     textureHandleFeatureLine(TextureHandleMode::slotTable));
        benchmark::DoNotOptimize(list.strings());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.size()));
}
BENCHMARK(BM_AssembleStage);

const char* kDeferredLikeSource = R"(#version 450 core
#ifdef VERTEX
in vec2 benchPos2;
void main() { gl_Position = vec4(benchPos2, 0.5, 1.0); }
#endif
#ifdef FRAGMENT
uniform vec2 iResolution;
uniform mat4 invCamera;
uniform sampler2D benchAlb, benchNorm, benchPos;
layout(std430) buffer benchA { vec4 a[]; };
layout(std430) buffer benchB { vec4 b[]; };
layout(std430) buffer benchC { vec4 c[]; };
layout(std430) buffer benchD { vec4 d[]; };
layout(std430) buffer benchE { vec4 e[]; };
out vec4 color;
void main() {
    vec2 uv = gl_FragCoord.xy / iResolution;
    color = invCamera * (texture(benchAlb, uv) + texture(benchNorm, uv) + texture(benchPos, uv)) + a[0] + b[0] +
            c[0] + d[0] + e[0];
}
#endif
)";

void BM_UseDeferredLikeProgram(benchmark::State& state) {
    static float quad[6] = {-1, -1, 3, -1, -1, 3};
    *static_cast<BufferRecord*>(variableData(getVariable("benchPos2", 32))) =
        BufferRecord{8, 3, 3, quad, 3, 0, 0};
    static uint32_t texel = 0xff808080u;
    for (const char* name : {"benchAlb", "benchNorm", "benchPos"}) {
        auto* texture = static_cast<TextureRecord*>(variableData(getVariable(name, 64)));
        texture->width = texture->height = texture->uploadWidth = texture->uploadHeight = 1;
        texture->pixels = &texel;
    }
    for (const char* name : {"benchA", "benchB", "benchC", "benchD", "benchE"})
        reserveDeviceBuffer(static_cast<BufferRecord*>(variableData(getVariable(name, 32))), 16);
    ShaderProgram* program = buildProgram(0, kDeferredLikeSource);
    use(program); // the first use resolves the names
    for (auto _ : state) use(program);
    glFinish();
    state.counters["resources"] = program->resourceCount;
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    createDemoWindow(false, 320, 180);
    benchmark::RegisterBenchmark("BM_UseDeferredLikeProgram", BM_UseDeferredLikeProgram);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
