/* command_line.h — where the demo's asset archive comes from.

   By default the archive is the one appended to the running executable; an argument
   "-data:PATH" names another file (the last such argument wins; "-data:" alone is ignored).

       std::string path = dataPathFromArguments(argc, argv, executablePath());

   "-camera:fit" frames the scene with the orbit camera centred on its bounds (app/camera.h)
   instead of the demo hall's orbit; a camera of the scene itself still takes precedence.
   Nothing else is parsed from the command line. */
#pragma once

#include <string>

// The running executable's own path, truncated to 4000 characters like the buffer it fills.
std::string executablePath();

// The archive path: the text after the last "-data:" prefix of at least 7 characters, else `defaultPath`.
const char* dataPathFromArguments(int argc, char** argv, const char* defaultPath);

// How the demo views a scene that brings no camera of its own.
enum class CameraChoice {
    orbit, // the demo's orbit around its hall
    fit,   // "-camera:fit": the same orbit framed on the scene's bounds
};

// "-camera:fit" anywhere among the arguments chooses the framing camera; other "-camera:"
// texts are reported on the console and ignored.
CameraChoice cameraFromArguments(int argc, char** argv);
