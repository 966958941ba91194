# The portable code (text routines, sign-in page reading and cutting,
# version description, package table, path text, error text helpers)
# built for the build machine under AddressSanitizer and UBSan.
set(HOST_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
set(PORTABLE_SOURCES
  src/common/characters.cpp
  src/download/text_search.cpp
  src/download/signin_page.cpp
  src/inspect/windows_version.cpp
  src/inspect/package_plan.cpp
  src/inspect/install_language.cpp
  src/inspect/package_pins.cpp
  src/install/paths.cpp
  src/install/installer_launch.cpp
  src/install/package_digest.cpp
  src/check/check_report.cpp
  tests/host/host_standin.cpp
)
add_library(patcher_portable STATIC ${PORTABLE_SOURCES})
target_include_directories(patcher_portable PUBLIC ${CMAKE_BINARY_DIR}/generated src tests/host)
target_compile_options(patcher_portable PRIVATE ${PATCHER_CODE_FLAGS})
target_compile_options(patcher_portable PUBLIC ${HOST_SANITIZE} -g)
target_link_options(patcher_portable PUBLIC ${HOST_SANITIZE})
option(PATCHER_COVERAGE "Instrument the portable code for gcov (scripts/coverage.sh)" OFF)
if(PATCHER_COVERAGE)
  # The tests too: the header routines they call are compiled in theirs.
  target_compile_options(patcher_portable PUBLIC --coverage)
  target_link_options(patcher_portable PUBLIC --coverage)
endif()

if(PATCHER_FUZZ)
  # Coverage for the fuzzers' guidance, and optimised as fuzzing wants it
  # (the sanitizers keep every check); harmless for the unit tests.
  target_compile_options(patcher_portable PRIVATE -fsanitize=fuzzer-no-link -O1)
  # The build machine's stand-ins for Windows are not the program's code: no
  # guidance from them, and no cost per byte upper-cased.
  set_source_files_properties(tests/host/host_standin.cpp PROPERTIES
    COMPILE_OPTIONS -fno-sanitize=fuzzer-no-link)
endif()

add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
add_subdirectory(tests/host)
if(PATCHER_FUZZ)
  add_subdirectory(tests/fuzz)
endif()
