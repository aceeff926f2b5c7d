# Helpers shared by the subsystem, test and benchmark folders.

# nova31_test(NAME SOURCES a.cpp b.cpp LIBS lib... [LABELS gl audio ...] [ENV VAR=value ...] [HEADLESS])
# One GoogleTest executable registered with CTest, one CTest entry per test case. HEADLESS: the
# tests run with DISPLAY removed from their environment (they draw on the headless GL context)
# and carry the label "headless" too. A cross-built test (Windows) lists its cases when CTest
# runs, under the build's emulator (Wine), rather than at build time.
function(nova31_test name)
    cmake_parse_arguments(ARG "HEADLESS" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_compile_definitions(${name} PRIVATE
        NOVA31_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        NOVA31_BINARY_DIR="${PROJECT_BINARY_DIR}")
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    set(properties TIMEOUT ${ARG_TIMEOUT})
    if(ARG_ENV)
        list(APPEND properties ENVIRONMENT "${ARG_ENV}")
    endif()
    if(ARG_HEADLESS)
        list(APPEND properties ENVIRONMENT_MODIFICATION "DISPLAY=unset:")
        list(APPEND ARG_LABELS headless)
    endif()
    set(discovery)
    if(CMAKE_CROSSCOMPILING)
        list(APPEND discovery DISCOVERY_MODE PRE_TEST)
    endif()
    gtest_discover_tests(${name}
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests
        DISCOVERY_TIMEOUT 60
        ${discovery}
        PROPERTIES ${properties})
    if(ARG_LABELS)
        # Discovery passes its properties on as a flat list, which would split a list of labels;
        # label the discovered tests from a script CTest reads after the discovered list.
        set(label_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
        file(WRITE ${label_script}
            "foreach(discovered IN LISTS ${name}_TESTS)\n"
            "    set_tests_properties(\"\${discovered}\" PROPERTIES LABELS \"${ARG_LABELS}\")\n"
            "endforeach()\n")
        set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${label_script})
    endif()
endfunction()

# nova31_bench(NAME SOURCES ... LIBS ...): a Google Benchmark program in build/bench.
function(nova31_bench name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark Threads::Threads)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
    target_compile_definitions(${name} PRIVATE NOVA31_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endfunction()
