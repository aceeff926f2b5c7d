// Compiling stages, linking programs, recording their resources and feeding them by name.
#include "shader/shader.h"

#include "app/console.h"
#include "platform/gl.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

// ---- Driver logs ----

// The info log of a shader or program, after "SHADER:", as the fatal text.
[[noreturn]] void failWithInfoLog(GLuint object, bool isProgram) {
    GLint length = 0;
    if (isProgram)
        glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    else
        glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    std::string text = "SHADER:";
    if (length > 0) {
        std::string log(static_cast<size_t>(length), '\0');
        GLsizei written = 0;
        if (isProgram)
            glGetProgramInfoLog(object, length, &written, log.data());
        else
            glGetShaderInfoLog(object, length, &written, log.data());
        log.resize(static_cast<size_t>(written > 0 ? written : 0));
        text += log;
    }
    fatalError(text.c_str());
}

bool startsWith(const std::string& text, const char* start) {
    return text.compare(0, std::strlen(start), start) == 0;
}

} // namespace

// ---- Compiling one stage ----

bool compileShader(uint32_t program, uint32_t stage, const char* prefix, const char* source,
                   const char* suffix) {
    consoleLog("CompileShader:%s\n", source);
    GLuint shader = glCreateShader(stage);
    glGetError();
    consoleLog("POST-CREATE-SHADER?!\n");

    ShaderSourceList list =
        assembleShaderSource(prefix, source, suffix, textureHandleFeatureLine(textureHandleMode()));
    consoleLog("ENDED?!\n");
    std::vector<const char*> strings = list.strings();
    std::vector<GLint> lengths;
    lengths.reserve(strings.size());
    for (const char* text : strings) lengths.push_back(static_cast<GLint>(std::strlen(text)));

    consoleLog("PRE-COMPILE-SHADER?!\n");
    glShaderSource(shader, static_cast<GLsizei>(strings.size()), strings.data(), lengths.data());
    glCompileShader(shader);
    glGetError();
    GLint compiled = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (!compiled) failWithInfoLog(shader, false);
    glAttachShader(program, shader);
    return true;
}

// ---- Building a program ----

namespace {

constexpr GLenum kResourceInterfaces[] = {GL_UNIFORM, GL_PROGRAM_INPUT, GL_PROGRAM_OUTPUT, GL_BUFFER_VARIABLE,
                                          GL_SHADER_STORAGE_BLOCK};

constexpr char kTextureSlotTableName[] = "textureSlots[0]";

// "argN..." is positional argument N (leading digits as atoi reads them, none giving 0);
// anything else, and a negative number, is no argument.
int argumentIndexOf(const std::string& name) {
    if (name.size() <= 3 || !startsWith(name, "arg")) return -1;
    long index = std::strtol(name.c_str() + 3, nullptr, 10);
    if (index < 0) return -1;
    if (index >= kMaxProgramArguments) {
        fatalErrorFormat(
            "Shader resource %s: argument %ld is out of range; at most %d arguments are supported",
            name.c_str(), index, kMaxProgramArguments);
    }
    return static_cast<int>(index);
}

void recordResources(ShaderProgram* result) {
    GLuint program = result->program;
    GLint total = 0;
    for (GLenum programInterface : kResourceInterfaces) {
        GLint count = 0;
        glGetProgramInterfaceiv(program, programInterface, GL_ACTIVE_RESOURCES, &count);
        total += count > 0 ? count : 0;
    }
    result->resources.reserve(static_cast<size_t>(total));

    int highestArgument = -1;
    for (GLenum programInterface : kResourceInterfaces) {
        GLint count = 0;
        glGetProgramInterfaceiv(program, programInterface, GL_ACTIVE_RESOURCES, &count);
        for (GLint index = 0; index < count; ++index) {
            GLenum properties[4] = {GL_NAME_LENGTH, GL_TYPE, GL_ARRAY_SIZE, GL_LOCATION};
            if (programInterface == GL_BUFFER_VARIABLE) {
                properties[1] = properties[2] = properties[3] = GL_NAME_LENGTH;
            } else if (programInterface == GL_SHADER_STORAGE_BLOCK) {
                properties[1] = properties[2] = GL_NAME_LENGTH;
                properties[3] = GL_BUFFER_BINDING;
            }
            GLint values[4] = {0, 0, 0, -1};
            glGetProgramResourceiv(program, programInterface, static_cast<GLuint>(index), 4, properties, 4,
                                   nullptr, values);
            glGetError();
            // The name length counts the terminating NUL; size the buffer from it.
            std::string name(static_cast<size_t>(values[0] > 0 ? values[0] : 1), '\0');
            GLsizei written = 0;
            glGetProgramResourceName(program, programInterface, static_cast<GLuint>(index),
                                     static_cast<GLsizei>(name.size()), &written, name.data());
            name.resize(static_cast<size_t>(written > 0 ? written : 0));
            consoleLog("Class %x Res %d ty:%x sz:%d loc:%d  name:%s (%d)\n", programInterface, index,
                       values[1], values[2], values[3], name.c_str(), values[0]);

            if (values[3] == -1 && name.size() > 3 && startsWith(name, "gl_")) continue;
            if (programInterface != GL_UNIFORM && programInterface != GL_PROGRAM_INPUT &&
                programInterface != GL_SHADER_STORAGE_BLOCK) {
                continue;
            }
            ProgramResource resource{};
            resource.variable = nullptr;
            resource.programInterface = programInterface;
            resource.resourceIndex = index;
            resource.type = values[1];
            resource.location = values[3];
            resource.arraySize = values[2];
            resource.nullAllowed = name.find("null") != std::string::npos;
            resource.argumentIndex = argumentIndexOf(name);
            resource.textureSlotTable = programInterface == GL_UNIFORM && name == kTextureSlotTableName;
            resource.name = std::move(name);
            if (resource.argumentIndex > highestArgument) highestArgument = resource.argumentIndex;
            result->resources.push_back(std::move(resource));
        }
    }
    result->argumentCount = highestArgument + 1;
    result->resourceCount = static_cast<int32_t>(result->resources.size());
}

const char* checkedSource(const char* source) {
    if (source == nullptr) fatalError("buildProgram: a stage has no source text");
    return source;
}

// Programs live for the run and are never freed; this list keeps every one where leak
// checkers see it, whoever holds (or dropped) the pointer buildProgram returned.
std::vector<ShaderProgram*>& builtPrograms() {
    static auto* programs = new std::vector<ShaderProgram*>; // never destroyed, so seen at exit
    return *programs;
}

} // namespace

ShaderProgram* buildProgram(uint32_t first, ...) {
    createShaderVariables();
    GLuint program = glCreateProgram();
    glGetError();
    consoleLog("PRE-VA-ARG DEBUGOK 2?!\n");

    std::vector<std::string> feedbackNames;
    va_list arguments;
    va_start(arguments, first);
    if (first == 0) {
        const char* source = checkedSource(va_arg(arguments, const char*));
        consoleLog("AUTO?!\n");
        ShaderStagePlan plan = selectShaderStages(source);
        for (const ShaderStageSource& stage : plan.stages)
            compileShader(program, stage.stage, stage.prefix, stage.source, stage.suffix);
        feedbackNames = std::move(plan.feedbackNames);
    } else {
        for (uint32_t stage = first; stage != 0; stage = va_arg(arguments, uint32_t)) {
            const char* source = checkedSource(va_arg(arguments, const char*));
            compileShader(program, stage, "/* */\n", source, "");
        }
    }
    va_end(arguments);

    consoleLog("Linking\n");
    if (!feedbackNames.empty()) {
        std::vector<const char*> names;
        for (const std::string& name : feedbackNames) names.push_back(name.c_str());
        glTransformFeedbackVaryings(program, static_cast<GLsizei>(names.size()), names.data(),
                                    GL_INTERLEAVED_ATTRIBS);
    }
    glLinkProgram(program);
    glGetError();
    GLint linked = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (!linked) failWithInfoLog(program, true);
    glGetError();

    auto* result = new ShaderProgram{};
    builtPrograms().push_back(result);
    result->program = program;
    recordResources(result);
    return result;
}

// ---- Feeding a program ----

namespace {

struct BindingCounters {
    int unit = 0;    // next texture/image unit
    int binding = 0; // next storage-buffer binding point
};

[[noreturn]] void failUnknownCombination(const ProgramResource& resource) {
    fatalErrorFormat("unknown combination %s clsid:%x ty:%x", resource.name.c_str(),
                     resource.programInterface, static_cast<unsigned>(resource.type));
}

[[noreturn]] void failNullData(const ProgramResource& resource) {
    fatalErrorFormat("use(): %s has no data (a null argument is allowed only for names containing \"null\")",
                     resource.name.c_str());
}

bool isTextureUniform(int32_t type) {
    return type == GL_SAMPLER_2D || type == GL_UNSIGNED_INT_VEC2 || type == GL_IMAGE_2D ||
           type == GL_INT_IMAGE_2D || type == GL_UNSIGNED_INT_IMAGE_2D;
}

// The uniform types fed by value: GL type, and the call that sends `count` of them from D.
#define SHADER_VALUE_UNIFORMS(X)                                                                             \
    X(GL_FLOAT, glUniform1fv(location, count, floats))                                                       \
    X(GL_FLOAT_VEC2, glUniform2fv(location, count, floats))                                                  \
    X(GL_FLOAT_VEC4, glUniform4fv(location, count, floats))                                                  \
    X(GL_INT, glUniform1iv(location, count, ints))                                                           \
    X(GL_INT_VEC2, glUniform2iv(location, count, ints))                                                      \
    X(GL_INT_VEC3, glUniform3iv(location, count, ints))                                                      \
    X(GL_INT_VEC4, glUniform4iv(location, count, ints))                                                      \
    X(GL_FLOAT_MAT2, glUniformMatrix2fv(location, count, GL_FALSE, floats))                                  \
    X(GL_FLOAT_MAT4, glUniformMatrix4fv(location, count, GL_FALSE, floats))

bool isValueUniform(int32_t type) {
    switch (type) {
#define SHADER_VALUE_UNIFORM_CASE(glType, call) case glType:
        SHADER_VALUE_UNIFORMS(SHADER_VALUE_UNIFORM_CASE)
#undef SHADER_VALUE_UNIFORM_CASE
        return true;
    default:
        return false;
    }
}

void feedUniform(const ProgramResource& resource, void* data, BindingCounters& counters) {
    const GLint location = resource.location;
    const GLsizei count = resource.arraySize;
    auto* floats = static_cast<const GLfloat*>(data);
    auto* ints = static_cast<const GLint*>(data);
    auto* texture = static_cast<TextureRecord*>(data);
    if (data == nullptr) {
        bool textureUniform = isTextureUniform(resource.type);
        if (!textureUniform && !isValueUniform(resource.type)) failUnknownCombination(resource);
        if (!textureUniform || !resource.nullAllowed) failNullData(resource);
    }

    switch (resource.type) {
#define SHADER_VALUE_UNIFORM_SEND(glType, call)                                                              \
    case glType:                                                                                             \
        call;                                                                                                \
        return;
        SHADER_VALUE_UNIFORMS(SHADER_VALUE_UNIFORM_SEND)
#undef SHADER_VALUE_UNIFORM_SEND
    case GL_SAMPLER_2D: {
        if (texture == nullptr) {
            glUniform1i(location, counters.unit);
            return;
        }
        int unit = counters.unit++;
        glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit));
        uploadTexture(texture);
        glUniform1i(location, unit);
        return;
    }
    case GL_UNSIGNED_INT_VEC2: {
        if (texture == nullptr) return;
        // Upload on the next free unit: binding here must not displace a sampler bound before.
        glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(counters.unit));
        uploadTexture(texture);
        GLuint words[2] = {static_cast<GLuint>(texture->bindlessHandle),
                           static_cast<GLuint>(texture->bindlessHandle >> 32)};
        glUniform2uiv(location, 1, words);
        return;
    }
    case GL_IMAGE_2D:
    case GL_INT_IMAGE_2D:
    case GL_UNSIGNED_INT_IMAGE_2D: {
        if (texture == nullptr) {
            glUniform1i(location, counters.unit);
            return;
        }
        int unit = counters.unit++;
        glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(counters.unit)); // a free unit, as for handles
        uploadTexture(texture);
        GLenum format = texture->internalFormat != 0 ? texture->internalFormat : GL_RGBA8UI;
        glBindImageTexture(static_cast<GLuint>(unit), texture->glTexture, 0, GL_FALSE, 0, GL_READ_WRITE,
                           format);
        glUniform1i(location, unit);
        return;
    }
    default:
        failUnknownCombination(resource);
    }
}

void feedVertexInput(const ProgramResource& resource, void* data) {
    GLint components = 0;
    if (resource.type == GL_FLOAT_VEC2)
        components = 2;
    else if (resource.type == GL_FLOAT_VEC3)
        components = 3;
    else
        failUnknownCombination(resource);
    if (data == nullptr) failNullData(resource);
    auto* buffer = static_cast<BufferRecord*>(data);
    GLuint location = static_cast<GLuint>(resource.location);
    glEnableVertexAttribArray(location);
    uploadBuffer(buffer, GL_ARRAY_BUFFER);
    glBindBuffer(GL_ARRAY_BUFFER, buffer->glBuffer);
    glVertexAttribPointer(location, components, GL_FLOAT, GL_FALSE, components * 4, nullptr);
}

void feedStorageBlock(GLuint program, const ProgramResource& resource, void* data,
                      BindingCounters& counters) {
    if (data == nullptr) failNullData(resource);
    auto* buffer = static_cast<BufferRecord*>(data);
    uploadBuffer(buffer, GL_SHADER_STORAGE_BUFFER);
    GLuint binding = static_cast<GLuint>(counters.binding++);
    glBindBufferBase(GL_SHADER_STORAGE_BUFFER, binding, buffer->glBuffer);
    glShaderStorageBlockBinding(program, static_cast<GLuint>(resource.resourceIndex), binding);
}

// The slot table's samplers take consecutive units for the slots in use; unused slots
// share the first of them (never sampled: no handle names them).
void feedTextureSlotTable(const ProgramResource& resource, BindingCounters& counters) {
    GLint units[kTextureSlotCount];
    int count = resource.arraySize < kTextureSlotCount ? resource.arraySize : kTextureSlotCount;
    int used = textureSlotsInUse() < count ? textureSlotsInUse() : count;
    for (int slot = 0; slot < count; ++slot) {
        if (slot < used) {
            units[slot] = counters.unit + slot;
            glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(units[slot]));
            glBindTexture(GL_TEXTURE_2D, textureSlotTexture(slot));
        } else {
            units[slot] = counters.unit;
        }
    }
    glUniform1iv(resource.location, count, units);
    counters.unit += used;
}

// The Variable behind a resource. Arrays report their first element ("weights[0]"); a
// Variable of that exact name wins, else the one of the bare array name.
Variable* findResourceVariable(const std::string& name) {
    if (Variable* variable = getVariable(name.c_str(), 0)) return variable;
    if (name.size() > 3 && name.ends_with("[0]"))
        return getVariable(name.substr(0, name.size() - 3).c_str(), 0);
    return nullptr;
}

} // namespace

void use(ShaderProgram* program, ...) {
    void* arguments[kMaxProgramArguments];
    va_list list;
    va_start(list, program);
    for (int i = 0; i < program->argumentCount; ++i) arguments[i] = va_arg(list, void*);
    va_end(list);

    glUseProgram(program->program);
    BindingCounters counters;
    const ProgramResource* slotTable = nullptr;
    for (ProgramResource& resource : program->resources) {
        if (resource.textureSlotTable) {
            // Bound last, so that textures created by this call already have their slots.
            slotTable = &resource;
            continue;
        }
        void* data;
        if (resource.argumentIndex >= 0) {
            data = arguments[resource.argumentIndex];
        } else {
            if (resource.variable == nullptr) {
                resource.variable = findResourceVariable(resource.name);
                if (resource.variable == nullptr)
                    fatalErrorFormat("Variable [%s] missing at use()\n", resource.name.c_str());
            }
            data = variableData(currentVariable(resource.variable));
        }
        switch (resource.programInterface) {
        case GL_UNIFORM:
            feedUniform(resource, data, counters);
            break;
        case GL_PROGRAM_INPUT:
            feedVertexInput(resource, data);
            break;
        default:
            feedStorageBlock(program->program, resource, data, counters);
            break;
        }
    }
    if (slotTable != nullptr) feedTextureSlotTable(*slotTable, counters);
}
