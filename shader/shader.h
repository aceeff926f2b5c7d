/* shader.h — GPU programs built from one GLSL file and fed by name from the variable store.

   One text file holds every stage of a program between "#ifdef VERTEX", "#ifdef FRAGMENT" and
   "#ifdef COMPUTE" sections; files pull in others with a line "//!!using:name". buildProgram
   assembles and compiles the stages, links, and records every active uniform, vertex input and
   storage block. use() then binds the program and feeds each of them from the Variable of the
   same name, or from a positional argument for names beginning with "arg":

       Variable* file = getVariable("texm.glsl", 0);
       auto* text = currentData<const char>(file);
       ShaderProgram* texm = buildProgram(0, text);   // automatic stages, chosen from the text
       ...
       use(texm);                                     // camera, proj, pos ... from the store
       use(tree, &level, treeBuffer);                 // arg0_level, arg1_tree by position

   Uniform types fed: float, vec2, vec4, int, ivec2..4, mat2, mat4 (arrays read arraySize
   elements; an array's Variable may carry the bare name), sampler2D, image2D/iimage2D/uimage2D
   (TextureRecord) and uvec2 (a TextureRecord whose handle is passed). Vertex inputs: vec2 and
   vec3 (BufferRecord). Storage blocks: any (BufferRecord), bound to points 0, 1, ... in block
   order. Texture and image units are handed out in resource order. Names containing "null"
   accept a null argument for samplers, images and handles. Anything else is fatal.

   The payloads behind buffer and texture Variables are BufferRecord and TextureRecord
   (shader_source.h, with the source assembly that needs no GL); use() uploads them when their
   host copies are newer (pending, dirty). reserveDeviceBuffer grows buffers that only the GPU
   fills.

   Texture handles: textures reach shaders as a uvec2 (low word first). Where the driver has
   GL_ARB_bindless_texture the words are the resident bindless handle; elsewhere they name a
   slot of a process-wide texture slot table (low word 1 + slot; 24 slots, a fatal error past
   them), and the header of every
   assembled stage defines TEXTURE_SLOT_COUNT instead of requiring the extension. Shaders
   sample a handle through textureHandleSample in "util.glsl", which compiles both ways; a
   program that uses it has the sampler array `textureSlots`, which use() binds to the
   table's textures (after every other resource, so it takes the last units). Host code cannot
   tell the two paths apart. The handle (0, 0) names no texture and samples as white.

   Every failure (compile, link, a missing include or Variable, an unsupported resource type)
   ends the process through fatalError; nothing here returns an error. The module does not
   delete programs, shaders, buffers or textures: everything lives for the run. */
#pragma once

#include "shader/shader_source.h"
#include "store/store.h"

#include <cstdint>
#include <string>
#include <vector>

// ---- Programs ----

struct ProgramResource {
    Variable* variable;        // bound at the first use(), then kept; unused for arguments
    uint32_t programInterface; // GL_UNIFORM, GL_PROGRAM_INPUT or GL_SHADER_STORAGE_BLOCK
    int32_t resourceIndex;     // index within its interface
    int32_t type;              // GL_TYPE (storage blocks: their name length)
    int32_t location;          // GL_LOCATION (storage blocks: their GL_BUFFER_BINDING)
    int32_t arraySize;         // GL_ARRAY_SIZE (storage blocks: their name length)
    bool nullAllowed;          // the name contains "null": a null argument binds nothing
    std::string name;          // the GLSL name as the driver reports it
    int32_t argumentIndex;     // N for a name "argN...", else -1
    bool textureSlotTable;     // the sampler array `textureSlots` of the texture handle layer
};

struct ShaderProgram {
    uint32_t program;      // GL program object
    int32_t argumentCount; // 1 + the highest argument index, 0 without arguments
    int32_t resourceCount; // recorded resources
    std::vector<ProgramResource> resources;
};

// Arguments use() accepts at most; buildProgram rejects programs that need more.
constexpr int kMaxProgramArguments = 16;

// Compiles one stage of `source` between `prefix` and `suffix` and attaches it to `program`.
// Returns true; a missing include or a compile error is fatal.
bool compileShader(uint32_t program, uint32_t stage, const char* prefix, const char* source,
                   const char* suffix);

// buildProgram(0, source): stages chosen from the text (all programs of the demo), or
// buildProgram(stage, source, stage, source, ..., 0): explicit stages. Links and records
// the program's resources.
ShaderProgram* buildProgram(uint32_t first, ...);

// Binds the program and feeds every resource; exactly argumentCount pointers must follow.
void use(ShaderProgram* program, ...);

// Sends the pending prefix of the host array to the GL buffer bound to `target`.
void uploadBuffer(BufferRecord* buffer, uint32_t target);

// Grows a device-only buffer to hold `count` elements (contents kept) and sets the element
// count; the store never shrinks. Returns the GL buffer name.
uint32_t reserveDeviceBuffer(BufferRecord* buffer, int32_t count);

// Creates the GL texture on first call (with its handle), binds it to GL_TEXTURE_2D of the
// active unit, and uploads the mip chain, built in place in `pixels`, when dirty.
void uploadTexture(TextureRecord* texture);

// ---- Texture handles ----

// Chosen once, from the current context, on first call.
TextureHandleMode textureHandleMode();

// Slot-table mode: the GL texture in `slot`, 0 when free; and how many slots are taken.
uint32_t textureSlotTexture(int slot);
int textureSlotsInUse();
