#include "prealloc/target_file.h"

#include "prealloc/errors.h"

std::uint8_t fileOpenMode = 2;
thread_local std::int32_t pendingIoError = 0;

namespace {

constexpr std::int32_t kFileNotOpen = 103;

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
}

std::string Decimal(std::int64_t value) { return std::to_string(value); }

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
    pendingIoError = kFileNotOpen;
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

std::string IoErrorText(std::int32_t code) {
  switch (code) {
    case 2:
      return "File not found";
    case 3:
      return "Invalid filename";
    case 4:
      return "Too many open files";
    case 5:
      return "File access denied";
    case 100:
      return "Read beyond end of file";
    case 101:
      return "Disk full";
    case 106:
      return "Invalid numeric input";
    default:
      return "I/O error " + Decimal(code);
  }
}

void CheckIoError() {
  if (pendingIoError == 0) return;
  std::int32_t code = pendingIoError;
  pendingIoError = 0;
  Raise(EInOutError(IoErrorText(code), code));
}

void CheckLastError() {
  win32::DWORD code = win32::GetLastError();
  if (code == win32::ERROR_SUCCESS) return;
  std::string message = "Win32 Error.  Code: " + Decimal(static_cast<std::int32_t>(code)) + ".\n" +
                        SystemErrorText(code);
  Raise(EWin32Error(message, code));
}

std::string SystemErrorText(win32::DWORD code) {
  char buffer[256];
  win32::DWORD count = win32::FormatMessageA(
      win32::FORMAT_MESSAGE_FROM_SYSTEM | win32::FORMAT_MESSAGE_ARGUMENT_ARRAY, nullptr, code, 0,
      buffer, sizeof buffer, nullptr);
  if (count > sizeof buffer) count = 0;  // never trust a count beyond the buffer
  while (count > 0) {
    unsigned char last = static_cast<unsigned char>(buffer[count - 1]);
    if (last != '.' && last > 0x20) break;
    --count;
  }
  return std::string(buffer, count);
}
