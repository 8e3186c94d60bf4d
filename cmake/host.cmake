# Native build of the portable core: the host tool, unit tests under
# sanitizers, fuzzers, and the CTest entries that drive the Windows build
# under Wine.

option(TEMBRA_SANITIZE "Build with AddressSanitizer and UBSan" OFF)
option(TEMBRA_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
set(TEMBRA_FUZZ_SECONDS 20 CACHE STRING "Time each fuzz target runs as a test (tools/fuzz_all.sh runs them longer)")
set(TEMBRA_WINDOWS_BUILD_DIR "" CACHE PATH
    "The shipped 32-bit Windows build tree: checked on every machine, run by the Wine tests where 32-bit code runs")
set(TEMBRA_FAST_WINDOWS_BUILD_DIR "" CACHE PATH
    "32-bit build tree with fast-line read settings, for a second run of some Wine tests")
set(TEMBRA_WINDOWS64_BUILD_DIR "" CACHE PATH "64-bit build tree the Wine tests run where no 32-bit code runs")
set(TEMBRA_FAST_WINDOWS64_BUILD_DIR "" CACHE PATH "64-bit build tree with fast-line read settings")

set(TEMBRA_HOST_WARNINGS -Wall -Wextra -Werror=return-type)
if(TEMBRA_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
target_compile_options(tembra_core PRIVATE ${TEMBRA_HOST_WARNINGS})

# The tool leans on Debian's libraries: libcrypto for SHA-256 and the
# PKCS#7 of signed copies, nlohmann-json for the manifest.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
find_package(nlohmann_json REQUIRED)
file(GLOB TEMBRA_TOOL_SOURCES CONFIGURE_DEPENDS tools/host/*.cpp)
add_executable(tembra_tool ${TEMBRA_TOOL_SOURCES})
target_link_libraries(tembra_tool PRIVATE tembra_core OpenSSL::Crypto nlohmann_json::nlohmann_json)
target_compile_options(tembra_tool PRIVATE ${TEMBRA_HOST_WARNINGS})
# `tembra_tool check` runs the checker from the source tree.
target_compile_definitions(tembra_tool PRIVATE TEMBRA_CHECK_SCRIPT="${CMAKE_SOURCE_DIR}/tools/check_site.py")

enable_testing()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME tool.publish
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/tools/test_publish.py
                 $<TARGET_FILE:tembra_tool> ${CMAKE_BINARY_DIR}/tool-work/publish)
foreach(tool_test refusals stamp_signed variants check readme_example)
    add_test(NAME tool.${tool_test}
             COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/tools/test_${tool_test}.py
                     $<TARGET_FILE:tembra_tool> ${CMAKE_BINARY_DIR}/tool-work/${tool_test})
endforeach()

find_package(GTest REQUIRED)
include(GoogleTest)
file(GLOB TEMBRA_HOST_TEST_SOURCES CONFIGURE_DEPENDS tests/host/*.cpp)
add_executable(host_unit_tests ${TEMBRA_HOST_TEST_SOURCES})
target_link_libraries(host_unit_tests PRIVATE tembra_core GTest::gtest_main OpenSSL::Crypto)
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
        if(name STREQUAL "fuzz_pe_stamp")  # the host tool's PE and signature reader
            target_sources(${name} PRIVATE tools/host/pe_image.cpp tools/host/stamp_rules.cpp)
            target_include_directories(${name} PRIVATE tools/host)
            target_link_libraries(${name} PRIVATE OpenSSL::Crypto)
        endif()
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
