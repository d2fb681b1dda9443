# Cross-builds the arm64 Linux programs with Debian's aarch64-linux-gnu toolchain and runs their
# tests under qemu's user mode, where every system call reaches this machine's kernel.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The static qemu also runs in a folder that holds nothing else. The test programs that are not
# static load the cross toolchain's libraries.
# Only the tests need it: without it, the tests' configure says what to install.
find_program(PRESIZER_QEMU NAMES qemu-aarch64-static)
set(PRESIZER_RUNNER_PACKAGE "qemu's user mode (Debian: qemu-user-static)")
if(PRESIZER_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PRESIZER_QEMU} -L /usr/aarch64-linux-gnu)
endif()
