#include "prealloc/target_file.h"

#include "platform/errors.h"

std::uint8_t fileOpenMode = 2;

namespace {

struct OpenModeRights {
  win32::DWORD access;
  win32::DWORD share;
};

// Modes 0 and 1 are read-only and write-only; the tool itself only ever uses 2.
OpenModeRights RightsFor(std::uint8_t mode) {
  switch (mode) {
    case 0:
      return {win32::GENERIC_READ, win32::FILE_SHARE_READ};
    case 1:
      return {win32::GENERIC_WRITE, win32::FILE_SHARE_WRITE};
    default:
      return {win32::GENERIC_READ | win32::GENERIC_WRITE,
              win32::FILE_SHARE_READ | win32::FILE_SHARE_WRITE};
  }
}

// Our runs on one file take turns from the open to the end of the run, so that one run's rollback
// never sets back a length that another run has just set and announced. The lock lies on the
// last byte that a file offset can name, where nobody reads or writes; a program that locked the
// whole file is waited for a few seconds at most, and then the run goes on as it would alone.
constexpr int kTurnAttempts = 50;
constexpr win32::DWORD kTurnPauseMilliseconds = 100;

void WaitForTurn(win32::HANDLE handle) {
  win32::OVERLAPPED lastByte{};
  lastByte.Offset = 0xFFFFFFFFu;
  lastByte.OffsetHigh = 0x7FFFFFFFu;
  for (int attempt = 0; attempt < kTurnAttempts; ++attempt) {
    if (win32::LockFileEx(handle, win32::LOCKFILE_EXCLUSIVE_LOCK | win32::LOCKFILE_FAIL_IMMEDIATELY,
                          0, 1, 0, &lastByte) ||
        win32::GetLastError() != win32::ERROR_LOCK_VIOLATION) {
      return;
    }
    win32::Sleep(kTurnPauseMilliseconds);
  }
}

void OpenWithDisposition(TargetFile& file, win32::DWORD access, win32::DWORD disposition) {
  win32::HANDLE handle =
      win32::CreateFileA(file.name.c_str(), access, RightsFor(fileOpenMode).share, nullptr,
                         disposition, win32::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == win32::InvalidHandleValue()) {
    file.state = TargetFile::State::Closed;
    pendingIoError = static_cast<std::int32_t>(win32::GetLastError());
    return;
  }
  file.handle = handle;
  file.state = TargetFile::State::OpenReadWrite;
  WaitForTurn(handle);
}

}  // namespace

void AssignTargetFile(TargetFile& file, const std::string& name) {
  file.name = name;
  file.handle = nullptr;
  file.state = TargetFile::State::Closed;
}

void OpenTargetFile(TargetFile& file) {
  OpenWithDisposition(file, RightsFor(fileOpenMode).access, win32::OPEN_EXISTING);
}

// Never empties a file: one that another program made since the open found nothing is opened
// as it is, as an existing file would have been.
void CreateTargetFile(TargetFile& file) {
  OpenWithDisposition(file, win32::GENERIC_READ | win32::GENERIC_WRITE, win32::OPEN_ALWAYS);
}

void OpenOrCreateTargetFile(TargetFile& file) {
  try {
    OpenTargetFile(file);
    CheckIoError();
    return;
  } catch (const EInOutError& error) {
    // Only a file that is not there is created. Any other failure to open an existing file,
    // passing or not, ends the run here rather than in a second attempt on the same file.
    if (error.Code() != static_cast<std::int32_t>(win32::ERROR_FILE_NOT_FOUND)) throw;
  }
  CreateTargetFile(file);
  CheckIoError();
}

void SetFileEnd(TargetFile& file) {
  if (file.state != TargetFile::State::OpenReadWrite) {
    pendingIoError = kIoFileNotOpen;
    return;
  }
  if (win32::SetEndOfFile(file.handle) != win32::TRUE) {
    pendingIoError = static_cast<std::int32_t>(win32::GetLastError());
  }
}

std::int64_t GetFileSize64(TargetFile& file) {
  win32::DWORD high = 0;
  win32::DWORD low = win32::GetFileSize(file.handle, &high);
  // All ones in the low half is also a real size; only the last error tells.
  if (low == win32::INVALID_FILE_SIZE) CheckLastError();
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}

void SeekFile64(TargetFile& file, std::int64_t offset) {
  std::uint64_t bits = static_cast<std::uint64_t>(offset);
  win32::LONG low = static_cast<win32::LONG>(static_cast<win32::DWORD>(bits & 0xFFFFFFFFu));
  win32::LONG high = static_cast<win32::LONG>(static_cast<win32::DWORD>(bits >> 32));
  win32::DWORD result = win32::SetFilePointer(file.handle, low, &high, win32::FILE_BEGIN);
  if (result == win32::INVALID_SET_FILE_POINTER) CheckLastError();
}
