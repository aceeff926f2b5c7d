// Shared by the shader system's GL tests: one headless context per test process, and a draw
// read back.
#pragma once

#include "platform/gl.h"
#include "platform/window.h"

#include <gtest/gtest.h>

#include <array>

class ShaderGLTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Death tests re-run the test in a fresh process, which makes its own context.
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        static bool opened = false;
        if (!opened) createHeadlessContext(800, 450);
        opened = true;
    }
};

// Draws the bound program's first triangle into a size x size corner of the frame (cleared to
// transparent black) and reads back the RGBA8 pixel at its centre.
inline std::array<unsigned char, 4> drawAndReadCentre(int size) {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glViewport(0, 0, size, size);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glDrawArrays(GL_TRIANGLES, 0, 3);
    std::array<unsigned char, 4> pixel{};
    glReadPixels(size / 2, size / 2, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel.data());
    return pixel;
}
