// The Linux program: stand-ins for the Win32 calls the tool makes.
//
// Each stand-in keeps the part of the Win32 contract that its caller relies on: the dispositions,
// the rule by which a result means failure, and the Win32 error code that the real call would
// have left. errno is translated in exactly one table (ErrorTable below), so that the I/O error
// texts, which are keyed on Win32 codes, never read an errno as if it were one.
#include "platform/win32_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

extern "C" char __executable_start;  // start of the program's image, set by the linker

namespace win32 {
namespace {

thread_local DWORD lastError = 0;

struct ErrorMapping {
  int errnoValue;
  DWORD win32Code;
};

// errno to Win32, first row per errno wins. A code's message text comes from the first row that
// carries it. Rows marked "in context" are chosen by the caller that knows the circumstances.
constexpr ErrorMapping ErrorTable[] = {
    {0, ERROR_SUCCESS},
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOENT, ERROR_PATH_NOT_FOUND},  // in context: a directory of the path is missing
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {ENOSPC, ERROR_DISK_FULL},
    {EDQUOT, ERROR_DISK_FULL},
    {EFBIG, ERROR_DISK_FULL},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {EINVAL, ERROR_NEGATIVE_SEEK},  // in context: a seek before the start of the file
    {ESPIPE, ERROR_INVALID_FUNCTION},
    {EROFS, ERROR_WRITE_PROTECT},
    {EXDEV, ERROR_NOT_SAME_DEVICE},
    {ETXTBSY, ERROR_SHARING_VIOLATION},
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
    {ENOSYS, ERROR_INVALID_FUNCTION},
    {ENXIO, ERROR_DEV_NOT_EXIST},
    {ENODEV, ERROR_DEV_NOT_EXIST},
    {EEXIST, ERROR_FILE_EXISTS},
    {EPIPE, ERROR_BROKEN_PIPE},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {EBUSY, ERROR_BUSY},
    {EAGAIN, ERROR_BUSY},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {EOVERFLOW, ERROR_ARITHMETIC_OVERFLOW},
    {EINTR, ERROR_OPERATION_ABORTED},
    {EIO, ERROR_IO_DEVICE},
    {EMLINK, ERROR_TOO_MANY_LINKS},
    {ETIMEDOUT, ERROR_TIMEOUT},
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME},
};

}  // namespace

DWORD Win32CodeFromErrno(int errnoValue) {
  for (const ErrorMapping& row : ErrorTable) {
    if (row.errnoValue == errnoValue) return row.win32Code;
  }
  return ERROR_GEN_FAILURE;
}

namespace {

int ErrnoFromWin32Code(DWORD code, bool* found) {
  for (const ErrorMapping& row : ErrorTable) {
    if (row.win32Code == code) {
      *found = true;
      return row.errnoValue;
    }
  }
  *found = false;
  return 0;
}

// Windows has no signal for a write into a closed pipe or past the file-size limit: the call just
// fails, and the tool reports it. Keep that contract instead of dying without a word.
struct IgnoreFailureSignals {
  IgnoreFailureSignals() {
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
  }
} ignoreFailureSignals;

char tokenObject;     // the address is the stand-in token's handle
char kernel32Module;  // the address is the stand-in "kernel32.dll" module handle
HANDLE TokenHandle() { return &tokenObject; }

// ENOENT means a missing directory, not a missing file, when the path's directory is absent.
DWORD CodeForMissingEntry(const char* fileName) {
  std::string path(fileName);
  std::string::size_type slash = path.find_last_of('/');
  if (slash == std::string::npos) return ERROR_FILE_NOT_FOUND;
  std::string directory = slash == 0 ? std::string("/") : path.substr(0, slash);
  struct stat info;
  if (::stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return ERROR_PATH_NOT_FOUND;
  return ERROR_FILE_NOT_FOUND;
}

// The standard descriptors belong to the tool's output. When the tool was started with one of
// them closed, a new file must not take its number and receive the tool's words.
int MoveAboveStandardDescriptors(int fd) {
  if (fd > 2) return fd;
  int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  // With a descriptor limit of 3 or less there is no number to move to: the table is full.
  int saved = moved < 0 && errno == EINVAL ? EMFILE : errno;
  ::close(fd);
  errno = saved;
  return moved;
}

}  // namespace

const char* GetCommandLineA() { return nullptr; }

const WCHAR* GetCommandLineW() { return nullptr; }

// Arguments here are bytes, handed on as given; the tool converts no text.
DWORD GetACP() { return CP_UTF8; }

// Never called: with no command-line text there is nothing to compare.
int WideCharToMultiByte(DWORD, DWORD, const WCHAR*, int, char*, int, const char*, BOOL*) {
  return 0;
}

HANDLE GetCurrentProcess() { return InvalidHandleValue(); }

BOOL IsDebuggerPresent() { return FALSE; }

LONG UnhandledExceptionFilter(DWORD, const void*) { return 1; }

void RaiseException(DWORD) { ::abort(); }

HMODULE GetModuleHandleA(const char* moduleName) {
  if (moduleName == nullptr) return &__executable_start;
  // The one module the tool names, by the name it uses.
  if (std::strcmp(moduleName, "kernel32.dll") == 0) return &kernel32Module;
  lastError = ERROR_MOD_NOT_FOUND;
  return nullptr;
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
  if (module == &kernel32Module && std::strcmp(procName, "SetFileValidData") == 0) {
    return reinterpret_cast<FARPROC>(&SetFileValidData);
  }
  lastError = ERROR_PROC_NOT_FOUND;
  return nullptr;
}

DWORD GetModuleFileNameA(HMODULE, char* fileName, DWORD size) {
  char path[4096];
  ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
  if (length < 0) {
    SetLastErrorFromErrno(errno);
    return 0;
  }
  DWORD count = static_cast<DWORD>(length);
  if (count >= size) {
    // As on Windows, a path that does not fit is told by a count equal to the buffer's size; the
    // caller then asks again with a larger buffer and never reads this one.
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return size;
  }
  std::memcpy(fileName, path, count);
  fileName[count] = '\0';
  return count;
}

BOOL GetVersionExA(OSVERSIONINFOA* versionInfo) {
  if (versionInfo->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return FALSE;
  }
  // The valid-data stand-in exists here, so this system counts as the NT family. The family is
  // all the tool reads.
  versionInfo->dwPlatformId = VER_PLATFORM_WIN32_NT;
  return TRUE;
}

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD, void*,
                   DWORD creationDisposition, DWORD, HANDLE) {
  // Sharing has no counterpart here: other openers are never refused, which is what the tool's
  // share mode asks for anyway.
  int flags = O_CLOEXEC | O_NOCTTY;
  bool read = (desiredAccess & GENERIC_READ) != 0;
  bool write = (desiredAccess & GENERIC_WRITE) != 0;
  flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  if (creationDisposition == OPEN_ALWAYS) {
    flags |= O_CREAT;
  } else if (creationDisposition != OPEN_EXISTING) {
    lastError = ERROR_INVALID_PARAMETER;
    return InvalidHandleValue();
  }
  int fd = ::open(fileName, flags, 0666);
  if (fd >= 0) fd = MoveAboveStandardDescriptors(fd);
  if (fd < 0) {
    int saved = errno;
    lastError = saved == ENOENT ? CodeForMissingEntry(fileName) : Win32CodeFromErrno(saved);
    return InvalidHandleValue();
  }
  struct stat info;
  NoteValidLength(fd, ::fstat(fd, &info) == 0 ? info.st_size : 0);
  return HandleFromFd(fd);
}

DWORD GetFileSize(HANDLE file, DWORD* fileSizeHigh) {
  struct stat info;
  if (::fstat(FdFromHandle(file), &info) != 0) {
    SetLastErrorFromErrno(errno);
    return INVALID_FILE_SIZE;
  }
  std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
  DWORD low = static_cast<DWORD>(size & 0xFFFFFFFFu);
  if (fileSizeHigh) *fileSizeHigh = static_cast<DWORD>(size >> 32);
  // A size whose low half is all ones is not a failure; the caller tells them apart by this.
  if (low == INVALID_FILE_SIZE) lastError = ERROR_SUCCESS;
  return low;
}

// The tool always moves from the start of the file (FILE_BEGIN) and passes both halves.
DWORD SetFilePointer(HANDLE file, LONG distanceToMove, LONG* distanceToMoveHigh, DWORD) {
  const auto distance = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(static_cast<DWORD>(*distanceToMoveHigh)) << 32) |
      static_cast<DWORD>(distanceToMove));
  if (distance < 0) {
    // Linux says EINVAL; Windows has its own code for a position before the start.
    lastError = ERROR_NEGATIVE_SEEK;
    return INVALID_SET_FILE_POINTER;
  }
  off_t position = ::lseek(FdFromHandle(file), static_cast<off_t>(distance), SEEK_SET);
  if (position < 0) {
    SetLastErrorFromErrno(errno);
    return INVALID_SET_FILE_POINTER;
  }
  std::uint64_t unsignedPosition = static_cast<std::uint64_t>(position);
  *distanceToMoveHigh = static_cast<LONG>(unsignedPosition >> 32);
  DWORD low = static_cast<DWORD>(unsignedPosition & 0xFFFFFFFFu);
  if (low == INVALID_SET_FILE_POINTER) lastError = ERROR_SUCCESS;
  return low;
}

BOOL SetEndOfFile(HANDLE file) {
  int fd = FdFromHandle(file);
  off_t position = ::lseek(fd, 0, SEEK_CUR);
  struct stat info;
  // A refused growth is cut back here, and nothing below the cut is touched, so that a byte that
  // another program wrote there stays. btrfs therefore keeps the block that holds an old end
  // inside a block, which it wrote when the file grew: only a punch could give it back.
  if (position < 0 || ::fstat(fd, &info) != 0 || ::ftruncate(fd, position) != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  // Another program may have cut the file since it was opened: what lies beyond its length now
  // is no valid data, whatever the open saw.
  NoteEndSet(fd, std::min(info.st_size, position));
  return TRUE;
}

BOOL CloseHandle(HANDLE object) {
  if (object == TokenHandle()) return TRUE;
  ForgetValidLength(FdFromHandle(object));
  if (::close(FdFromHandle(object)) != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  return TRUE;
}

// Standard output is the only standard handle the tool asks for.
HANDLE GetStdHandle(DWORD) {
  const int fd = 1;
  if (::fcntl(fd, F_GETFD) == -1) {
    SetLastErrorFromErrno(errno);
    return InvalidHandleValue();
  }
  return HandleFromFd(fd);
}

DWORD GetFileType(HANDLE file) {
  struct stat info;
  if (::fstat(FdFromHandle(file), &info) != 0) {
    SetLastErrorFromErrno(errno);
    return FILE_TYPE_UNKNOWN;
  }
  if (S_ISCHR(info.st_mode)) return FILE_TYPE_CHAR;
  if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) return FILE_TYPE_PIPE;
  return FILE_TYPE_DISK;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten, void*) {
  const char* bytes = static_cast<const char*>(buffer);
  DWORD done = 0;
  while (done < bytesToWrite) {
    ssize_t count = ::write(FdFromHandle(file), bytes + done, bytesToWrite - done);
    if (count < 0) {
      if (errno == EINTR) continue;
      SetLastErrorFromErrno(errno);
      if (bytesWritten) *bytesWritten = done;
      return FALSE;
    }
    done += static_cast<DWORD>(count);
  }
  if (bytesWritten) *bytesWritten = done;
  return TRUE;
}

void Sleep(DWORD milliseconds) {
  struct timespec pause {
    static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000
  };
  while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

void SetLastErrorFromErrno(int errnoValue) { lastError = Win32CodeFromErrno(errnoValue); }

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD errorCode) { lastError = errorCode; }

DWORD FormatMessageA(DWORD, const void*, DWORD messageId, DWORD, char* buffer, DWORD size, void*) {
  bool found = false;
  int errnoValue = ErrnoFromWin32Code(messageId, &found);
  if (!found) {
    lastError = ERROR_MR_MID_NOT_FOUND;
    return 0;
  }
  // Shaped like the system's own texts, which end in a period and a line end.
  const std::string text = std::string(::strerror(errnoValue)) + ".\r\n";
  if (text.size() >= size) {
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

// Preallocation on Linux needs no privilege, so the stand-in token holds none, and adjusting it
// changes nothing.
BOOL OpenProcessToken(HANDLE, DWORD, HANDLE* tokenHandle) {
  *tokenHandle = TokenHandle();
  return TRUE;
}

BOOL GetTokenInformation(HANDLE, int, void* information, DWORD informationLength,
                         DWORD* returnLength) {
  constexpr DWORD emptyLength = sizeof(DWORD);  // PrivilegeCount and no entries
  *returnLength = emptyLength;
  if (information == nullptr || informationLength < emptyLength) {
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return FALSE;
  }
  DWORD count = 0;
  std::memcpy(information, &count, sizeof count);
  return TRUE;
}

BOOL AdjustTokenPrivileges(HANDLE, BOOL, TOKEN_PRIVILEGES*, DWORD, TOKEN_PRIVILEGES*, DWORD*) {
  return TRUE;
}

}  // namespace win32
