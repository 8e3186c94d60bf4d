# Tests that run the programs of a Windows build tree under Wine. They share
# one Wine prefix under this build tree and run one at a time (RESOURCE_LOCK),
# since they use fixed loopback ports and the same registry.
#
# Which build they run depends on the machine (tests/wine/wine_platform.py):
# the shipped 32-bit program where Wine's 32-bit loader runs, the 64-bit
# build of the same sources under wine64 where the kernel runs no 32-bit
# code. The checks that read the shipped program without running it look at
# the 32-bit tree on both.

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(TEMBRA_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)

execute_process(COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/wine/wine_platform.py
                OUTPUT_VARIABLE platform_line OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE platform_result)
if(NOT platform_result EQUAL 0)
    message(FATAL_ERROR "Could not choose the Wine platform: ${platform_line}")
endif()
string(FIND "${platform_line}" " " space)
string(SUBSTRING "${platform_line}" 0 ${space} TEMBRA_WINE_PLATFORM)
math(EXPR space "${space} + 1")
string(SUBSTRING "${platform_line}" ${space} -1 TEMBRA_WINE_PLATFORM_REASON)
if(TEMBRA_WINE_PLATFORM STREQUAL "win64")
    if(NOT TEMBRA_WINDOWS64_BUILD_DIR)
        message(FATAL_ERROR "This machine runs no 32-bit code (${TEMBRA_WINE_PLATFORM_REASON}): "
                            "the Wine tests need TEMBRA_WINDOWS64_BUILD_DIR, the 64-bit build tree")
    endif()
    set(TEMBRA_WINE_RUN_BUILD_DIR ${TEMBRA_WINDOWS64_BUILD_DIR})
    set(TEMBRA_WINE_RUN_FAST_BUILD_DIR ${TEMBRA_FAST_WINDOWS64_BUILD_DIR})
else()
    set(TEMBRA_WINE_RUN_BUILD_DIR ${TEMBRA_WINDOWS_BUILD_DIR})
    set(TEMBRA_WINE_RUN_FAST_BUILD_DIR ${TEMBRA_FAST_WINDOWS_BUILD_DIR})
endif()
message(STATUS "Wine tests: ${TEMBRA_WINE_PLATFORM} (${TEMBRA_WINE_RUN_BUILD_DIR}): ${TEMBRA_WINE_PLATFORM_REASON}")
# Every Wine test and helper agrees with the build chosen here.
set(TEMBRA_WINE_ENVIRONMENT PYTHONPATH=${CMAKE_SOURCE_DIR}/tests/wine TEMBRA_WINE_PLATFORM=${TEMBRA_WINE_PLATFORM}
    "TEMBRA_WINE_PLATFORM_REASON=${TEMBRA_WINE_PLATFORM_REASON}")
# Under wine64 the programs the tests start end without the Unix libraries'
# exit handlers (tests/wine/quick_exit.c says why). A native library, built
# without the sanitizers of this tree; the 32-bit loader could not load it.
if(TEMBRA_WINE_PLATFORM STREQUAL "win64" AND CMAKE_SIZEOF_VOID_P EQUAL 8)
    foreach(name quick_exit slow_exit)
        add_library(wine_${name} MODULE ${CMAKE_SOURCE_DIR}/tests/wine/${name}.c)
        set_target_properties(wine_${name} PROPERTIES COMPILE_OPTIONS "" LINK_OPTIONS "" PREFIX ""
                              LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
    endforeach()
    list(APPEND TEMBRA_WINE_ENVIRONMENT TEMBRA_WINE_QUICK_EXIT=${CMAKE_BINARY_DIR}/wine_quick_exit.so)
endif()

add_test(NAME wine.prefix
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/wine/make_prefix.py ${TEMBRA_WINE_PREFIX})
# PROCESSORS 2: with ctest -j2 (the sanitize test preset) the host tests and
# fuzzers run two at a time, but nothing runs beside a Wine test, whose
# deadlines are measured on an otherwise quiet machine.
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine_prefix RESOURCE_LOCK wine TIMEOUT 600
                     ENVIRONMENT "${TEMBRA_WINE_ENVIRONMENT}" PROCESSORS 2)

# tembra_wine_test(NAME script.py [BUILD dir]): one CTest entry per driver
# script, on the programs of the platform's build tree or of dir; the
# shipped 32-bit tree is handed on as --shipped-build.
function(tembra_wine_test name script)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "BUILD" "")
    if(NOT arg_BUILD)
        set(arg_BUILD ${TEMBRA_WINE_RUN_BUILD_DIR})
    endif()
    add_test(NAME wine.${name}
             COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/wine/${script}
                     --windows-build ${arg_BUILD} --shipped-build ${TEMBRA_WINDOWS_BUILD_DIR}
                     --tool $<TARGET_FILE:tembra_tool>
                     --prefix ${TEMBRA_WINE_PREFIX}
                     --work ${CMAKE_BINARY_DIR}/wine-work/${name})
    set_property(TEST wine.${name} PROPERTY ENVIRONMENT "${TEMBRA_WINE_ENVIRONMENT}")
    set_tests_properties(wine.${name} PROPERTIES FIXTURES_REQUIRED wine_prefix RESOURCE_LOCK wine
                         TIMEOUT 600 SKIP_RETURN_CODE 77 PROCESSORS 2)
endfunction()

tembra_wine_test(no_plain_strings test_no_plain_strings.py)
tembra_wine_test(program_image test_program_image.py)
tembra_wine_test(fetch_discovery test_fetch_discovery.py)
tembra_wine_test(package_worker test_package_worker.py)
tembra_wine_test(install_handoff test_install_handoff.py)
tembra_wine_test(flow test_flow.py)
tembra_wine_test(progress_bar test_progress_bar.py)
tembra_wine_test(end_to_end test_end_to_end.py)
tembra_wine_test(distributor test_distributor.py)
tembra_wine_test(faults test_faults.py)
tembra_wine_test(trust test_trust.py)
tembra_wine_test(installer_hold test_installer_hold.py)
tembra_wine_test(resume test_resume.py)
tembra_wine_test(pinned_download test_pinned_download.py)
tembra_wine_test(proxy test_proxy.py)
tembra_wine_test(languages test_languages.py)
tembra_wine_test(progress_report test_progress_report.py)
tembra_wine_test(support_log test_support_log.py)
tembra_wine_test(quick_exit test_quick_exit.py)

# A distributor's build for fast lines (64 KiB reads, no pause) through the
# tests of everything the read size touches.
if(TEMBRA_WINE_RUN_FAST_BUILD_DIR)
    foreach(test package_worker flow progress_bar end_to_end)
        tembra_wine_test(fast.${test} test_${test}.py BUILD ${TEMBRA_WINE_RUN_FAST_BUILD_DIR})
    endforeach()
endif()

# Two builds of one commit in different folders give the same program.
add_test(NAME tool.reproducible_build
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/tools/test_reproducible_build.py
                 ${CMAKE_SOURCE_DIR} ${TEMBRA_WINDOWS_BUILD_DIR} ${CMAKE_BINARY_DIR}/reproducible-build)
set_tests_properties(tool.reproducible_build PROPERTIES TIMEOUT 600 PROCESSORS 2)

# The choice of the platform, with stand-in loaders.
add_test(NAME tool.wine_platform
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/tools/test_wine_platform.py
                 ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/tool-work/wine_platform)

# The shipped program's SHA-instruction rounds on a 32-bit thread's stack.
add_test(NAME tool.sha_stack_alignment
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/tools/test_sha_stack_alignment.py
                 ${TEMBRA_WINDOWS_BUILD_DIR})

# The release preset's refusals (configure only).
add_test(NAME tool.release_preset
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/tools/test_release_preset.py
                 ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/release-preset)
set_tests_properties(tool.release_preset PROPERTIES TIMEOUT 300)
