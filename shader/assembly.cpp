// Source assembly: version header, stage prefix, included texts, working copy, suffix; the
// automatic choice of stages and the transform-feedback directive. No GL here.
#include "shader/shader_source.h"

#include "app/console.h"

#include <GL/glcorearb.h>

#include <cctype>
#include <cstring>

const char* const kImageShaderHeader = "uniform vec2 iResolution;\nuniform float iGlobalTime;\n"
                                       "uniform sampler2D iChannel0;\nuniform sampler2D iChannel1;\n"
                                       "uniform sampler2D iChannel2;\nuniform sampler2D iChannel3;\n";
const char* const kImageShaderFooter = "\nvoid main(void) {\nvec4 color = vec4(0.0, 0.0, 0.0, 1.0);\n"
                                       "mainImage(color, gl_FragCoord.xy);\ncolor.w = 1.0;\n"
                                       "gl_FragColor = color;\n}\n";
const char* const kImageShaderVertexSource =
    "attribute vec2 pos2;\n\nvoid main() {\n\tgl_Position=vec4(pos2,0.5,1.0);\n}";

namespace {

constexpr char kIncludeDirective[] = "//!!using:";
constexpr size_t kIncludeDirectiveLength = sizeof(kIncludeDirective) - 1;
constexpr char kFeedbackDirective[] = "\n//!!TRANSFORMFEEDBACK:";

// Characters up to, not including, the first NUL, "\n" or "\r".
size_t lineLength(const char* text) {
    return std::strcspn(text, "\n\r");
}

} // namespace

// ---- One stage ----

void createShaderVariables(){NOVA31_SHADER_VARIABLES(NOVA31_CREATE_VARIABLE)}

std::vector<const char*> ShaderSourceList::strings() const {
    std::vector<const char*> list;
    list.reserve(includes.size() + 4);
    list.push_back(header.c_str());
    list.push_back(prefix);
    list.insert(list.end(), includes.begin(), includes.end());
    list.push_back(workingCopy.c_str());
    list.push_back(suffix);
    return list;
}

ShaderSourceList assembleShaderSource(const char* prefix, const char* source, const char* suffix,
                                      const char* featureLine) {
    ShaderSourceList list;
    list.prefix = prefix;
    list.suffix = suffix;
    list.workingCopy = source;

    // The version line must be the first line the driver sees: lift it into the header and
    // blank its characters in place, so line numbers of the file stay as they were.
    size_t version = list.workingCopy.find("#version");
    if (version != std::string::npos) {
        size_t length = lineLength(list.workingCopy.c_str() + version);
        list.header.assign(list.workingCopy, version, length);
        list.header += "\n";
        list.header += featureLine;
        list.workingCopy.replace(version, length, length, ' ');
    }

    // Includes: every line whose first non-blank characters are the directive, wherever it
    // stands (comments and disabled sections are not understood). Included texts are not scanned.
    const char* line = list.workingCopy.c_str();
    for (;;) {
        while (std::isspace(static_cast<unsigned char>(*line))) ++line;
        if (std::strncmp(line, kIncludeDirective, kIncludeDirectiveLength) == 0) {
            consoleLog("INSIDE-COPY:%s %s %d\n", line, kIncludeDirective,
                       static_cast<int>(kIncludeDirectiveLength));
            const char* nameStart = line + kIncludeDirectiveLength;
            std::string name(nameStart, lineLength(nameStart));
            consoleLog("INSIDE-COPY FN:%s\n", name.c_str());
            Variable* file = getVariable(name.c_str(), 0);
            if (file == nullptr) fatalErrorFormat("Could not open %s", name.c_str());
            list.includes.push_back(currentData<const char>(file));
        }
        const char* lineEnd = std::strchr(line, '\n');
        if (lineEnd == nullptr || lineEnd[1] == '\0') break;
        line = lineEnd + 1;
    }
    return list;
}

// ---- Automatic stage selection ----

std::vector<std::string> parseFeedbackNames(const char* vertexSource) {
    std::vector<std::string> names;
    const char* directive = std::strstr(vertexSource, kFeedbackDirective);
    if (directive == nullptr) return names;
    const char* cursor = directive + sizeof(kFeedbackDirective) - 1;
    for (;;) {
        std::string name;
        while (std::isalpha(static_cast<unsigned char>(*cursor))) name += *cursor++;
        names.push_back(std::move(name));
        if (*cursor != ',') break;
        ++cursor;
    }
    return names;
}

ShaderStagePlan selectShaderStages(const char* source) {
    ShaderStagePlan plan;
    bool hasVertex = std::strstr(source, "#ifdef VERTEX") != nullptr;
    if (hasVertex) plan.stages.push_back({GL_VERTEX_SHADER, "#define VERTEX\n", source, "\n/* */"});

    if (std::strstr(source, "#ifdef COMPUTE") != nullptr) {
        plan.stages.push_back({GL_COMPUTE_SHADER, "#define COMPUTE\n", source, "\n/* */"});
    } else if (std::strstr(source, "#ifdef FRAGMENT") != nullptr) {
        plan.stages.push_back({GL_FRAGMENT_SHADER, "#define FRAGMENT\n", source, "\n/* */"});
    } else if (std::strstr(source, "mainImage") != nullptr) {
        if (!hasVertex)
            plan.stages.push_back({GL_VERTEX_SHADER, "\n/* */\n", kImageShaderVertexSource, "\n/* */"});
        plan.stages.push_back({GL_FRAGMENT_SHADER, kImageShaderHeader, source, kImageShaderFooter});
    }

    if (hasVertex) plan.feedbackNames = parseFeedbackNames(source);
    return plan;
}

// ---- Header feature line ----

const char* textureHandleFeatureLine(TextureHandleMode mode) {
    static_assert(kTextureSlotCount == 24, "the slot-table define below spells the slot count");
    return mode == TextureHandleMode::bindless ? "#extension GL_ARB_bindless_texture : require\n"
                                               : "#define TEXTURE_SLOT_COUNT 24\n";
}
