// Source assembly without a driver: header, includes, working copy, stage choice, feedback names.
#include "shader/shader_source.h"
#include "tests/support/fatal_exit.h"

#include <GL/glcorearb.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr const char* kBindlessLine = "#extension GL_ARB_bindless_texture : require\n";

std::vector<std::string> assembled(const char* source, const char* featureLine = kBindlessLine) {
    ShaderSourceList list = assembleShaderSource("#define VERTEX\n", source, "\n/* */", featureLine);
    std::vector<std::string> texts;
    for (const char* text : list.strings()) texts.emplace_back(text);
    return texts;
}

void putText(const char* name, const char* text) {
    putFileVariable(name, std::strlen(text), text);
}

} // namespace

// ---- Version header ----

TEST(ShaderAssembly, VersionLineIsLiftedAndBlanked) {
    auto texts = assembled("#version 450 core\nvoid main() {}\n");
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], std::string("#version 450 core\n") + kBindlessLine);
    EXPECT_EQ(texts[1], "#define VERTEX\n");
    EXPECT_EQ(texts[2], std::string(17, ' ') + "\nvoid main() {}\n");
    EXPECT_EQ(texts[3], "\n/* */");
}

TEST(ShaderAssembly, CarriageReturnStaysInWorkingCopy) {
    auto texts = assembled("#version 430\r\nvoid main() {}\r\n");
    EXPECT_EQ(texts[0], std::string("#version 430\n") + kBindlessLine);
    EXPECT_EQ(texts[2], std::string(12, ' ') + "\r\nvoid main() {}\r\n");
}

TEST(ShaderAssembly, VersionAnywhereIsTakenFromItsFirstOccurrence) {
    auto texts = assembled("// header\n#version 450\n#version 460\n");
    EXPECT_EQ(texts[0], std::string("#version 450\n") + kBindlessLine);
    EXPECT_EQ(texts[2], "// header\n" + std::string(12, ' ') + "\n#version 460\n");
}

TEST(ShaderAssembly, SourceWithoutVersionHasEmptyHeader) {
    auto texts = assembled(kImageShaderVertexSource);
    EXPECT_EQ(texts[0], "");
    EXPECT_EQ(texts[2], kImageShaderVertexSource);
}

TEST(ShaderAssembly, SlotTableModeDefinesInsteadOfRequiringTheExtension) {
    auto texts = assembled("#version 450 core\n", textureHandleFeatureLine(TextureHandleMode::slotTable));
    EXPECT_EQ(texts[0], "#version 450 core\n#define TEXTURE_SLOT_COUNT 24\n");
    EXPECT_EQ(std::string(textureHandleFeatureLine(TextureHandleMode::bindless)), kBindlessLine);
}

TEST(ShaderAssembly, SourceIsNotModified) {
    const char source[] = "#version 450\n//!!using:asm_keep.glsl\n";
    putText("asm_keep.glsl", "int kept;\n");
    auto texts = assembled(source);
    EXPECT_STREQ(source, "#version 450\n//!!using:asm_keep.glsl\n");
    EXPECT_EQ(texts[2], "int kept;\n");
}

// ---- Include directives ----

TEST(ShaderAssembly, IncludedTextsComeFirstInDirectiveOrder) {
    putText("asm_util.glsl", "float util;\n");
    putText("asm_ray.glsl", "float ray;\n");
    const char* source = "#version 450 core\n"
                         "void a() {}\n"
                         "//!!using:asm_util.glsl\n"
                         "void b() {}\n"
                         "//[\n"
                         "//!!using:asm_ray.glsl\n"
                         "//]\n";
    auto texts = assembled(source);
    ASSERT_EQ(texts.size(), 6u);
    EXPECT_EQ(texts[2], "float util;\n");
    EXPECT_EQ(texts[3], "float ray;\n");
    EXPECT_NE(texts[4].find("//!!using:asm_ray.glsl\n"), std::string::npos)
        << "the directive stays as a comment";
    EXPECT_EQ(texts[5], "\n/* */");
}

TEST(ShaderAssembly, IndentedDirectivesCountMalformedOnesDoNot) {
    putText("asm_a.glsl", "A");
    putText("asm_b.glsl", "B");
    const char* source = "  \t//!!using:asm_a.glsl\n"
                         "\n\n"
                         "// !!using:asm_missing.glsl\n"
                         "//!!using :asm_missing.glsl\n"
                         "int x; //!!using:asm_missing.glsl\n"
                         "/*\n"
                         "//!!using:asm_b.glsl\n"
                         "*/\n"
                         "#ifdef NEVER\n"
                         "//!!using:asm_a.glsl\n"
                         "#endif\n";
    auto texts = assembled(source);
    ASSERT_EQ(texts.size(), 7u);
    EXPECT_EQ(texts[2], "A");
    EXPECT_EQ(texts[3], "B");
    EXPECT_EQ(texts[4], "A") << "a directive counts in a block comment and a disabled section";
}

TEST(ShaderAssembly, NameEndsAtLineEndAndKeepsTrailingBlanks) {
    putText("asm_cr.glsl", "CR");
    putText("asm_trail.glsl ", "TRAIL");
    auto texts = assembled("//!!using:asm_cr.glsl\r\n//!!using:asm_trail.glsl \n");
    ASSERT_EQ(texts.size(), 6u);
    EXPECT_EQ(texts[2], "CR");
    EXPECT_EQ(texts[3], "TRAIL");
}

TEST(ShaderAssembly, DirectiveOnTheLastLineWithoutNewline) {
    putText("asm_last.glsl", "LAST");
    auto texts = assembled("int x;\n//!!using:asm_last.glsl");
    ASSERT_EQ(texts.size(), 5u);
    EXPECT_EQ(texts[2], "LAST");
}

TEST(ShaderAssembly, IncludesDoNotNestAndRepeatedNamesRepeat) {
    putText("asm_outer.glsl", "//!!using:asm_not_there.glsl\nouter\n");
    auto texts = assembled("//!!using:asm_outer.glsl\n//!!using:asm_outer.glsl\n");
    ASSERT_EQ(texts.size(), 6u);
    EXPECT_EQ(texts[2], "//!!using:asm_not_there.glsl\nouter\n");
    EXPECT_EQ(texts[3], texts[2]);
}

TEST(ShaderAssembly, IncludeSeesReplacementOfItsVariable) {
    Variable* file = putFileVariable("asm_replaced.glsl", 3, "old");
    Variable* newer = appendVariable("asm_replaced.glsl.new", 4);
    std::memcpy(newer->inlineData(), "new", 4);
    file->replacement = newer;
    auto texts = assembled("//!!using:asm_replaced.glsl\n");
    EXPECT_EQ(texts[2], "new");
}

TEST(ShaderAssembly, ManyIncludesAreAllPassed) {
    putText("asm_many.glsl", "m");
    std::string source = "#version 450\n";
    for (int i = 0; i < 60; ++i) source += "//!!using:asm_many.glsl\n";
    auto texts = assembled(source.c_str());
    EXPECT_EQ(texts.size(), 64u);
}

TEST(ShaderAssemblyDeathTest, MissingIncludeNamesTheFile) {
    EXPECT_EXIT(assembled("//!!using: util.glsl\n"), ::testing::ExitedWithCode(kFatalExitStatus),
                "Could not open  util\\.glsl");
    EXPECT_EXIT(assembled("//!!using:asm_nowhere.glsl\n"), ::testing::ExitedWithCode(kFatalExitStatus),
                "Could not open asm_nowhere\\.glsl");
}

// ---- Feedback names ----

TEST(FeedbackNames, ListAndItsEndings) {
    using Names = std::vector<std::string>;
    EXPECT_EQ(parseFeedbackNames("x\n//!!TRANSFORMFEEDBACK:vWPosNorm,vUVTI\n"),
              (Names{"vWPosNorm", "vUVTI"}));
    EXPECT_EQ(parseFeedbackNames("x\n//!!TRANSFORMFEEDBACK:a, b\n"), (Names{"a", ""}));
    EXPECT_EQ(parseFeedbackNames("x\n//!!TRANSFORMFEEDBACK:a,,b"), (Names{"a", "", "b"}));
    EXPECT_EQ(parseFeedbackNames("x\n//!!TRANSFORMFEEDBACK:pos_out,b"), (Names{"pos"}));
    EXPECT_EQ(parseFeedbackNames("x\n//!!TRANSFORMFEEDBACK:v2,b"), (Names{"v"}));
    EXPECT_TRUE(parseFeedbackNames("x\n//  !!TRANSFORMFEEDBACK:a,b\n").empty());
    EXPECT_TRUE(parseFeedbackNames("//!!TRANSFORMFEEDBACK:a,b\n").empty())
        << "the first line is no directive";
    EXPECT_TRUE(parseFeedbackNames("x\n  //!!TRANSFORMFEEDBACK:a\n").empty());
}

TEST(FeedbackNames, LongNamesAndLongListsAreKeptWhole) {
    std::string longName(40, 'q');
    std::string source = "x\n//!!TRANSFORMFEEDBACK:" + longName;
    for (int i = 0; i < 70; ++i) source += ",n";
    auto names = parseFeedbackNames(source.c_str());
    ASSERT_EQ(names.size(), 71u);
    EXPECT_EQ(names[0], longName);
    EXPECT_EQ(names[70], "n");
}

// ---- Stage selection ----

namespace {
std::vector<uint32_t> stagesOf(const ShaderStagePlan& plan) {
    std::vector<uint32_t> stages;
    for (const ShaderStageSource& stage : plan.stages) stages.push_back(stage.stage);
    return stages;
}
} // namespace

TEST(StageSelection, SectionsPickStages) {
    using Stages = std::vector<uint32_t>;
    const char* both = "#ifdef VERTEX\n#endif\n#ifdef FRAGMENT\n#endif\n";
    ShaderStagePlan plan = selectShaderStages(both);
    ASSERT_EQ(stagesOf(plan), (Stages{GL_VERTEX_SHADER, GL_FRAGMENT_SHADER}));
    EXPECT_STREQ(plan.stages[0].prefix, "#define VERTEX\n");
    EXPECT_STREQ(plan.stages[1].prefix, "#define FRAGMENT\n");
    EXPECT_STREQ(plan.stages[1].suffix, "\n/* */");
    EXPECT_EQ(plan.stages[1].source, both);

    ShaderStagePlan compute = selectShaderStages("#ifdef COMPUTE\n#endif\n#ifdef FRAGMENT\n#endif\n");
    ASSERT_EQ(stagesOf(compute), (Stages{GL_COMPUTE_SHADER}));
    EXPECT_STREQ(compute.stages[0].prefix, "#define COMPUTE\n");

    EXPECT_TRUE(selectShaderStages("void main() {}\n").stages.empty());
    // Markers are plain substrings, also inside comments.
    EXPECT_EQ(stagesOf(selectShaderStages("// #ifdef FRAGMENT\n")), (Stages{GL_FRAGMENT_SHADER}));
}

TEST(StageSelection, ImageShaders) {
    using Stages = std::vector<uint32_t>;
    const char* image = "void mainImage(out vec4 c, vec2 p) {}\n";
    ShaderStagePlan plan = selectShaderStages(image);
    ASSERT_EQ(stagesOf(plan), (Stages{GL_VERTEX_SHADER, GL_FRAGMENT_SHADER}));
    EXPECT_STREQ(plan.stages[0].source, kImageShaderVertexSource);
    EXPECT_STREQ(plan.stages[0].prefix, "\n/* */\n");
    EXPECT_STREQ(plan.stages[0].suffix, "\n/* */");
    EXPECT_STREQ(plan.stages[1].prefix, kImageShaderHeader);
    EXPECT_STREQ(plan.stages[1].suffix, kImageShaderFooter);
    EXPECT_EQ(plan.stages[1].source, image);

    const char* ownVertex = "#ifdef VERTEX\n#endif\nvoid mainImage(out vec4 c, vec2 p) {}\n";
    ShaderStagePlan withVertex = selectShaderStages(ownVertex);
    ASSERT_EQ(stagesOf(withVertex), (Stages{GL_VERTEX_SHADER, GL_FRAGMENT_SHADER}));
    EXPECT_EQ(withVertex.stages[0].source, ownVertex);
    EXPECT_STREQ(withVertex.stages[0].prefix, "#define VERTEX\n");
    EXPECT_STREQ(withVertex.stages[1].prefix, kImageShaderHeader);
}

TEST(StageSelection, FeedbackNamesOnlyWithAVertexSection) {
    ShaderStagePlan plan = selectShaderStages("#ifdef VERTEX\n#endif\n//!!TRANSFORMFEEDBACK:a,b\n");
    EXPECT_EQ(plan.feedbackNames, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(
        selectShaderStages("#ifdef COMPUTE\n#endif\n//!!TRANSFORMFEEDBACK:a,b\n").feedbackNames.empty());
}
