/* stb_image compiled into the image fuzz target itself, so its decoders are instrumented too:
   libFuzzer then sees their coverage and AddressSanitizer their memory accesses. The program's
   own definitions take precedence over those of the shared libstb. Two undefined-behaviour
   checks that stb trips harmlessly are off for this file (see fuzz/CMakeLists.txt). */
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
