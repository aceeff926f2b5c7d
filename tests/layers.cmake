# Checks that every source file of the subsystem folders includes only project headers of its own
# layer or the layers below (see ARCHITECTURE.md). Run by CTest: cmake -DROOT=<source dir> -P layers.cmake
#
# Each rule: a path pattern (regular expression on the path below ROOT) and the include prefixes
# its files may use besides their own folder. The first matching rule applies.
set(rules
    "^app/(console|matrix)\\."          "app/console.h|app/matrix.h"
    "^(archive|store|refl)/"            "app/console.h"
    "^audio/"                           "app/console.h"
    "^platform/"                        "app/console.h"
    "^shader/"                          "app/console.h|store/|platform/"
    "^scene/(blob|gltf|gltf_pack|gltf_pack_[a-z]+|scene_animation)\\." "app/console.h|app/matrix.h|store/|refl/|scene/blob.h|scene/gltf.h|scene/gltf_pack.h|scene/gltf_pack_parts.h|scene/scene_animation.h"
    "^scene/"                           "app/console.h|app/matrix.h|store/|refl/|platform/|shader/|render/gpu_layout.h"
    "^render/"                          "app/console.h|store/|platform/|shader/"
    "^app/"                             ".*")

set(layers app archive audio platform refl render scene shader store)
set(project_folders "app|archive|audio|platform|refl|render|scene|shader|store|tools|tests")
set(failures "")
foreach(folder ${layers})
    file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/${folder}/*.cpp ${ROOT}/${folder}/*.h)
    foreach(source ${sources})
        list(LENGTH rules count)
        set(allowed "")
        set(index 0)
        while(index LESS count)
            list(GET rules ${index} pattern)
            math(EXPR next "${index} + 1")
            list(GET rules ${next} prefixes)
            if(source MATCHES "${pattern}")
                set(allowed "${prefixes}")
                break()
            endif()
            math(EXPR index "${index} + 2")
        endwhile()
        file(STRINGS ${ROOT}/${source} includes REGEX "^#include \"")
        foreach(line ${includes})
            string(REGEX REPLACE "^#include \"([^\"]*)\".*" "\\1" header "${line}")
            if(NOT header MATCHES "^(${project_folders})/")
                continue() # a header of the same folder named without its path
            endif()
            string(REGEX REPLACE "/.*" "" header_folder "${header}")
            if(header_folder STREQUAL folder AND NOT folder STREQUAL "scene")
                continue()
            endif()
            if(folder STREQUAL "scene" AND source MATCHES "^scene/(scene|image)\\." AND header MATCHES "^scene/")
                continue() # the runtime may use every scene header
            endif()
            if(NOT header MATCHES "^(${allowed})")
                string(APPEND failures "  ${source} includes ${header}\n")
            endif()
        endforeach()
    endforeach()
endforeach()
if(failures)
    message(FATAL_ERROR "Includes that reach up a layer (see ARCHITECTURE.md):\n${failures}")
endif()
message(STATUS "Every include points down or sideways within its layer")
