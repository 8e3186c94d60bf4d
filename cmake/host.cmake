# Native build of the portable core: the host tool, unit tests under
# sanitizers, fuzzers, and the CTest entries that drive the Windows build
# under Wine.

option(TEMBRA_SANITIZE "Build with AddressSanitizer and UBSan" OFF)
option(TEMBRA_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
set(TEMBRA_FUZZ_SECONDS 30 CACHE STRING "Time each fuzz target runs as a test (tools/fuzz_all.sh runs them longer)")
set(TEMBRA_WINDOWS_BUILD_DIR "" CACHE PATH "Windows build tree whose programs the Wine tests run")
set(TEMBRA_FAST_WINDOWS_BUILD_DIR "" CACHE PATH "Windows build tree with fast-line read settings, for a second run of some Wine tests")

set(TEMBRA_HOST_WARNINGS -Wall -Wextra -Werror=return-type)
if(TEMBRA_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
target_compile_options(tembra_core PRIVATE ${TEMBRA_HOST_WARNINGS})

file(GLOB TEMBRA_TOOL_SOURCES CONFIGURE_DEPENDS tools/host/*.cpp)
add_executable(tembra_tool ${TEMBRA_TOOL_SOURCES})
target_link_libraries(tembra_tool PRIVATE tembra_core)

enable_testing()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME tool.publish
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/tools/test_publish.py
                 $<TARGET_FILE:tembra_tool> ${CMAKE_BINARY_DIR}/tool-work/publish)

find_package(GTest REQUIRED)
include(GoogleTest)
file(GLOB TEMBRA_HOST_TEST_SOURCES CONFIGURE_DEPENDS tests/host/*.cpp)
add_executable(host_unit_tests ${TEMBRA_HOST_TEST_SOURCES})
target_link_libraries(host_unit_tests PRIVATE tembra_core GTest::gtest_main)
gtest_discover_tests(host_unit_tests TEST_PREFIX "host.")

if(TEMBRA_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "TEMBRA_FUZZ needs clang (libFuzzer)")
    endif()
    file(GLOB TEMBRA_FUZZ_SOURCES CONFIGURE_DEPENDS tests/fuzz/fuzz_*.cpp)
    foreach(source ${TEMBRA_FUZZ_SOURCES})
        get_filename_component(name ${source} NAME_WE)
        # The core is compiled into each target so that libFuzzer's coverage
        # instrumentation reaches it.
        add_executable(${name} ${source} ${TEMBRA_CORE_SOURCES})
        target_include_directories(${name} PRIVATE src)
        target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
        target_link_options(${name} PRIVATE -fsanitize=fuzzer)
        file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz-corpus/${name})
        file(GLOB seeds ${CMAKE_SOURCE_DIR}/tests/fuzz/seeds/${name}/*)
        if(seeds)
            file(COPY ${seeds} DESTINATION ${CMAKE_BINARY_DIR}/fuzz-corpus/${name})
        endif()
        add_test(NAME fuzz.${name}
                 COMMAND ${name} -max_total_time=${TEMBRA_FUZZ_SECONDS} -print_final_stats=1
                         ${CMAKE_BINARY_DIR}/fuzz-corpus/${name})
    endforeach()
endif()

if(TEMBRA_WINDOWS_BUILD_DIR)
    include(cmake/wine_tests.cmake)
endif()
