#include "tests/fake_win32.h"

#include <cstring>
#include <new>

namespace fake {
State state;
}  // namespace fake

namespace win32 {
namespace {

using fake::state;
char image, kernel32, token, file, standardOutput;

BOOL Fail(DWORD code) {
  state.lastError = code;
  return FALSE;
}

}  // namespace

const char* GetCommandLineA() {
  if (state.outOfMemory) throw std::bad_alloc();
  return state.commandLine;
}
const WCHAR* GetCommandLineW() { return state.wideCommandLine.c_str(); }
DWORD GetACP() { return state.codePage; }
// As the system does: the text ends in its NUL, a buffer is asked for by size first, and UTF-8
// takes no used-default flag and fails on half a surrogate pair.
int WideCharToMultiByte(DWORD page, DWORD, const WCHAR* wide, int count, char* narrow, int size,
                        const char*, BOOL* usedDefault) {
  const std::u16string text(wide);
  if (count != -1 || (!narrow && size) ||
      (page == CP_UTF8 && (usedDefault || text.find(u'\xD800') != text.npos))) {
    return Fail(87);
  }
  for (std::size_t i = 0; narrow && i <= text.size() && i < static_cast<std::size_t>(size); ++i) {
    narrow[i] = text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    if (text[i] >= 0x80 && usedDefault) *usedDefault = TRUE;
  }
  return static_cast<int>(text.size() + 1);
}
HANDLE GetCurrentProcess() { return nullptr; }
BOOL IsDebuggerPresent() { return FALSE; }
LONG UnhandledExceptionFilter(DWORD, const void*) { return 1; }
void RaiseException(DWORD) { throw 0; }
HMODULE GetModuleHandleA(const char* name) { return name ? &kernel32 : &image; }
BOOL SetFileValidData(HANDLE, LONGLONG length) {
  state.calls += 'v';
  return state.validData == fake::Granted && length == state.fileSize ? TRUE : Fail(5);
}
FARPROC GetProcAddress(HMODULE, const char* name) {
  bool found = std::strcmp(name, "SetFileValidData") == 0 && state.validData != fake::Missing;
  return found ? reinterpret_cast<FARPROC>(&SetFileValidData) : nullptr;
}
DWORD GetModuleFileNameA(HMODULE, char*, DWORD) { return 0; }
BOOL GetVersionExA(OSVERSIONINFOA*) { return FALSE; }

HANDLE CreateFileA(const char*, DWORD, DWORD, void*, DWORD disposition, DWORD, HANDLE) {
  // The file as the system has it when asked: a row that opens a missing file sets its size 0,
  // one whose file another program made between the open and the create sets that file's size.
  state.calls += 'o';
  if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) state.fileSize = 0;
  state.lastError = disposition == OPEN_EXISTING ? state.openError : 0;
  return state.lastError ? InvalidHandleValue() : &file;
}
DWORD GetFileSize(HANDLE, DWORD* high) {
  *high = 0;
  return static_cast<DWORD>(state.fileSize);
}
DWORD SetFilePointer(HANDLE, LONG low, LONG*, DWORD) {
  state.position = low;
  return static_cast<DWORD>(low);
}
BOOL SetEndOfFile(HANDLE) {
  state.calls += 'e';
  state.fileSize = state.position;
  return TRUE;
}
BOOL CloseHandle(HANDLE object) {
  state.calls += object == &token ? 'x' : 'c';
  return TRUE;
}
// Every run has its turn at once here; the case table holds a file as another run would.
BOOL LockFileEx(HANDLE, DWORD, DWORD, DWORD, DWORD, OVERLAPPED*) { return TRUE; }
void Sleep(DWORD) {}
HANDLE GetStdHandle(DWORD) { return state.hasStandardOutput ? &standardOutput : nullptr; }
DWORD GetFileType(HANDLE) { return state.stdType; }
BOOL WriteFile(HANDLE, const void* bytes, DWORD count, DWORD* written, void*) {
  if (state.write == fake::Fails) return Fail(109);
  if (state.write == fake::FailsWithoutCode) return Fail(0);
  *written = state.write == fake::Short ? count - 1 : count;
  state.written.append(static_cast<const char*>(bytes), *written);
  return TRUE;
}
DWORD GetLastError() { return state.lastError; }
void SetLastError(DWORD code) { state.lastError = code; }
// Every code has the same text here, worded as the system words it: a sentence that ends in a
// period, a space and a line end.
DWORD FormatMessageA(DWORD, const void*, DWORD, DWORD, char* buffer, DWORD size, void*) {
  const char text[] = "Text of the code. \r\n";
  if (size < sizeof text) return 0;
  std::memcpy(buffer, text, sizeof text);
  return sizeof text - 1;
}

// A token of two privileges, both off: the adjustment is logged as 'a' only when it turns both
// on, else as 'A'. The seam test reads the real tokens.
BOOL OpenProcessToken(HANDLE, DWORD access, HANDLE* handle) {
  state.calls += 't';
  *handle = &token;
  return access == (TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY) ? TRUE : Fail(5);
}
BOOL GetTokenInformation(HANDLE, int, void* buffer, DWORD length, DWORD* needed) {
  *needed = 4 + 2 * 12;  // a count, then two entries of a LUID and attributes
  if (buffer == nullptr || length < *needed) return Fail(122);
  // Every byte 1: a count far past the two entries there are, and attributes that hold the
  // enabled-by-default flag alone.
  std::memset(buffer, 1, *needed);
  return TRUE;
}
BOOL AdjustTokenPrivileges(HANDLE, BOOL disableAll, TOKEN_PRIVILEGES* list, DWORD,
                           TOKEN_PRIVILEGES*, DWORD*) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(list);
  state.calls += bytes[4 + 8] & bytes[4 + 12 + 8] & SE_PRIVILEGE_ENABLED ? 'a' : 'A';
  return disableAll ? Fail(87) : TRUE;
}

}  // namespace win32
