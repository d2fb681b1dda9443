// What the Linux program's stand-ins share: the one translation of errno, the handles, and the
// valid-data policy that the file calls keep up to date.
#ifndef PRESIZER_PLATFORM_WIN32_POSIX_H_
#define PRESIZER_PLATFORM_WIN32_POSIX_H_

#include <sys/types.h>

#include <cstdint>

#include "platform/win32.h"

namespace win32 {

// The Win32 code that the real call would have left where Linux gives `errnoValue`; 31
// (ERROR_GEN_FAILURE) for an errno that the table does not know.
DWORD Win32CodeFromErrno(int errnoValue);
// Leaves that code as the last error.
void SetLastErrorFromErrno(int errnoValue);

// Handles carry a descriptor plus one, so that descriptor 0 is not the null handle.
inline HANDLE HandleFromFd(int fd) {
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd) + 1);
}
inline int FdFromHandle(HANDLE handle) {
  return static_cast<int>(reinterpret_cast<std::intptr_t>(handle) - 1);
}

// Each open file's valid length, as Windows keeps it: the length at the open, lowered when the
// end is set below it, raised only by SetFileValidData.
void NoteValidLength(int fd, off_t length);
void NoteEndSet(int fd, off_t end);
void ForgetValidLength(int fd);

BOOL SetFileValidData(HANDLE file, LONGLONG validDataLength);

// A volume's free space as statfs(2) tells it, in blocks of blockSize bytes.
struct VolumeSpace {
  std::uint64_t blockSize;
  std::uint64_t blocks;           // 0 where the volume does not say, as tmpfs without a limit
  std::uint64_t freeBlocks;       // f_bfree
  std::uint64_t availableBlocks;  // f_bavail: what any user may take
  std::uint64_t ownReserve;       // what the file system holds back even from root
  bool mayUseRootReserve;         // the caller may take f_bfree less ownReserve
};

// The bytes that a growth may take from `volume`; no limit where the volume does not say.
std::uint64_t RoomForGrowth(const VolumeSpace& volume);

}  // namespace win32

#endif  // PRESIZER_PLATFORM_WIN32_POSIX_H_
