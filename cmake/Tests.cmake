# The tests. The same sources run in the native, sanitize, arm64 and windows builds; the arm64
# binaries run under qemu and the Windows ones under Wine through CMAKE_CROSSCOMPILING_EMULATOR,
# one CTest test per binary, because every Wine start costs seconds. Labels: unit, seam, program,
# release, and root for what needs root.
# What the tests need ends the configure with one line that says what to install.
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(FATAL_ERROR "The tests of this build run under ${PRESIZER_RUNNER_PACKAGE}: install it, "
    "or configure with -DPRESIZER_TESTS=OFF")
endif()
if(NOT EXISTS /usr/src/googletest/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest's sources are missing from /usr/src/googletest: install them "
    "(Debian: googletest), or configure with -DPRESIZER_TESTS=OFF")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

function(presizer_test name label)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest_main)
  presizer_warnings(${name})
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES LABELS ${label})
endfunction()

# The logic against a scripted system, for the branches no real system gives here.
presizer_test(unit_tests unit
  SOURCES
    app/command_line_test.cpp
    app/console_test.cpp
    app/presizer_main_test.cpp
    prealloc/preallocate_test.cpp
    tests/fake_win32.cpp
  LIBRARIES presizer_core)

# The fuzz targets' properties, run once on every input of their corpus: the seeds at the edges
# of the size syntax and the splitting, and what fuzzing found. Under Wine the common quoting's
# reference also meets the system's own splitting there.
foreach(target IN ITEMS size_argument common_quoting)
  add_executable(${target}_replay fuzz/${target}_fuzzer.cpp fuzz/replay.cpp)
  target_link_libraries(${target}_replay PRIVATE presizer_core presizer_platform)
  presizer_warnings(${target}_replay)
  add_test(NAME ${target}_corpus
    COMMAND ${target}_replay ${PROJECT_SOURCE_DIR}/fuzz/corpus/${target})
  set_tests_properties(${target}_corpus PROPERTIES LABELS unit)
endforeach()
target_sources(common_quoting_replay PRIVATE fuzz/common_quoting.cpp
  $<IF:$<BOOL:${WIN32}>,fuzz/system_quoting_windows.cpp,fuzz/system_quoting_posix.cpp>)
target_link_libraries(common_quoting_replay PRIVATE $<$<BOOL:${WIN32}>:shell32>)

# The real seam: the Linux stand-ins, or under Wine the system's own calls.
presizer_test(seam_tests seam
  SOURCES platform/win32_test.cpp LIBRARIES presizer_core presizer_platform)
if(NOT WIN32)
  target_sources(seam_tests PRIVATE platform/win32_posix_test.cpp)
endif()

# The built program on real files, one case table for every program: the Linux one directly, the
# Windows one through Wine, the arm64 one through qemu. Of the two Linux programs the table runs
# the tarball's static one; the sanitize build runs it on a dynamic program, and the release test
# runs the package's. It runs with the first python3 on the PATH that can import pytest: another
# one without it may come first.
function(presizer_has_pytest result candidate)
  execute_process(COMMAND ${candidate} -c "import pytest" RESULT_VARIABLE no_pytest
    OUTPUT_QUIET ERROR_QUIET)
  if(no_pytest)
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()
find_program(PRESIZER_PYTHON NAMES python3 VALIDATOR presizer_has_pytest)
if(NOT PRESIZER_PYTHON)
  message(FATAL_ERROR "No python3 on the PATH can import pytest: install it (Debian: "
    "python3-pytest), name one that can with -DPRESIZER_PYTHON=..., or configure with "
    "-DPRESIZER_TESTS=OFF")
endif()
set(table_program presizer)
if(TARGET presizer_static)
  set(table_program presizer_static)
endif()
list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " runner)
# The case table, and the example sessions of README and the manual page, which show the Linux
# program.
foreach(kind IN ITEMS program documents)
  add_test(NAME ${kind}_tests
    COMMAND ${PRESIZER_PYTHON} -m pytest -q -p no:cacheprovider -o junit_family=legacy
      -k test_${kind} --basetemp=${CMAKE_BINARY_DIR}/${kind}-tests
      --junitxml=${CMAKE_BINARY_DIR}/${kind}-tests.xml
      ${PROJECT_SOURCE_DIR}/tests/program_test.py)
  set_tests_properties(${kind}_tests PROPERTIES LABELS program ENVIRONMENT
    "PRESIZER_PROGRAM=$<TARGET_FILE:${table_program}>;PRESIZER_RUNNER=${runner}")
endforeach()

# The fast path on fresh loop volumes of each file system: a table of files and requests, refusals
# and grants among them. It needs root and skips without it; under Wine the valid-data call is
# Wine's own.
if(NOT WIN32)
  add_test(NAME volume_tests
    COMMAND ${PRESIZER_PYTHON} ${PROJECT_SOURCE_DIR}/tests/volume_test.py
      $<TARGET_FILE:${table_program}>)
  set_tests_properties(volume_tests PROPERTIES LABELS "program;root"
    SKIP_REGULAR_EXPRESSION "(^|\n)skipped:" ENVIRONMENT "PRESIZER_RUNNER=${runner}")
endif()

# The release files of this build, made by CPack, checked, unpacked, installed and run.
# Releases are Release builds; the check is slow, so the sanitize preset's Debug build skips it.
if(CMAKE_BUILD_TYPE STREQUAL "Release")
  add_test(NAME release_archive
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/release.sh $<IF:$<BOOL:${WIN32}>,windows,linux>
      ${CMAKE_CPACK_COMMAND} ${CMAKE_BINARY_DIR} ${PROJECT_VERSION} ${CMAKE_SYSTEM_PROCESSOR}
      "${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}" ${CMAKE_OBJDUMP} ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(release_archive PROPERTIES LABELS release)
endif()

# Under Wine, every test runs in a prefix of this build folder's own, whose server a fixture
# starts before the first test and stops after the last, so that two build folders can test at
# once and neither stops the other's server.
if(WIN32)
  set(wine_environment "WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix;WINEDEBUG=-all")
  get_property(windows_tests DIRECTORY PROPERTY TESTS)
  foreach(action IN ITEMS start stop)
    add_test(NAME wine_${action}
      COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/wine.sh ${action} ${CMAKE_CROSSCOMPILING_EMULATOR})
    set_tests_properties(wine_${action} PROPERTIES ENVIRONMENT "${wine_environment}" TIMEOUT 75)
  endforeach()
  set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)
  set_tests_properties(${windows_tests} PROPERTIES FIXTURES_REQUIRED wine)
  set_property(TEST ${windows_tests} APPEND PROPERTY ENVIRONMENT ${wine_environment})
endif()
