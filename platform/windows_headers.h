// The one place that includes <windows.h>, trimmed to what the Windows files use.
#ifndef PRESIZER_PLATFORM_WINDOWS_HEADERS_H_
#define PRESIZER_PLATFORM_WINDOWS_HEADERS_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#endif  // PRESIZER_PLATFORM_WINDOWS_HEADERS_H_
