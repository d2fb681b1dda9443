# Test binaries. The same sources run in the native, sanitize and windows builds; the Windows
# ones run under Wine through CMAKE_CROSSCOMPILING_EMULATOR. One CTest test per binary, because
# every Wine start costs seconds.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# A scripted seam for the unit tests.
add_library(presizer_fake_platform STATIC platform/win32_fake.cpp)
target_include_directories(presizer_fake_platform PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
presizer_warnings(presizer_fake_platform)

# Runs programs and inspects files the way each system allows.
if(WIN32)
  add_library(presizer_test_support STATIC platform/test_support_windows.cpp)
else()
  add_library(presizer_test_support STATIC platform/test_support_posix.cpp)
endif()
target_include_directories(presizer_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
presizer_warnings(presizer_test_support)

function(presizer_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest_main)
  presizer_warnings(${name})
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
endfunction()

# Logic against the scripted seam.
presizer_test(unit_tests
  SOURCES
    app/command_line_test.cpp
    app/console_test.cpp
    app/failure_report_test.cpp
    app/presizer_main_test.cpp
    app/size_argument_test.cpp
    prealloc/preallocate_test.cpp
    prealloc/target_file_test.cpp
    privileges/privileges_test.cpp
  LIBRARIES presizer_core presizer_fake_platform)

# The real seam on real files: the stand-ins must answer as the system does.
presizer_test(system_tests
  SOURCES platform/win32_system_test.cpp
  LIBRARIES presizer_core presizer_platform presizer_test_support)

# The built program, run as a process on real files. The JSON result, with each case's exit
# code and whether anything was lost, feeds the README's figures.
presizer_test(e2e_tests
  SOURCES app/presizer_e2e_test.cpp
  LIBRARIES presizer_test_support)
set_tests_properties(e2e_tests PROPERTIES
  ENVIRONMENT "PRESIZER_PROGRAM=$<TARGET_FILE:presizer>;PRESIZER_FULL_VOLUME=${CMAKE_BINARY_DIR}/full-volume;PRESIZER_WORK_DIR=${CMAKE_BINARY_DIR}/e2e-work"
  FIXTURES_REQUIRED full_volume)
add_dependencies(e2e_tests presizer)

# A 1 MiB tmpfs for the full-volume cases, when the tests run as root; the cases skip otherwise.
add_test(NAME full_volume_mount
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/tests/full-volume.sh mount ${CMAKE_BINARY_DIR}/full-volume)
add_test(NAME full_volume_unmount
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/tests/full-volume.sh unmount ${CMAKE_BINARY_DIR}/full-volume)
set_tests_properties(full_volume_mount PROPERTIES FIXTURES_SETUP full_volume)
set_tests_properties(full_volume_unmount PROPERTIES FIXTURES_CLEANUP full_volume)

# The release files of this build, made by CPack, checked, unpacked, installed and run, and two
# fresh builds of the program compared byte for byte.
if(WIN32)
  add_test(NAME release_archive
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/release.sh windows ${CMAKE_CPACK_COMMAND}
      ${CMAKE_BINARY_DIR} ${PROJECT_VERSION} ${CMAKE_OBJDUMP} ${PRESIZER_WINE64})
  # The version information and manifest of the Windows program, read back as the system reads them.
  add_executable(resources_test tests/resources_test.cpp)
  target_include_directories(resources_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(resources_test PRIVATE PRESIZER_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    PRESIZER_VERSION_MINOR=${PROJECT_VERSION_MINOR} PRESIZER_VERSION_PATCH=${PROJECT_VERSION_PATCH})
  target_link_libraries(resources_test PRIVATE version)
  presizer_warnings(resources_test)
  add_test(NAME windows_resources COMMAND resources_test $<TARGET_FILE:presizer>)
else()
  add_test(NAME release_archive
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/release.sh linux ${CMAKE_CPACK_COMMAND}
      ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
  # The manual page, which only the Linux tree installs.
  add_test(NAME manual_page
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/tests/manpage.sh ${CMAKE_CURRENT_SOURCE_DIR}/docs/presizer.1)
endif()
# Releases are Release builds; the check is slow, so the sanitize preset's Debug build skips it.
if(NOT CMAKE_BUILD_TYPE STREQUAL "Release")
  set_tests_properties(release_archive PROPERTIES DISABLED ON)
endif()
