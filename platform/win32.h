// The seam between the tool and its operating system.
//
// Everything the tool asks of the system goes through these declarations. They keep the Win32
// names, types and constants, so the logic above reads like the Win32 program it is. CMake links
// exactly one implementation: the real kernel32/advapi32 calls on Windows, our stand-ins on Linux,
// or a scripted fake in the unit tests.
#ifndef PRESIZER_PLATFORM_WIN32_H_
#define PRESIZER_PLATFORM_WIN32_H_

#include <cstdint>

namespace win32 {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using LONGLONG = std::int64_t;
using BOOL = int;
using WCHAR = char16_t;  // UTF-16, as wchar_t is on Windows
using HANDLE = void*;
using HMODULE = void*;
using FARPROC = void (*)();

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

inline HANDLE InvalidHandleValue() {
  return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
}

// Error codes, each named once: those the tool tests for or produces, and those the Linux
// stand-ins leave where the real call would.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
constexpr DWORD ERROR_WRITE_PROTECT = 19;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_LOCK_VIOLATION = 33;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_DEV_NOT_EXIST = 55;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_BROKEN_PIPE = 109;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
constexpr DWORD ERROR_BUSY = 170;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
constexpr DWORD ERROR_ARITHMETIC_OVERFLOW = 534;
constexpr DWORD ERROR_OPERATION_ABORTED = 995;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr DWORD ERROR_IO_DEVICE = 1117;
constexpr DWORD ERROR_TOO_MANY_LINKS = 1142;
constexpr DWORD ERROR_NOT_ALL_ASSIGNED = 1300;
constexpr DWORD ERROR_TIMEOUT = 1460;
constexpr DWORD ERROR_CANT_RESOLVE_FILENAME = 1921;

// CreateFileA.
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

// LockFileEx. Only the offset fields of OVERLAPPED are read; the handle is synchronous.
constexpr DWORD LOCKFILE_FAIL_IMMEDIATELY = 0x1;
constexpr DWORD LOCKFILE_EXCLUSIVE_LOCK = 0x2;
struct OVERLAPPED {
  std::uintptr_t Internal;
  std::uintptr_t InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
};

// GetFileSize and SetFilePointer.
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;
constexpr DWORD FILE_BEGIN = 0;

// Standard handles and their types.
constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
constexpr DWORD FILE_TYPE_UNKNOWN = 0;
constexpr DWORD FILE_TYPE_DISK = 1;
constexpr DWORD FILE_TYPE_CHAR = 2;
constexpr DWORD FILE_TYPE_PIPE = 3;

// FormatMessageA.
constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x2000;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;

// Code pages and WideCharToMultiByte.
constexpr DWORD CP_UTF8 = 65001;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x400;

// GetVersionExA.
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  char szCSDVersion[128];
};
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA must match the system's layout");

// Token privileges.
constexpr DWORD TOKEN_ADJUST_PRIVILEGES = 0x0020;
constexpr DWORD TOKEN_QUERY = 0x0008;
constexpr int TokenPrivileges = 3;
constexpr DWORD SE_PRIVILEGE_ENABLED = 0x00000002;
struct LUID {
  DWORD LowPart;
  LONG HighPart;
};
struct LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
};
struct TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[1];
};
static_assert(sizeof(LUID_AND_ATTRIBUTES) == 12, "privilege entries are 12 bytes");

// Unhandled-exception filter answers.
constexpr LONG EXCEPTION_CONTINUE_SEARCH = 0;

// SetFileValidData is reached only through GetProcAddress: a program that imported it would not
// even start on a system without it.
using SetFileValidDataProc = BOOL (*)(HANDLE file, LONGLONG validDataLength);

// kernel32: command line and process.
const char* GetCommandLineA();   // nullptr where the system passes arguments already split
const WCHAR* GetCommandLineW();  // likewise
DWORD GetACP();
int WideCharToMultiByte(DWORD codePage, DWORD flags, const WCHAR* wide, int wideCount, char* narrow,
                        int narrowSize, const char* defaultChar, BOOL* usedDefaultChar);
HANDLE GetCurrentProcess();
BOOL IsDebuggerPresent();
// Offers an escaped error at `address` to the system's unhandled-exception filter and returns the
// filter's answer. The exception record the filter sees is built by the implementation.
LONG UnhandledExceptionFilter(DWORD exceptionCode, const void* address);
[[noreturn]] void RaiseException(DWORD exceptionCode);

// kernel32: modules.
HMODULE GetModuleHandleA(const char* moduleName);
FARPROC GetProcAddress(HMODULE module, const char* procName);
DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size);
BOOL GetVersionExA(OSVERSIONINFOA* versionInfo);

// kernel32: files and handles.
HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode,
                   void* securityAttributes, DWORD creationDisposition, DWORD flagsAndAttributes,
                   HANDLE templateFile);
DWORD GetFileSize(HANDLE file, DWORD* fileSizeHigh);
DWORD SetFilePointer(HANDLE file, LONG distanceToMove, LONG* distanceToMoveHigh, DWORD moveMethod);
BOOL SetEndOfFile(HANDLE file);
BOOL CloseHandle(HANDLE object);
BOOL LockFileEx(HANDLE file, DWORD flags, DWORD reserved, DWORD bytesToLockLow,
                DWORD bytesToLockHigh, OVERLAPPED* overlapped);
void Sleep(DWORD milliseconds);
HANDLE GetStdHandle(DWORD stdHandle);
DWORD GetFileType(HANDLE file);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               void* overlapped);

// kernel32: errors.
DWORD GetLastError();
void SetLastError(DWORD errorCode);
DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                     char* buffer, DWORD size, void* arguments);

// advapi32: tokens.
BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* tokenHandle);
BOOL GetTokenInformation(HANDLE token, int informationClass, void* information,
                         DWORD informationLength, DWORD* returnLength);
BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAllPrivileges, TOKEN_PRIVILEGES* newState,
                           DWORD bufferLength, TOKEN_PRIVILEGES* previousState,
                           DWORD* returnLength);

}  // namespace win32

#endif  // PRESIZER_PLATFORM_WIN32_H_
