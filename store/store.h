/* store.h — the variable store: the one place where named data lives.

   Shader uniform values, vertex and storage buffers, textures and the bytes of every asset
   file are kept here as Variables, each found by its name. The store is append-only: a
   Variable is never removed, moved or freed, so a `Variable*` stays valid for the whole run
   and callers keep handles instead of looking names up every frame.

       Variable* time = getVariable(kTimeVariable, 4);              // found or created
       *currentData<float>(time) = t;
       Variable* shader = getVariable("texm.glsl", 0);             // archive member or file

   Every reader takes currentData(v) (variableData(currentVariable(v))) at the moment of reading, because host
   code re-points Variables (replacement link, external data) around draws.

   Files: getVariable with size 0 resolves an unknown name as a file in the working directory
   ("file_tex1_DOT_png" names "tex1.png"). File bytes are always followed by one zero byte.
   The image hook decodes image files into texture Variables as they enter the store.

   The store is used from the main thread only. It does not free, compact or grow in place;
   running out of its region or an over-long name ends the process through fatalError. */
#pragma once

#include <cstddef>
#include <cstdint>

struct Variable {
    char name[104];        // NUL-terminated, at most 103 characters, never empty
    uint32_t stride;       // bytes from this Variable to the next: header + data, rounded up to 16
    uint32_t dataSize;     // bytes of inline data, or the length of a file's bytes
    Variable* replacement; // the Variable that stands for this one, or null
    void* externalData;    // data held outside the store (file bytes, host blocks), or null
    // dataSize bytes of inline data follow, zero when created

    unsigned char* inlineData() { return reinterpret_cast<unsigned char*>(this) + sizeof(Variable); }
};
static_assert(sizeof(Variable) % 16 == 0, "inline data must stay 16-byte aligned");

constexpr size_t kStoreRegionBytes = 104857600; // 100 MiB
constexpr size_t kMaxVariableNameLength = 103;

// Called on a newly created Variable; may return another Variable to hand out instead.
using VariableInit = Variable* (*)(Variable* created, void* argument);

// The existing Variable named `name` whatever `size` says; else, with size > 0, a new one of
// `size` zero bytes (passed through `init` when given); else the name resolved as a file, or null.
Variable* getVariable(const char* name, uint32_t size, VariableInit init = nullptr,
                      void* initArgument = nullptr);

// Appends a Variable without looking the name up; later ones of an existing name are never found.
Variable* appendVariable(const char* name, uint32_t size);

// Appends a file Variable holding a copy of `bytes` plus one zero byte, then runs the image hook.
Variable* putFileVariable(const char* name, uint32_t size, const void* bytes);

// The last Variable reached by following replacement links from v.
Variable* currentVariable(Variable* v);

// v's external data when set, else its inline data.
void* variableData(Variable* v);

// The data of the Variable `v` stands for now, as a T: variableData(currentVariable(v)).
template <typename T> T* currentData(Variable* v) {
    return static_cast<T*>(variableData(currentVariable(v)));
}

// The image hook runs on every file Variable right after its bytes are stored and returns the
// Variable to hand out (the file Variable itself; decoded forms hang off its replacement link).
using ImageHook = Variable* (*)(Variable* file, void* argument);
void setImageHook(ImageHook hook);
Variable* imageHook(Variable* file, void* argument);

// Bytes of the region in use, for tests and diagnostics.
size_t storeBytesUsed();

// ---- Variables owned by a layer ----

// A layer names the Variables it shares with other layers and with the shaders in one list of
// X(constant, "name", size) entries (sizes in bytes) and creates them itself when it starts:
//
//     #define NOVA31_RENDER_VARIABLES(X) X(kFeedbackVariable, "xfFeedback", 32) ...
//     NOVA31_RENDER_VARIABLES(NOVA31_DECLARE_VARIABLE)    // in its header: the constants
//     NOVA31_RENDER_VARIABLES(NOVA31_CREATE_VARIABLE)     // where it starts: getVariable for each
//
// Everyone else spells such a Variable through its constant.
#define NOVA31_DECLARE_VARIABLE(constant, name, size) inline constexpr char constant[] = name;
#define NOVA31_CREATE_VARIABLE(constant, name, size) getVariable(constant, size);
