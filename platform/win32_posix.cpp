// The Linux program: stand-ins for the Win32 calls the tool makes.
//
// Each stand-in keeps the part of the Win32 contract that its caller relies on: the dispositions,
// the rule by which a result means failure, and the Win32 error code that the real call would
// have left. errno is translated in exactly one table (ErrorTable below), so that the I/O error
// texts, which are keyed on Win32 codes, never read an errno as if it were one.
#include "platform/win32_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>

extern "C" char __executable_start;  // start of the program's image, set by the linker

namespace win32 {
namespace {

thread_local DWORD lastError = 0;

// ERROR_* codes that only the stand-ins produce.
constexpr DWORD kErrorInvalidFunction = 1;
constexpr DWORD kErrorTooManyOpenFiles = 4;
constexpr DWORD kErrorWriteProtect = 19;
constexpr DWORD kErrorNotSameDevice = 17;
constexpr DWORD kErrorSharingViolation = 32;
constexpr DWORD kErrorNotSupported = 50;
constexpr DWORD kErrorDevNotExist = 55;
constexpr DWORD kErrorFileExists = 80;
constexpr DWORD kErrorInvalidParameter = 87;
constexpr DWORD kErrorBrokenPipe = 109;
constexpr DWORD kErrorModNotFound = 126;
constexpr DWORD kErrorProcNotFound = 127;
constexpr DWORD kErrorDirNotEmpty = 145;
constexpr DWORD kErrorBusy = 170;
constexpr DWORD kErrorMrMidNotFound = 317;
constexpr DWORD kErrorArithmeticOverflow = 534;
constexpr DWORD kErrorOperationAborted = 995;
constexpr DWORD kErrorIoDevice = 1117;
constexpr DWORD kErrorTooManyLinks = 1142;
constexpr DWORD kErrorTimeout = 1460;
constexpr DWORD kErrorCantResolveFilename = 1921;
constexpr DWORD kErrorGenFailure = 31;

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
    {EMFILE, kErrorTooManyOpenFiles},
    {ENFILE, kErrorTooManyOpenFiles},
    {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {ENOSPC, ERROR_DISK_FULL},
    {EDQUOT, ERROR_DISK_FULL},
    {EFBIG, ERROR_DISK_FULL},
    {EINVAL, kErrorInvalidParameter},
    {EINVAL, ERROR_NEGATIVE_SEEK},  // in context: a seek before the start of the file
    {ESPIPE, kErrorInvalidFunction},
    {EROFS, kErrorWriteProtect},
    {EXDEV, kErrorNotSameDevice},
    {ETXTBSY, kErrorSharingViolation},
    {EOPNOTSUPP, kErrorNotSupported},
    {ENOSYS, kErrorInvalidFunction},
    {ENXIO, kErrorDevNotExist},
    {ENODEV, kErrorDevNotExist},
    {EEXIST, kErrorFileExists},
    {EPIPE, kErrorBrokenPipe},
    {ENOTEMPTY, kErrorDirNotEmpty},
    {EBUSY, kErrorBusy},
    {EAGAIN, kErrorBusy},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {EOVERFLOW, kErrorArithmeticOverflow},
    {EINTR, kErrorOperationAborted},
    {EIO, kErrorIoDevice},
    {EMLINK, kErrorTooManyLinks},
    {ETIMEDOUT, kErrorTimeout},
    {ELOOP, kErrorCantResolveFilename},
};

}  // namespace

DWORD Win32CodeFromErrno(int errnoValue) {
  for (const ErrorMapping& row : ErrorTable) {
    if (row.errnoValue == errnoValue) return row.win32Code;
  }
  return kErrorGenFailure;
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

void SetLastErrorFromErrno(int errnoValue) { lastError = Win32CodeFromErrno(errnoValue); }

// Windows has no signal for a write into a closed pipe or past the file-size limit: the call just
// fails, and the tool reports it. Keep that contract instead of dying without a word.
struct IgnoreFailureSignals {
  IgnoreFailureSignals() {
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
  }
} ignoreFailureSignals;

// Handles carry a descriptor plus one, so that descriptor 0 is not the null handle.
HANDLE HandleFromFd(int fd) { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd) + 1); }
int FdFromHandle(HANDLE handle) {
  return static_cast<int>(reinterpret_cast<std::intptr_t>(handle) - 1);
}

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

// Each open file's valid length, as Windows keeps it: at most the length the file had when its
// end was last set, raised only by SetFileValidData. Only the space beyond it is reserved, so that
// holes below the old end stay holes.
std::unordered_map<int, off_t> validLength;

off_t BlockStart(off_t offset, const struct stat& info) {
  return offset / info.st_blksize * info.st_blksize;
}

// The superuser's reserve of a volume is for those who may pass its limits.
bool MayUseReserve() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct sets[2]{};
  return ::syscall(SYS_capget, &header, sets) == 0 &&
         (sets[0].effective & (1u << CAP_SYS_RESOURCE)) != 0;
}

// Whether the volume has room for `bytes` more of the file, counted before anything is reserved:
// a reservation that runs out part way leaves the file system's records of the file larger (ext4
// keeps the extent-tree blocks it grew), and cutting the file back does not free them.
bool HasRoomFor(std::uint64_t bytes, const struct statvfs& volume) {
  // Besides the bytes, the file's extent tree: where the free space lies in single blocks, each
  // block is an extent, and a 1 KiB ext4 leaf holds 84 records of 12 bytes (1.2%); 16 bytes a
  // block cover that and the index above. Then 1 MiB for the allocation units at both ends and a
  // deeper tree, whose blocks take a whole cluster each under ext4 bigalloc. At the edge of 400 MiB
  // volumes whose free space lay in single blocks, ext4 needed 0.97% beyond the bytes with 1 KiB
  // blocks, 0.23% with 4 KiB blocks and 0.21% with 64 KiB clusters, xfs 22 KiB, btrfs and tmpfs
  // nothing.
  const std::uint64_t block = std::max<std::uint64_t>(volume.f_frsize, 512);
  const std::uint64_t needed = bytes + bytes / block * 16 + (1u << 20);
  // ext4 keeps 2% of the volume (at most 4096 clusters) for its own records even from root, and
  // f_bfree counts that pool.
  std::uint64_t blocks = volume.f_bavail;
  if (MayUseReserve()) {
    blocks = std::max<std::uint64_t>(
        blocks, volume.f_bfree - std::min(volume.f_bfree, volume.f_blocks / 50));
  }
  return needed <= blocks * volume.f_frsize;
}

bool Reserve(int fd, off_t from, off_t to) {
  // Any failure, EINTR included, is a refusal: success must mean the space is really there.
  if (from < to && ::fallocate(fd, 0, from, to - from) != 0) {
    SetLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

BOOL SetFileValidData(HANDLE file, LONGLONG validDataLength) {
  int fd = FdFromHandle(file);
  struct stat info;
  struct statvfs volume;
  if (::fstat(fd, &info) != 0 || ::fstatvfs(fd, &volume) != 0) {
    SetLastErrorFromErrno(errno);
    return FALSE;
  }
  // As on Windows, the valid length may not lie beyond the end of file.
  if (validDataLength < 0 || validDataLength > info.st_size) {
    lastError = kErrorInvalidParameter;
    return FALSE;
  }
  const off_t start = validLength[fd];
  if (validDataLength > start) {
    if (!HasRoomFor(static_cast<std::uint64_t>(validDataLength - start), volume)) {
      lastError = ERROR_DISK_FULL;
      return FALSE;
    }
    // The block that holds the old end may be a hole. Reserved first, it would stay when a
    // refusal cuts the file back, so it comes last. Unlike Windows, the new space reads as zeros.
    const off_t aligned =
        std::min<off_t>(BlockStart(start + info.st_blksize - 1, info), validDataLength);
    if (!Reserve(fd, aligned, validDataLength) || !Reserve(fd, start, aligned)) return FALSE;
  }
  validLength[fd] = validDataLength;
  return TRUE;
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
  lastError = kErrorModNotFound;
  return nullptr;
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
  if (module == &kernel32Module && std::strcmp(procName, "SetFileValidData") == 0) {
    return reinterpret_cast<FARPROC>(&SetFileValidData);
  }
  lastError = kErrorProcNotFound;
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
    lastError = kErrorInvalidParameter;
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
  validLength[fd] = ::fstat(fd, &info) == 0 ? info.st_size : 0;
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
  validLength[fd] = std::min({validLength[fd], info.st_size, position});
  return TRUE;
}

BOOL CloseHandle(HANDLE object) {
  if (object == TokenHandle()) return TRUE;
  validLength.erase(FdFromHandle(object));
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

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD errorCode) { lastError = errorCode; }

DWORD FormatMessageA(DWORD, const void*, DWORD messageId, DWORD, char* buffer, DWORD size, void*) {
  bool found = false;
  int errnoValue = ErrnoFromWin32Code(messageId, &found);
  if (!found) {
    lastError = kErrorMrMidNotFound;
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
