// The window-system-independent parts of the demo window: key queue, context set-up, attendance,
// and the generic functions of window.h over the window system's primitives.
#include "platform/window_shared.h"

#include "app/console.h"
#include "platform/gl.h"
#include "platform/window.h"

#include <cstdlib>
#include <cstring>

// ---- Key queue ----

namespace {

constexpr int keyQueueCapacity = 300;
unsigned char keyQueue[keyQueueCapacity]; // typed characters, oldest first
int keyCount = 0;                         // characters queued in keyQueue

} // namespace

void queueCharacter(unsigned char character) {
    if (keyCount >= keyQueueCapacity) return; // full: the character is dropped
    keyQueue[keyCount++] = character;
}

int queuedCharacterCount() {
    return keyCount;
}

int takeOldestCharacter() {
    unsigned char oldest = keyQueue[0];
    std::memmove(keyQueue, keyQueue + 1, static_cast<size_t>(keyCount - 1));
    --keyCount;
    return static_cast<signed char>(oldest);
}

// ---- Size changes ----

void applyWindowSize(int width, int height, bool contextExists) {
    if (width <= 0 || height <= 0) return; // a minimised window keeps its last usable size
    windowWidth = width;
    windowHeight = height;
    consoleLog("!! Resize called: %d %d\n", width, height);
    if (contextExists && glViewport != nullptr) glViewport(0, 0, width, height);
}

// ---- Context set-up ----

void finishContextSetup() {
    if (const char* problem = glEntryPointProblem()) {
        fatalErrorFormat("Error, could not initialize a GL context: %s", problem);
    }
    glGetError();

    GLint computeInvocations = 0;
    glGetIntegerv(GL_MAX_COMPUTE_WORK_GROUP_INVOCATIONS, &computeInvocations);
    if (glGetError() != GL_NO_ERROR || computeInvocations <= 0 || !hasExtension("GL_ARB_compute_shader")) {
        fatalErrorFormat("Error, the GL context has no compute shaders (version \"%s\", renderer \"%s\")",
                         reinterpret_cast<const char*>(glGetString(GL_VERSION)),
                         reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    }

    if (glDebugMessageCallbackARB != nullptr) {
        glDebugMessageCallbackARB(glDebugOutput, nullptr);
        glEnable(GL_DEBUG_OUTPUT);
    } else if (glDebugMessageCallback != nullptr) {
        glDebugMessageCallback(glDebugOutput, nullptr);
        glEnable(GL_DEBUG_OUTPUT);
    }
    glGetError();

    glViewport(0, 0, windowWidth, windowHeight);
    GLuint vertexArray = 0;
    glGenVertexArrays(1, &vertexArray);
    glBindVertexArray(vertexArray);
}

// ---- Attendance ----

bool environmentFlagSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0 &&
           std::strcmp(value, "false") != 0;
}

bool unattendedByEnvironment() {
    return environmentFlagSet("CI") || environmentFlagSet("NOVA31_UNATTENDED");
}

// ---- Keys, present step and message box over the primitives ----

namespace {

PresentFrameHook presentFrameHook = nullptr;

} // namespace

int pendingKeyCount() {
    pumpMessages();
    return queuedCharacterCount();
}

int nextKey() {
    if (!windowDeliversKeys() && queuedCharacterCount() == 0) return 27; // nothing can ever be typed: "quit"
    while (pendingKeyCount() == 0) napOneMillisecond();
    return takeOldestCharacter();
}

void presentFrame() {
    if (presentFrameHook != nullptr) presentFrameHook();
    swapFrameBuffers();
}

void setPresentFrameHook(PresentFrameHook hook) {
    presentFrameHook = hook;
}

void installFatalErrorMessageBox() {
    if (personIsPresent()) setFatalErrorPresenter(showFatalErrorBox);
}
