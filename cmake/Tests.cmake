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
# Nothing of GoogleTest goes into the install rules, and so into the packages.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The logic against a scripted system, for the branches no real system gives here.
add_executable(unit_tests app/command_line_test.cpp app/console_test.cpp app/presizer_main_test.cpp
  app/size_argument_test.cpp prealloc/preallocate_test.cpp tests/fake_win32.cpp)
target_link_libraries(unit_tests PRIVATE presizer_core GTest::gtest_main)
# The real seam: the Linux stand-ins, or under Wine the system's own calls.
add_executable(seam_tests platform/win32_test.cpp
  $<$<NOT:$<BOOL:${WIN32}>>:platform/win32_posix_test.cpp>)
target_link_libraries(seam_tests PRIVATE presizer_core presizer_platform GTest::gtest_main)
# The common quoting's fuzz property, run once on every input of its corpus: the seeds at the
# edges of the splitting, and what fuzzing found. Under Wine the reference also meets the system's
# own splitting there.
add_executable(common_quoting_replay fuzz/common_quoting_fuzzer.cpp fuzz/common_quoting.cpp
  fuzz/replay.cpp
  $<IF:$<BOOL:${WIN32}>,fuzz/system_quoting_windows.cpp,fuzz/system_quoting_posix.cpp>)
target_link_libraries(common_quoting_replay PRIVATE presizer_core presizer_platform
  $<$<BOOL:${WIN32}>:shell32>)
foreach(target IN ITEMS unit_tests seam_tests common_quoting_replay)
  presizer_warnings(${target})
endforeach()
add_test(NAME unit_tests COMMAND unit_tests --gtest_brief=1)
add_test(NAME seam_tests COMMAND seam_tests --gtest_brief=1)
add_test(NAME common_quoting_corpus
  COMMAND common_quoting_replay ${PROJECT_SOURCE_DIR}/fuzz/corpus/common_quoting)
set_tests_properties(unit_tests common_quoting_corpus PROPERTIES LABELS unit)
set_tests_properties(seam_tests PROPERTIES LABELS seam)

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
set(table_program $<IF:$<TARGET_EXISTS:presizer_static>,presizer_static,presizer>)
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
  get_property(windows_tests DIRECTORY PROPERTY TESTS)
  foreach(action IN ITEMS start stop)
    add_test(NAME wine_${action}
      COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/wine.sh ${action} ${CMAKE_CROSSCOMPILING_EMULATOR})
  endforeach()
  set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 75)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 75)
  set_tests_properties(${windows_tests} PROPERTIES FIXTURES_REQUIRED wine)
  set_property(TEST ${windows_tests} wine_start wine_stop APPEND PROPERTY ENVIRONMENT
    "WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix;WINEDEBUG=-all")
endif()
