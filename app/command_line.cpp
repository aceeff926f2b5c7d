#include "app/command_line.h"

#include <cstring>

#include "app/console.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

std::string executablePath() {
    char buffer[4000];
#ifdef _WIN32
    // The module file name; a longer path is truncated to the buffer (and still terminated).
    DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (length == 0) return std::string();
#else
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length < 0) return std::string();
    buffer[length] = '\0';
#endif
    return std::string(buffer);
}

const char* dataPathFromArguments(int argc, char** argv, const char* defaultPath) {
    const char* path = defaultPath;
    for (int i = 1; i < argc; ++i) {
        if (std::strlen(argv[i]) >= 7 && std::strncmp(argv[i], "-data:", 6) == 0) path = argv[i] + 6;
    }
    return path;
}

CameraChoice cameraFromArguments(int argc, char** argv) {
    CameraChoice choice = CameraChoice::orbit;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-camera:", 8) != 0) continue;
        if (std::strcmp(argv[i] + 8, "fit") == 0)
            choice = CameraChoice::fit;
        else
            consoleLog("Unknown camera option %s (the one known is -camera:fit); ignored\n", argv[i]);
    }
    return choice;
}
