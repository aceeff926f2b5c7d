# Checks that every source file of the subsystem folders includes only headers of its own library
# or of the libraries it may use (see ARCHITECTURE.md). Run by CTest: cmake -DROOT=<source dir> -P layers.cmake
#
# Each library: its name, the files that make it (a regular expression on the path below ROOT; the
# first library whose expression matches owns the file) and what it may use besides its own files:
# library names, single headers by path, "*" for everything, "-" for nothing. A header's library is
# found the same way, so a folder that builds two libraries is checked library by library.
cmake_policy(SET CMP0057 NEW) # if(... IN_LIST ...)

set(libraries
    console       "^app/console\\."                          "-"
    matrix        "^app/matrix\\."                           "-"
    timeline      "^app/(camera|command_line|timeline)\\."   "console matrix audio/music.h"
    app           "^app/"                                    "*"
    refl          "^refl/"                                   "console"
    store         "^store/"                                  "console"
    archive       "^archive/"                                "console"
    ogg_memory    "^audio/ogg_memory\\."                     "-"
    audio         "^audio/"                                  "console ogg_memory"
    shader_source "^shader/(shader_source|assembly|host_array)\\." "console store"
    shader        "^shader/"                                 "shader_source console store platform"
    scene_format  "^scene/(blob|gltf|gltf_pack|gltf_pack_[a-z]+|scene_animation)\\." "console matrix store refl"
    scene         "^scene/"                                  "scene_format shader shader_source console matrix store refl platform render/gpu_layout.h"
    platform      "^platform/"                               "console"
    render        "^render/"                                 "shader shader_source console store platform")

set(folders app archive audio platform refl render scene shader store)
set(project_folders "app|archive|audio|platform|refl|render|scene|shader|store|tools|tests")

# Sets `out` to the library that owns `path`, or to "" when none does.
function(library_of path out)
    list(LENGTH libraries count)
    set(index 0)
    while(index LESS count)
        list(GET libraries ${index} name)
        math(EXPR pattern_index "${index} + 1")
        list(GET libraries ${pattern_index} pattern)
        if(path MATCHES "${pattern}")
            set(${out} ${name} PARENT_SCOPE)
            return()
        endif()
        math(EXPR index "${index} + 3")
    endwhile()
    set(${out} "" PARENT_SCOPE)
endfunction()

# Sets `out` to the use list of library `name`.
function(uses_of name out)
    list(FIND libraries ${name} index)
    math(EXPR uses_index "${index} + 2")
    list(GET libraries ${uses_index} uses)
    string(REPLACE " " ";" uses "${uses}")
    set(${out} "${uses}" PARENT_SCOPE)
endfunction()

set(failures "")
foreach(folder ${folders})
    file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/${folder}/*.cpp ${ROOT}/${folder}/*.h)
    foreach(source ${sources})
        library_of(${source} library)
        if(NOT library)
            string(APPEND failures "  ${source} belongs to no library\n")
            continue()
        endif()
        uses_of(${library} uses)
        get_filename_component(source_dir ${source} DIRECTORY)
        file(STRINGS ${ROOT}/${source} includes REGEX "^#include \"")
        foreach(line ${includes})
            string(REGEX REPLACE "^#include \"([^\"]*)\".*" "\\1" header "${line}")
            if(EXISTS ${ROOT}/${source_dir}/${header})
                set(header "${source_dir}/${header}") # named beside the including file
            elseif(NOT header MATCHES "^(${project_folders})/")
                continue() # not a project header
            endif()
            library_of(${header} header_library)
            if(header_library STREQUAL library OR "*" IN_LIST uses OR header_library IN_LIST uses
               OR header IN_LIST uses)
                continue()
            endif()
            if(NOT header_library)
                set(header_library "no library")
            endif()
            string(APPEND failures "  ${source} (${library}) includes ${header} (${header_library})\n")
        endforeach()
    endforeach()
endforeach()
if(failures)
    message(FATAL_ERROR "Includes that reach up a layer or across to a library not used (see ARCHITECTURE.md):\n${failures}")
endif()
message(STATUS "Every include points down or sideways within its library")
