# The Windows program and the Windows-side test programs (run under Wine).

# Reproducible: no build path in the image (-ffile-prefix-map) and no link
# time stamp, so two builds of one commit are byte-identical and a signed
# copy can be traced to its commit.
# Small: unused functions dropped (function sections; data sections would
# move the zero buffers out of .bss), no unwind tables (the program has no
# exceptions to unwind). No link-time optimisation: binutils 2.40's ld
# crashes linking the program's LTO objects without the start-up files.
set(TEMBRA_WIN_COMPILE_OPTIONS -Os -fno-exceptions -fno-rtti -Wall -Wextra -ffunction-sections
    -fno-asynchronous-unwind-tables -fno-unwind-tables
    -ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
# Static run-time pieces of GCC; msvcrt.dll itself belongs to Windows.
set(TEMBRA_WIN_LINK_OPTIONS -static -static-libgcc -static-libstdc++ -s -Wl,--gc-sections
    -Wl,--no-insert-timestamp)
target_compile_options(tembra_core PRIVATE ${TEMBRA_WIN_COMPILE_OPTIONS})

# The thin Windows layer over the core: WinINet, registry, files, windows.
add_library(tembra_win STATIC
    src/platform/system_libraries.cpp
    src/platform/internet.cpp
    src/platform/read_pacing.cpp
    src/platform/keep_awake.cpp
    src/platform/file_names.cpp
    src/download/discovery.cpp
    src/download/package.cpp
    src/download/info_file.cpp
    src/download/download_attempt.cpp
    src/download/download_worker.cpp
    src/platform/reg_key.cpp
    src/install/distribution_id.cpp
    src/install/download_folder.cpp
    src/install/installer_file.cpp
    src/install/kept_download.cpp
    src/install/installer.cpp
    src/install/installer_trust.cpp
    src/download/manager_flow.cpp
    src/download/status_texts.cpp
    src/ui/progress_bar.cpp
    src/ui/manager_window_ops.cpp
    src/ui/manager_dialog.cpp
    src/ui/language_dialog.cpp
    src/ui/single_instance.cpp
    src/ui/proxy_credentials.cpp
    src/ui/accessible_bar.cpp
    src/ui/progress_report.cpp
    src/ui/taskbar_progress.cpp
    src/platform/com_libraries.cpp
    src/platform/support_log.cpp)
target_include_directories(tembra_win PUBLIC src PRIVATE ${CMAKE_BINARY_DIR}/generated)
target_compile_options(tembra_win PRIVATE ${TEMBRA_WIN_COMPILE_OPTIONS})
# Only DLLs that Windows takes from its own folder are imported; wininet,
# version, winmm, wintrust and crypt32 are loaded from the system folder at
# run time (src/platform/system_libraries.cpp).
target_link_libraries(tembra_win PUBLIC tembra_core advapi32 gdi32 user32 kernel32)

enable_language(RC)

# The program icon is drawn by a script of ours at build time.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(TEMBRA_ICON ${CMAKE_BINARY_DIR}/generated/tembra.ico)
add_custom_command(OUTPUT ${TEMBRA_ICON}
                   COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tools/make_icon.py ${TEMBRA_ICON}
                   DEPENDS ${CMAKE_SOURCE_DIR}/tools/make_icon.py
                   COMMENT "Drawing the program icon")

# The application manifest: the execution level Windows gives the program.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(TEMBRA_MANIFEST_ARCHITECTURE amd64)
else()
    set(TEMBRA_MANIFEST_ARCHITECTURE x86)
endif()
configure_file(res/tembra.manifest.in ${CMAKE_BINARY_DIR}/generated/tembra.manifest @ONLY)
file(GLOB TEMBRA_TRANSLATIONS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/translations/*.rc)
set_source_files_properties(res/tembra.rc PROPERTIES OBJECT_DEPENDS
                            "${TEMBRA_ICON};${CMAKE_BINARY_DIR}/generated/tembra.manifest;${CMAKE_SOURCE_DIR}/res/status_texts.rc;${TEMBRA_TRANSLATIONS}")

# The program: a GUI executable that imports only DLLs Windows takes from
# its own folder. It starts at its own entry point (src/ui/program_start.cpp),
# without the C run-time's start-up code. Its settings (settings_dir) and
# network timeouts stand in files of their own, so that the tests can build
# variants of the same program: with shortened timeouts, or https addresses
# and a signer.
# The entry point's symbol: __stdcall names are decorated on i686 only.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(TEMBRA_ENTRY_SYMBOL ProgramStart)
else()
    set(TEMBRA_ENTRY_SYMBOL _ProgramStart@0)
endif()
function(tembra_program name settings_dir)
    add_executable(${name} WIN32 src/ui/program_start.cpp src/ui/win_main.cpp src/platform/network_timeouts.cpp
                   src/download/stored_strings.cpp src/download/transfer_settings.cpp res/tembra.rc)
    target_include_directories(${name} PRIVATE src res ${settings_dir} ${CMAKE_BINARY_DIR}/generated)
    target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${TEMBRA_WIN_COMPILE_OPTIONS}>)
    target_link_options(${name} PRIVATE ${TEMBRA_WIN_LINK_OPTIONS} -nostartfiles -Wl,--entry=${TEMBRA_ENTRY_SYMBOL}
                        -Wl,-Map=$<TARGET_FILE_DIR:${name}>/${name}.map)
    target_link_libraries(${name} PRIVATE tembra_win)
endfunction()
tembra_program(tembra ${CMAKE_BINARY_DIR}/generated)

# Test variants: shortened timeouts for the fault tests; https servers on
# 127.0.0.1 and a test publisher for the tests of transport and signer.
tembra_program(tembra_short_timeouts ${CMAKE_BINARY_DIR}/generated)
target_compile_definitions(tembra_short_timeouts PRIVATE TEMBRA_SHORT_TIMEOUTS)
# The publisher's name is not ASCII, as a publisher's may be: the check
# compares it as Unicode. Like a release build, the trust variant takes only
# https:// configuration addresses, sUrl hops included. Both variants refuse download bases that are not
# https:// as a release build does; the trust variant still downloads over
# http://, since its signer authenticates the file.
# Its two ports are a setting, like the other addresses, so that two build
# trees can run their Wine tests side by side.
set(TEMBRA_TRUST_TEST_PORT 18471 CACHE STRING "First of the two loopback ports of the trust test's https servers")
math(EXPR trust_fallback_port "${TEMBRA_TRUST_TEST_PORT} + 1")
set(TEMBRA_TRUST_TEST_SETTINGS ${CMAKE_BINARY_DIR}/generated/trust_test)
tembra_settings_header(${TEMBRA_TRUST_TEST_SETTINGS} "https://127.0.0.1:${TEMBRA_TRUST_TEST_PORT}/primary"
                       "https://127.0.0.1:${trust_fallback_port}/fallback" "${TEMBRA_REGISTRY_KEY}"
                       "Tembra Tëst Publisher" ON ON)
tembra_program(tembra_trust_test ${TEMBRA_TRUST_TEST_SETTINGS})
target_compile_definitions(tembra_trust_test PRIVATE TEMBRA_SHORT_TIMEOUTS)
set(TEMBRA_HTTPS_DOWNLOAD_SETTINGS ${CMAKE_BINARY_DIR}/generated/https_download)
tembra_settings_header(${TEMBRA_HTTPS_DOWNLOAD_SETTINGS} "${TEMBRA_PRIMARY_SERVER}" "${TEMBRA_FALLBACK_SERVER}"
                       "${TEMBRA_REGISTRY_KEY}" "" ON OFF)
tembra_program(tembra_https_download ${TEMBRA_HTTPS_DOWNLOAD_SETTINGS})
target_compile_definitions(tembra_https_download PRIVATE TEMBRA_SHORT_TIMEOUTS)

# Console program that exercises the Windows layer under Wine for the tests.
file(GLOB TEMBRA_PROBE_SOURCES CONFIGURE_DEPENDS tests/wine/probe/*.cpp)
add_executable(tembra_probe ${TEMBRA_PROBE_SOURCES} src/platform/network_timeouts.cpp src/download/stored_strings.cpp
               src/download/transfer_settings.cpp
               res/status_texts.rc)
target_include_directories(tembra_probe PRIVATE ${CMAKE_BINARY_DIR}/generated)
target_compile_options(tembra_probe PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${TEMBRA_WIN_COMPILE_OPTIONS}>)
target_link_options(tembra_probe PRIVATE ${TEMBRA_WIN_LINK_OPTIONS})
target_link_libraries(tembra_probe PRIVATE tembra_win wininet version crypt32)

# Test libraries with chosen file versions (and one without any), from which
# the Wine tests assemble system folders for the package prefix rule.
foreach(version 4_2 4_10 4_20 4_70 5_0)
    string(REPLACE "_" ";" version_fields ${version})
    list(GET version_fields 0 major)
    list(GET version_fields 1 minor)
    add_library(ver_${version} SHARED tests/wine/testlib/stub.c tests/wine/testlib/version.rc)
    target_compile_definitions(ver_${version} PRIVATE VERSION_MAJOR=${major} VERSION_MINOR=${minor})
    set_target_properties(ver_${version} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testlibs
                          RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testlibs)
endforeach()
add_library(ver_none SHARED tests/wine/testlib/stub.c)
set_target_properties(ver_none PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testlibs)

# DLLs a web page could drop beside the program: each leaves a marker file
# beside itself when it is loaded (tests of DLL planting).
foreach(planted version wininet winmm)
    add_library(planted_${planted} SHARED tests/wine/testlib/planted.c)
    set_target_properties(planted_${planted} PROPERTIES PREFIX "" OUTPUT_NAME ${planted}
                          RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/planted/${planted})
endforeach()

# The installer the tests serve: it only leaves a marker file.
add_executable(test_installer WIN32 tests/wine/installer/test_installer.cpp)
target_compile_options(test_installer PRIVATE ${TEMBRA_WIN_COMPILE_OPTIONS})
target_link_options(test_installer PRIVATE ${TEMBRA_WIN_LINK_OPTIONS})
target_link_libraries(test_installer PRIVATE winmm)

# Automation helper of the end-to-end tests.
add_executable(tembra_driver tests/wine/driver/driver.cpp)
target_compile_options(tembra_driver PRIVATE ${TEMBRA_WIN_COMPILE_OPTIONS})
target_link_options(tembra_driver PRIVATE ${TEMBRA_WIN_LINK_OPTIONS})
target_link_libraries(tembra_driver PRIVATE user32 gdi32 ole32 oleaut32 oleacc)

# The installer the demo publishes: a window saying Tembra Orvane was installed.
add_executable(demo_installer WIN32 tools/demo/demo_installer.cpp tools/demo/demo_installer.rc)
target_compile_options(demo_installer PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${TEMBRA_WIN_COMPILE_OPTIONS}>)
target_link_options(demo_installer PRIVATE ${TEMBRA_WIN_LINK_OPTIONS})

# The benchmark's bound: the design's download loop alone (tools/bench).
add_executable(bare_download tools/bench/bare_download.cpp)
target_compile_options(bare_download PRIVATE ${TEMBRA_WIN_COMPILE_OPTIONS})
target_link_options(bare_download PRIVATE ${TEMBRA_WIN_LINK_OPTIONS})
target_link_libraries(bare_download PRIVATE tembra_core wininet winmm)
