# The tests. The same sources run in the native, sanitize and windows builds; the Windows
# binaries run under Wine through CMAKE_CROSSCOMPILING_EMULATOR, one CTest test per binary,
# because every Wine start costs seconds.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

function(presizer_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest_main)
  presizer_warnings(${name})
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
endfunction()

# The logic against a scripted system, for the branches no real system gives here.
presizer_test(unit_tests
  SOURCES
    app/command_line_test.cpp
    app/failure_report_test.cpp
    app/size_argument_test.cpp
    prealloc/preallocate_test.cpp
    tests/fake_win32.cpp
  LIBRARIES presizer_core)

# The real seam: the Linux stand-ins, or under Wine the system's own calls.
presizer_test(seam_tests SOURCES platform/win32_test.cpp LIBRARIES presizer_core presizer_platform)

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
find_program(Python3_EXECUTABLE NAMES python3 VALIDATOR presizer_has_pytest)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
presizer_has_pytest(has_pytest ${Python3_EXECUTABLE})
if(DEFINED has_pytest)
  message(FATAL_ERROR "${Python3_EXECUTABLE} cannot import pytest: install it (Debian: "
    "python3-pytest), or name an interpreter that has it with -DPython3_EXECUTABLE=...")
endif()
add_test(NAME program_tests
  COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider -o junit_family=legacy
    --basetemp=${CMAKE_BINARY_DIR}/program-tests --junitxml=${CMAKE_BINARY_DIR}/program-tests.xml
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/program_test.py)
set(table_program presizer)
if(TARGET presizer_static)
  set(table_program presizer_static)
endif()
list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " runner)
set_tests_properties(program_tests PROPERTIES ENVIRONMENT
  "PRESIZER_PROGRAM=$<TARGET_FILE:${table_program}>;PRESIZER_RUNNER=${runner}")

# The release files of this build, made by CPack, checked, unpacked, installed and run.
if(WIN32)
  set(release_system windows)
else()
  set(release_system linux)
endif()
add_test(NAME release_archive
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/release.sh ${release_system} ${CMAKE_CPACK_COMMAND}
    ${CMAKE_BINARY_DIR} ${PROJECT_VERSION} ${CMAKE_SYSTEM_PROCESSOR} ${CMAKE_OBJDUMP}
    ${CMAKE_CROSSCOMPILING_EMULATOR})
# Releases are Release builds; the check is slow, so the sanitize preset's Debug build skips it.
if(NOT CMAKE_BUILD_TYPE STREQUAL "Release")
  set_tests_properties(release_archive PROPERTIES DISABLED ON)
endif()
