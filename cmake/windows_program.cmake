# The Win32 program, its library of modules, and the tests that run it
# under Wine.
set(PATCHER_SOURCES
  src/common/characters.cpp
  src/download/text_search.cpp
  src/download/signin_page.cpp
  src/download/download_engine.cpp
  src/download/wininet_loading.cpp
  src/inspect/windows_version.cpp
  src/inspect/registry_probes.cpp
  src/inspect/package_plan.cpp
  src/inspect/install_language.cpp
  src/inspect/package_pins.cpp
  src/install/paths.cpp
  src/install/installer_launch.cpp
  src/install/package_digest.cpp
  src/install/file_removal.cpp
  src/run/status_window.cpp
  src/run/patch_run.cpp
)
# The program stays within 48 KiB (scripts/check-reproducible.sh): nothing
# in it throws, so it carries no unwind tables, and each function and datum
# in a section of its own lets the link drop what nothing uses.
list(APPEND PATCHER_CODE_FLAGS -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections)
add_library(patcher_core STATIC ${PATCHER_SOURCES})
target_include_directories(patcher_core PUBLIC ${CMAKE_BINARY_DIR}/generated src)
target_compile_options(patcher_core PRIVATE ${PATCHER_CODE_FLAGS})
option(PATCHER_COVERAGE "Instrument the program's code for gcov (scripts/coverage.sh)" OFF)
if(PATCHER_COVERAGE)
  # Each process, under Wine too, adds its counts to the .gcda files beside
  # the objects; gcov finds the sources by the paths recorded here.
  target_compile_options(patcher_core PUBLIC --coverage)
  target_link_options(patcher_core PUBLIC --coverage)
else()
  # No build paths inside the program, so two checkouts build the same bytes.
  target_compile_options(patcher_core PUBLIC -ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)
endif()
# Windows 95 / NT 4.0 headers: nothing newer may creep into the program.
target_compile_definitions(patcher_core PUBLIC WINVER=0x0400 _WIN32_WINNT=0x0400 _WIN32_WINDOWS=0x0410
  _WIN32_IE=0x0400 __USE_MINGW_ANSI_STDIO=0)
# Makes the imported library NAME that delay-loads DLL's functions named in
# DEF (with the import library's stdcall @N decorations); the helper its
# stubs call on first use, __delayLoadHelper2, comes from the MinGW-w64
# runtime.
function(add_delay_import_library name def dll)
  set(lib ${CMAKE_CURRENT_BINARY_DIR}/lib${name}.a)
  # Made where it lies under a plain name: dlltool names its symbols after
  # the output path.
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_DLLTOOL} --kill-at --deterministic-libraries --input-def ${def}
            --output-delaylib lib${name}.a --dllname ${dll}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} DEPENDS ${def} VERBATIM)
  add_custom_target(${name}_generate DEPENDS ${lib})
  # GNU ld drops the code of an import stub whose own symbol nobody names,
  # as with dllimport calls that go through the address slot; for a delay
  # import that code is the loader the slot first points at, so each stub
  # is named here.
  file(STRINGS ${def} functions REGEX "^[A-Za-z][A-Za-z0-9_]*@[0-9]+$")
  list(TRANSFORM functions PREPEND "LINKER:-u,_")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  add_library(${name} STATIC IMPORTED)
  set_target_properties(${name} PROPERTIES IMPORTED_LOCATION ${lib}
    INTERFACE_LINK_OPTIONS "${functions}")
  add_dependencies(${name} ${name}_generate)
endfunction()

# WinINet is delay-loaded: the program starts, probes and asks on a Windows
# without it, and only the download needs it (see Fetch).
add_delay_import_library(wininet_delay ${CMAKE_SOURCE_DIR}/src/download/wininet.def wininet.dll)
# The names the program looks up before its first WinINet call, from the
# same list as the delay imports, so that the two cannot differ.
file(STRINGS ${CMAKE_SOURCE_DIR}/src/download/wininet.def wininet_functions REGEX "^[A-Za-z][A-Za-z0-9_]*@[0-9]+$")
list(TRANSFORM wininet_functions REPLACE "@[0-9]+$" "")
list(JOIN wininet_functions "\", \"" wininet_functions)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/wininet_functions.h CONTENT
  "// Generated from src/download/wininet.def; do not edit.\n#pragma once\n\n#define PATCHER_WININET_FUNCTIONS \"${wininet_functions}\"\n")
target_link_libraries(patcher_core PUBLIC wininet_delay advapi32 user32 kernel32)

# Only the platform's own DLLs: the GCC runtimes are linked in statically.
set(PATCHER_LINK_FLAGS -static -static-libgcc -static-libstdc++
  -Wl,--major-os-version,4 -Wl,--minor-os-version,0
  -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0
  -Wl,--no-insert-timestamp -Wl,--gc-sections)

configure_file(src/run/version.rc.in ${CMAKE_BINARY_DIR}/generated/version.rc @ONLY)
add_executable(KB835732Patcher WIN32 src/run/main.cpp ${CMAKE_BINARY_DIR}/generated/version.rc)
target_compile_options(KB835732Patcher PRIVATE ${PATCHER_CODE_FLAGS})
target_link_libraries(KB835732Patcher PRIVATE patcher_core)
target_link_options(KB835732Patcher PRIVATE ${PATCHER_LINK_FLAGS} -s)

# The administrator's check of the live site (scripts/check-site.sh): the
# program's own engine, sign-in handling and pins, built with the release's
# site settings. It runs nothing it fetches, so it must not even import a
# way to (tests/check).
add_library(patcher_check STATIC src/check/check_report.cpp src/check/package_check.cpp)
target_compile_options(patcher_check PRIVATE ${PATCHER_CODE_FLAGS})
target_link_libraries(patcher_check PUBLIC patcher_core)
add_executable(KB835732SiteCheck src/check/site_check_main.cpp)
target_compile_options(KB835732SiteCheck PRIVATE ${PATCHER_CODE_FLAGS})
target_link_libraries(KB835732SiteCheck PRIVATE patcher_check)
target_link_options(KB835732SiteCheck PRIVATE ${PATCHER_LINK_FLAGS} -s)
# Makes a Wine prefix trust a site's CA, as the users' PCs do through their
# own certificate store (check-site.sh --ca; the tests' simulated site).
add_executable(add_root_ca src/check/add_root_ca.cpp)
target_compile_options(add_root_ca PRIVATE ${PATCHER_CODE_FLAGS})
target_link_libraries(add_root_ca PRIVATE crypt32)
target_link_options(add_root_ca PRIVATE -static)

option(PATCHER_TESTS "Build the tests that run under Wine" ON)
if(PATCHER_TESTS)
  # The suites are single-threaded. A thread-safe GoogleTest starts a watcher
  # thread at the first failure or skip, and under qemu-i386 emulation the
  # next socket connect of that Wine process then never completes.
  add_compile_definitions(GTEST_IS_THREADSAFE=0)
  add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  target_compile_options(gtest PRIVATE -include ${CMAKE_SOURCE_DIR}/tests/wine/gtest_single_thread.h)
  add_subdirectory(tests/wine)
  add_subdirectory(tests/e2e)
  add_subdirectory(tests/bench)
  add_subdirectory(tests/check)
  add_test(NAME simulated_site COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/site/test_simulated_site.py)
  set_tests_properties(simulated_site PROPERTIES LABELS "site" TIMEOUT 120)
  # signin-front before a sign-in service, with 1,500 silent clients and a
  # trickling one: about a minute, alone.
  add_test(NAME signin_front COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/site/signin_front_test.py)
  set_tests_properties(signin_front PROPERTIES LABELS "site;slow" TIMEOUT 300 RUN_SERIAL ON)
  add_test(NAME release_package COMMAND bash ${CMAKE_SOURCE_DIR}/tests/release_test.sh)
  set_tests_properties(release_package PROPERTIES LABELS "build" TIMEOUT 600 RUN_SERIAL ON)
  add_test(NAME reproducible_build COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-reproducible.sh)
  set_tests_properties(reproducible_build PROPERTIES LABELS "build" TIMEOUT 600)
endif()
