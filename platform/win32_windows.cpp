// The Windows program: every seam call forwards to the real kernel32 or advapi32 function.
//
// Our header comes first so that its constants are parsed before <windows.h> turns the same names
// into macros; below this point only the system's own names are used.
#include "platform/win32.h"

#include "platform/windows_headers.h"

namespace win32 {

const char* GetCommandLineA() { return ::GetCommandLineA(); }

static_assert(sizeof(WCHAR) == sizeof(::WCHAR), "UTF-16 code units on both sides");

const WCHAR* GetCommandLineW() { return reinterpret_cast<const WCHAR*>(::GetCommandLineW()); }

DWORD GetACP() { return ::GetACP(); }

int WideCharToMultiByte(DWORD codePage, DWORD flags, const WCHAR* wide, int wideCount, char* narrow,
                        int narrowSize, const char* defaultChar, BOOL* usedDefaultChar) {
  return ::WideCharToMultiByte(codePage, flags, reinterpret_cast<const ::WCHAR*>(wide), wideCount,
                               narrow, narrowSize, defaultChar, usedDefaultChar);
}

HANDLE GetCurrentProcess() { return ::GetCurrentProcess(); }

BOOL IsDebuggerPresent() { return ::IsDebuggerPresent(); }

LONG UnhandledExceptionFilter(DWORD exceptionCode, const void* address) {
  EXCEPTION_RECORD record{};
  record.ExceptionCode = exceptionCode;
  record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
  record.ExceptionAddress = const_cast<void*>(address);
  CONTEXT context{};
  ::RtlCaptureContext(&context);
  EXCEPTION_POINTERS pointers{&record, &context};
  return ::UnhandledExceptionFilter(&pointers);
}

void RaiseException(DWORD exceptionCode) {
  ::RaiseException(exceptionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  ::ExitProcess(1);  // not reached: a non-continuable exception does not return
}

HMODULE GetModuleHandleA(const char* moduleName) { return ::GetModuleHandleA(moduleName); }

FARPROC GetProcAddress(HMODULE module, const char* procName) {
  return reinterpret_cast<FARPROC>(
      reinterpret_cast<void*>(::GetProcAddress(static_cast<::HMODULE>(module), procName)));
}

DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size) {
  return ::GetModuleFileNameA(static_cast<::HMODULE>(module), fileName, size);
}

BOOL GetVersionExA(OSVERSIONINFOA* versionInfo) {
  ::OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = versionInfo->dwOSVersionInfoSize;
  if (!::GetVersionExA(&info)) return 0;
  versionInfo->dwMajorVersion = info.dwMajorVersion;
  versionInfo->dwMinorVersion = info.dwMinorVersion;
  versionInfo->dwBuildNumber = info.dwBuildNumber;
  versionInfo->dwPlatformId = info.dwPlatformId;
  static_assert(sizeof info.szCSDVersion == sizeof versionInfo->szCSDVersion, "same layout");
  for (unsigned i = 0; i < sizeof info.szCSDVersion; ++i) {
    versionInfo->szCSDVersion[i] = info.szCSDVersion[i];
  }
  return 1;
}

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode,
                   void* securityAttributes, DWORD creationDisposition, DWORD flagsAndAttributes,
                   HANDLE templateFile) {
  return ::CreateFileA(fileName, desiredAccess, shareMode,
                       static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes), creationDisposition,
                       flagsAndAttributes, templateFile);
}

DWORD GetFileSize(HANDLE file, DWORD* fileSizeHigh) {
  ::DWORD high = 0;
  ::DWORD low = ::GetFileSize(file, &high);
  *fileSizeHigh = high;
  return low;
}

DWORD SetFilePointer(HANDLE file, LONG distanceToMove, LONG* distanceToMoveHigh, DWORD moveMethod) {
  ::LONG high = *distanceToMoveHigh;
  ::DWORD low = ::SetFilePointer(file, distanceToMove, &high, moveMethod);
  *distanceToMoveHigh = high;
  return low;
}

BOOL SetEndOfFile(HANDLE file) { return ::SetEndOfFile(file); }

BOOL CloseHandle(HANDLE object) { return ::CloseHandle(object); }

BOOL LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD bytesToLockLow,
                DWORD bytesToLockHigh, OVERLAPPED* overlapped) {
  ::OVERLAPPED range{};
  range.Offset = overlapped->Offset;
  range.OffsetHigh = overlapped->OffsetHigh;
  return ::LockFileEx(file, flags, reserved, bytesToLockLow, bytesToLockHigh, &range);
}

void Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

HANDLE GetStdHandle(DWORD stdHandle) { return ::GetStdHandle(stdHandle); }

DWORD GetFileType(HANDLE file) { return ::GetFileType(file); }

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               void* overlapped) {
  ::DWORD written = 0;
  BOOL ok =
      ::WriteFile(file, buffer, bytesToWrite, &written, static_cast<LPOVERLAPPED>(overlapped));
  if (bytesWritten) *bytesWritten = written;
  return ok;
}

DWORD GetLastError() { return ::GetLastError(); }

void SetLastError(DWORD errorCode) { ::SetLastError(errorCode); }

DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                     char* buffer, DWORD size, void* arguments) {
  return ::FormatMessageA(flags, source, messageId, languageId, buffer, size,
                          static_cast<va_list*>(arguments));
}

BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* tokenHandle) {
  return ::OpenProcessToken(process, desiredAccess, tokenHandle);
}

BOOL GetTokenInformation(HANDLE token, int informationClass, void* information,
                         DWORD informationLength, DWORD* returnLength) {
  ::DWORD length = 0;
  BOOL ok = ::GetTokenInformation(token, static_cast<TOKEN_INFORMATION_CLASS>(informationClass),
                                  information, informationLength, &length);
  *returnLength = length;
  return ok;
}

BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAllPrivileges, TOKEN_PRIVILEGES* newState,
                           DWORD bufferLength, TOKEN_PRIVILEGES* previousState,
                           DWORD* returnLength) {
  ::DWORD length = 0;
  BOOL ok = ::AdjustTokenPrivileges(
      token, disableAllPrivileges, reinterpret_cast<::PTOKEN_PRIVILEGES>(newState), bufferLength,
      reinterpret_cast<::PTOKEN_PRIVILEGES>(previousState), returnLength ? &length : nullptr);
  if (returnLength) *returnLength = length;
  return ok;
}

}  // namespace win32
