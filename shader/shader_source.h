/* shader_source.h — what the shader system knows without a GL context: the payload records of
   buffer and texture Variables, host arrays, and the assembly of one stage's source text.

   A program's file holds every stage between "#ifdef VERTEX", "#ifdef FRAGMENT" and
   "#ifdef COMPUTE" sections and pulls in other files with a line "//!!using:name".
   selectShaderStages picks the stages a file's text has; assembleShaderSource lays out the
   strings handed to the driver for one of them (version line, feature line, prefix, the
   included texts from the store, the working copy, suffix):

       ShaderStagePlan plan = selectShaderStages(text);
       for (const ShaderStageSource& stage : plan.stages) {
           ShaderSourceList list = assembleShaderSource(stage.prefix, stage.source, stage.suffix,
                                                        textureHandleFeatureLine(mode));
           std::vector<const char*> strings = list.strings();
       }

   BufferRecord and TextureRecord are plain data read and written by host code of any layer;
   growHostArray keeps a buffer's host array. Nothing here calls GL: building programs, feeding
   them and uploading records is shader.h's. A missing include is fatal. */
#pragma once

#include "store/store.h"

#include <cstdint>
#include <string>
#include <vector>

// ---- Payload records ----

// The data of a buffer Variable (vertex arrays, shader storage buffers).
#pragma pack(push, 4)
struct BufferRecord {
    int32_t elementSize;  // bytes per element; reserveDeviceBuffer turns 0 into 32
    int32_t elementCount; // elements in use
    int32_t hostCapacity; // elements allocated in hostData
    void* hostData;       // host array; elementCount * elementSize bytes are meaningful
    int32_t pending;      // elements, from the first, whose host copy is newer than the GL buffer
    uint32_t glBuffer;    // buffer object name, 0 until created
    int32_t glCapacity;   // GL store size: elements when made by an upload, bytes by reserveDeviceBuffer
};
#pragma pack(pop)
static_assert(sizeof(BufferRecord) <= 32, "a BufferRecord must fit the 32-byte buffer Variables");

// Makes the host array hold at least `count` elements, keeping its contents (new room is zeroed),
// and marks all `count` in use and pending. A zero elementSize becomes `elementSize`. Arrays made
// here live until they are replaced here or freeHostArray releases them; an array the owner put in
// the record is copied from and left to that owner. Running out of memory is fatal.
void growHostArray(BufferRecord* buffer, int32_t count, int32_t elementSize);
// Frees the host array if growHostArray made it (the record then holds none); otherwise does nothing.
void freeHostArray(BufferRecord* buffer);

// The data of a texture Variable (decoded images, render targets).
struct TextureRecord {
    int32_t width;           // image size in texels
    int32_t height;          //
    int32_t hasTransparency; // set by image decoding when some alpha is below its threshold
    char label[12];          // short NUL-terminated text for people; nothing reads it
    uint32_t* pixels;        // 0xAARRGGBB texels, the whole mip chain level after level; null for targets
    uint32_t glTexture;      // texture object name, 0 until created
    uint32_t internalFormat; // GL internal format, 0 meaning GL_RGBA
    uint64_t bindlessHandle; // the handle shaders receive, valid once uploadTexture created the texture
    int32_t uploadWidth;     // size of mip level 0 as uploaded
    int32_t uploadHeight;    //
    uint8_t dirty;           // the pixels must be uploaded again
};
static_assert(sizeof(TextureRecord) <= 64, "a TextureRecord must fit the 64-byte texture Variables");

// ---- Source assembly (no GL) ----

// The pieces handed to the driver for one stage, in this order: header, prefix, included
// texts in directive order, working copy, suffix.
struct ShaderSourceList {
    std::string header;                // version line + "\n" + feature line, or empty
    const char* prefix = "";           //
    std::vector<const char*> includes; // current data of each included Variable
    std::string workingCopy;           // the source with its version characters blanked
    const char* suffix = "";           //

    std::vector<const char*> strings() const;
};

// Assembles one stage. `featureLine` follows the version line in the header (see
// textureHandleFeatureLine). Includes are fetched from the store; a missing one is fatal.
ShaderSourceList assembleShaderSource(const char* prefix, const char* source, const char* suffix,
                                      const char* featureLine);

struct ShaderStageSource {
    uint32_t stage;     // GL_VERTEX_SHADER, GL_FRAGMENT_SHADER or GL_COMPUTE_SHADER
    const char* prefix; //
    const char* source; //
    const char* suffix; //
};

struct ShaderStagePlan {
    std::vector<ShaderStageSource> stages;  // in compile order
    std::vector<std::string> feedbackNames; // transform-feedback varyings to declare, may be empty
};

// The stages automatic selection compiles from one file's text, and its feedback names.
ShaderStagePlan selectShaderStages(const char* source);

// The names of the "//!!TRANSFORMFEEDBACK:" directive of a vertex source; empty when absent.
std::vector<std::string> parseFeedbackNames(const char* vertexSource);

// The literal texts of the image-shader wrapper.
extern const char* const kImageShaderHeader;
extern const char* const kImageShaderFooter;
extern const char* const kImageShaderVertexSource;

// ---- The image-shader wrapper's Variables ----

// The uniforms kImageShaderHeader declares (the demo writes the first two every frame) and the
// wrapper's other inputs.
#define NOVA31_SHADER_VARIABLES(X)                                                                           \
    X(kResolutionVariable, "iResolution", 8)                                                                 \
    X(kTimeVariable, "iGlobalTime", 4)                                                                       \
    X(kChannel0Variable, "iChannel0", 64)                                                                    \
    X(kShaderBlueVariable, "shaderBlue", 4)
NOVA31_SHADER_VARIABLES(NOVA31_DECLARE_VARIABLE)

// Creates the Variables above; buildProgram calls it, so every program finds them.
void createShaderVariables();

// ---- Texture handles ----

enum class TextureHandleMode { bindless, slotTable };

// Slots of the process-wide table used where bindless textures are missing.
constexpr int kTextureSlotCount = 24;

// The line that follows the version line of every assembled stage for a mode:
// "#extension GL_ARB_bindless_texture : require\n" or "#define TEXTURE_SLOT_COUNT 24\n".
const char* textureHandleFeatureLine(TextureHandleMode mode);
