#include "prealloc/preallocate.h"

#include "platform/errors.h"

namespace {

win32::DWORD ReadPlatformFamily() {
  win32::OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  return win32::GetVersionExA(&info) ? info.dwPlatformId : 0;
}

void SetSize(TargetFile& file, std::int64_t size) {
  SeekFile64(file, size);
  SetFileEnd(file);
  CheckIoError();
}

}  // namespace

win32::DWORD platformFamily = ReadPlatformFamily();

void PreallocateFile(TargetFile& file, bool allowFastPath, std::int64_t requestedSize,
                     const ProgressOutput& output) {
  const std::int64_t currentSize = GetFileSize64(file);
  if (requestedSize == currentSize) {
    output.say("File Already Has This Size");
    return;
  }
  output.say("File Preallocation...");

  bool fastPath = currentSize < requestedSize && platformFamily == win32::VER_PLATFORM_WIN32_NT &&
                  allowFastPath;
  if (!fastPath) {
    SetSize(file, requestedSize);
    output.sayLine("Ok");
    return;
  }

  // Looked up when needed: older systems do not have the call at all.
  auto setFileValidData = reinterpret_cast<win32::SetFileValidDataProc>(
      win32::GetProcAddress(win32::GetModuleHandleA("kernel32.dll"), "SetFileValidData"));
  if (setFileValidData == nullptr) {
    output.sayLine("Fail");
    return;
  }
  SetSize(file, requestedSize);
  if (setFileValidData(file.handle, requestedSize)) {
    output.sayLine("Ok");
    return;
  }
  // Refused, usually for want of the privilege: give the file back its old length.
  SetSize(file, currentSize);
  output.sayLine("Fail");
}
