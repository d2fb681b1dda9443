// What the Linux program's stand-ins add to the seam: the one translation of errno.
#ifndef PRESIZER_PLATFORM_WIN32_POSIX_H_
#define PRESIZER_PLATFORM_WIN32_POSIX_H_

#include "platform/win32.h"

namespace win32 {

// The Win32 code that the real call would have left where Linux gives `errnoValue`; 31
// (ERROR_GEN_FAILURE) for an errno that the table does not know.
DWORD Win32CodeFromErrno(int errnoValue);

}  // namespace win32

#endif  // PRESIZER_PLATFORM_WIN32_POSIX_H_
