#include "tests/fake_win32.h"

#include <cstring>
#include <new>
#include <string>

fake::State fake::state;

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
// As the system does: the text ends in its NUL, and a buffer is asked for by size first. In the
// legacy code page the look-alike quote U+FF02 fits to '"' unless best fit is turned off; every
// other character above 0x7F is the default '?', which sets the used-default flag. UTF-8 takes no
// used-default flag and no flag but WC_ERR_INVALID_CHARS, without which half a surrogate pair
// becomes U+FFFD instead of failing.
int WideCharToMultiByte(DWORD page, DWORD flags, const WCHAR* wide, int count, char* narrow,
                        int size, const char*, BOOL* usedDefault) {
  const bool utf8 = page == CP_UTF8;
  if (count != -1 || (!narrow && size) || (utf8 && usedDefault)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  // The system names this one ERROR_INVALID_FLAGS; the tool reads no code here.
  if (utf8 && (flags & ~WC_ERR_INVALID_CHARS) != 0) return Fail(ERROR_INVALID_PARAMETER);
  std::string text;
  for (const WCHAR* c = wide; *c != u'\0'; ++c) {
    if (*c < 0x80) {
      text += static_cast<char>(*c);
    } else if (utf8 && *c >= 0xD800 && *c <= 0xDFFF) {
      if (flags & WC_ERR_INVALID_CHARS) return Fail(ERROR_NO_UNICODE_TRANSLATION);
      text += "\xEF\xBF\xBD";
    } else if (page == fake::kJapanese && *c == u'\u30BD') {
      text += "\x83\x5C";  // katakana so: its second byte is a backslash's
    } else if (!utf8 && *c == u'\xFF02' && !(flags & WC_NO_BEST_FIT_CHARS)) {
      text += '"';
    } else {
      text += '?';
      if (usedDefault) *usedDefault = TRUE;
    }
  }
  const int needed = static_cast<int>(text.size() + 1);
  if (narrow && size < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (narrow) std::memcpy(narrow, text.c_str(), text.size() + 1);
  return needed;
}
HANDLE GetCurrentProcess() { return nullptr; }
BOOL IsDebuggerPresent() { return FALSE; }
LONG UnhandledExceptionFilter(DWORD, const void*) { return 1; }
void RaiseException(DWORD) { throw 0; }
HMODULE GetModuleHandleA(const char* name) { return name ? &kernel32 : &image; }
BOOL SetFileValidData(HANDLE, LONGLONG length) {
  state.calls += 'v';
  return state.validData == fake::Granted && length == state.fileSize ? TRUE
                                                                      : Fail(ERROR_ACCESS_DENIED);
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
  if (state.write == fake::Fails) return Fail(ERROR_BROKEN_PIPE);
  if (state.write == fake::FailsWithoutCode) return Fail(ERROR_SUCCESS);
  *written = state.write == fake::Short ? count - 1 : count;
  state.written.append(static_cast<const char*>(bytes), *written);
  return TRUE;
}
DWORD GetLastError() { return state.lastError; }
// Every code has the same text here, worded as the system words it: a sentence that ends in a
// period, a space and a line end.
DWORD FormatMessageA(DWORD, const void*, DWORD, DWORD, char* buffer, DWORD size, void*) {
  const char text[] = "Text of the code. \r\n";
  if (size < sizeof text) return 0;
  std::memcpy(buffer, text, sizeof text);
  return sizeof text - 1;
}

// A token of two privileges, both off: the adjustment is logged as 'a' only when it turns both
// on, else as 'A', and as 'D' when it disables them all, which the system does without a word.
// The seam test reads the real tokens.
BOOL OpenProcessToken(HANDLE, DWORD access, HANDLE* handle) {
  state.calls += 't';
  *handle = &token;
  return access == (TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY) ? TRUE : Fail(ERROR_ACCESS_DENIED);
}
BOOL GetTokenInformation(HANDLE, int, void* buffer, DWORD length, DWORD* needed) {
  *needed = 4 + 2 * 12;  // a count, then two entries of a LUID and attributes
  if (buffer == nullptr || length < *needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  // Every byte 1: a count far past the two entries there are, and attributes that hold the
  // enabled-by-default flag alone.
  std::memset(buffer, 1, *needed);
  return TRUE;
}
BOOL AdjustTokenPrivileges(HANDLE, BOOL disableAll, TOKEN_PRIVILEGES* list, DWORD,
                           TOKEN_PRIVILEGES*, DWORD*) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(list);
  if (disableAll) {
    state.calls += 'D';
  } else {
    state.calls += bytes[4 + 8] & bytes[4 + 12 + 8] & SE_PRIVILEGE_ENABLED ? 'a' : 'A';
  }
  return TRUE;
}

}  // namespace win32
