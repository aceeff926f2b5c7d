/* command_line.h — where the demo's asset archive comes from.

   By default the archive is the one appended to the running executable; an argument
   "-data:PATH" names another file (the last such argument wins; "-data:" alone is ignored).

       std::string path = dataPathFromArguments(argc, argv, executablePath());

   Nothing else is parsed from the command line. */
#pragma once

#include <string>

// The running executable's own path, truncated to 4000 characters like the buffer it fills.
std::string executablePath();

// The archive path: the text after the last "-data:" prefix of at least 7 characters, else `defaultPath`.
const char* dataPathFromArguments(int argc, char** argv, const char* defaultPath);
