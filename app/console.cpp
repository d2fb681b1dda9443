#include "app/console.h"

#include <cstddef>
#include <cstring>

#include "platform/errors.h"
#include "platform/win32.h"

namespace {

constexpr std::size_t kBufferSize = 128;

struct StandardOutput {
  bool open = false;
  bool console = false;
  win32::HANDLE handle = nullptr;
  char buffer[kBufferSize];
  std::size_t used = 0;
};

StandardOutput channel;

bool OpenChannel() {
  win32::HANDLE handle = win32::GetStdHandle(win32::STD_OUTPUT_HANDLE);
  if (handle == nullptr || handle == win32::InvalidHandleValue()) return false;
  win32::DWORD type = win32::GetFileType(handle);
  if (type == win32::FILE_TYPE_UNKNOWN) {
    win32::CloseHandle(handle);
    return false;
  }
  channel.open = true;
  channel.console = type == win32::FILE_TYPE_CHAR;
  channel.handle = handle;
  channel.used = 0;
  return true;
}

// Writes the buffered bytes; the buffer is emptied whether or not the system took them.
bool WriteBuffer() {
  if (channel.used == 0) return true;
  win32::DWORD count = static_cast<win32::DWORD>(channel.used);
  win32::DWORD written = 0;
  channel.used = 0;
  if (!win32::WriteFile(channel.handle, channel.buffer, count, &written, nullptr)) {
    pendingIoError = static_cast<std::int32_t>(win32::GetLastError());
    if (pendingIoError == 0) pendingIoError = kIoDiskFull;
    return false;
  }
  if (written != count) {
    pendingIoError = kIoDiskFull;
    return false;
  }
  return true;
}

void Put(std::string_view text) {
  while (!text.empty()) {
    std::size_t room = kBufferSize - channel.used;
    std::size_t take = text.size() < room ? text.size() : room;
    std::memcpy(channel.buffer + channel.used, text.data(), take);
    channel.used += take;
    text.remove_prefix(take);
    if (channel.used == kBufferSize && !WriteBuffer()) return;
  }
}

void Write(std::string_view text, bool lineEnd) {
  if (!channel.open && !OpenChannel()) {
    pendingIoError = kIoFileNotOpen;
  } else {
    Put(text);
    if (pendingIoError == 0 && lineEnd) Put("\r\n");
    if (pendingIoError == 0 && channel.console) WriteBuffer();
  }
  CheckIoError();
}

}  // namespace

void WriteText(std::string_view text) { Write(text, false); }

void WriteLine(std::string_view text) { Write(text, true); }

bool FlushStandardOutputAtExit() {
  if (!channel.open) return true;
  bool ok = WriteBuffer();
  pendingIoError = 0;  // nothing is left to report it to
  return ok;
}

void ResetStandardOutputForTesting() { channel = StandardOutput{}; }
