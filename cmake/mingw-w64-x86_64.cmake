# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the POSIX-threads variant, which
# C++ threads need). Used by scripts/build-windows.sh; programs built with it run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NOVA31_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${NOVA31_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NOVA31_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NOVA31_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${NOVA31_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${NOVA31_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

# Headers, libraries and pkg-config files come from the mingw-w64 sysroot and from
# NOVA31_WINDOWS_PREFIX, where scripts/build-windows.sh installs the dependencies it builds from
# source; programs come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${NOVA31_MINGW_TRIPLE})
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NOVA31_WINDOWS_PREFIX)
if(NOVA31_WINDOWS_PREFIX)
    list(APPEND CMAKE_FIND_ROOT_PATH ${NOVA31_WINDOWS_PREFIX})
    set(ENV{PKG_CONFIG_LIBDIR} ${NOVA31_WINDOWS_PREFIX}/lib/pkgconfig)
    set(ENV{PKG_CONFIG_PATH} "")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained executable: the C and C++ runtimes and winpthreads linked in statically,
# so that only Windows system DLLs are imported.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# A release program ships without its symbol table (it is more than half of the image).
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
