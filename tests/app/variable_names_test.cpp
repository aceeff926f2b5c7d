// The Variables layers share are spelt once, in their owner's list (NOVA31_*_VARIABLES). Every
// other spelling must agree: a name that differs by one letter silently reads a new, zero
// Variable instead of the shared one.
#include "app/demo.h"
#include "render/gpu_layout.h"
#include "scene/scene.h"
#include "shader/shader_source.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

#define NOVA31_VARIABLE_NAME(constant, name, size) name,
const std::set<std::string> kOwnedNames = {
    NOVA31_DEMO_VARIABLES(NOVA31_VARIABLE_NAME) NOVA31_RENDER_VARIABLES(NOVA31_VARIABLE_NAME)
        NOVA31_SCENE_VARIABLES(NOVA31_VARIABLE_NAME) NOVA31_SHADER_VARIABLES(NOVA31_VARIABLE_NAME)};
#undef NOVA31_VARIABLE_NAME

// The file's text without its comments, which may use any word.
std::string readCode(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    static const std::regex comment(R"(/\*[\s\S]*?\*/|//[^\n]*)");
    return std::regex_replace(text.str(), comment, " ");
}

// Each match of `pattern`'s first group in every file with one of `extensions` below `folder`.
std::vector<std::pair<std::string, std::string>> matches(const char* folder, std::set<std::string> extensions,
                                                         const std::regex& pattern) {
    std::vector<std::pair<std::string, std::string>> found; // (file, name)
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(NOVA31_SOURCE_DIR) / folder)) {
        if (!entry.is_regular_file() || extensions.count(entry.path().extension().string()) == 0) continue;
        std::string text = readCode(entry.path());
        for (std::sregex_iterator m(text.begin(), text.end(), pattern), end; m != end; ++m)
            found.emplace_back(fs::relative(entry.path(), NOVA31_SOURCE_DIR).string(), (*m)[1].str());
    }
    return found;
}

} // namespace

// Uniforms and storage blocks are fed from the Variable of their name: each must be a name an
// owner lists, unless the shader system binds it itself (positional "arg" names, the texture
// slot table, "file_" names, names that may stay unbound).
TEST(SharedVariables, ShaderResourcesNameOwnedVariables) {
    const std::regex resource(R"(\n\s*(?:layout\([^)]*\)\s*)?(?:uniform\s+\w+|buffer)\s+(\w+))");
    auto resources = matches("assets", {".glsl"}, resource);
    ASSERT_GT(resources.size(), 30u) << "the shader files were not read";
    for (const auto& [file, name] : resources) {
        if (name.rfind("arg", 0) == 0 || name.rfind("file_", 0) == 0 ||
            name.find("null") != std::string::npos || name == "textureSlots")
            continue;
        EXPECT_EQ(kOwnedNames.count(name), 1u) << file << " reads \"" << name << "\", which no layer owns";
    }
}

// Host code names a Variable through its owner's constant; a literal there (files aside, which
// have a "." in their name) is a second spelling.
TEST(SharedVariables, HostCodeSpellsVariablesThroughConstants) {
    const std::regex lookup(R"((?:getVariable|namedValue|storeBuffer|storeTexture)\(\s*"([^"]*)\")");
    for (const char* folder :
         {"app", "archive", "audio", "platform", "refl", "render", "scene", "shader", "store"})
        for (const auto& [file, name] : matches(folder, {".cpp", ".h"}, lookup))
            EXPECT_NE(name.find('.'), std::string::npos) << file << " spells the Variable \"" << name << "\"";
}
