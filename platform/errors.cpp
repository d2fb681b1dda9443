#include "platform/errors.h"

thread_local std::int32_t pendingIoError = 0;

namespace {

std::string Decimal(std::int64_t value) { return std::to_string(value); }

}  // namespace

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
    case kIoDiskFull:
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
  if (code != win32::ERROR_SUCCESS) RaiseWin32Error(code);
}

void RaiseWin32Error(win32::DWORD code) {
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
