// A scripted stand-in for the whole seam, linked into the unit tests instead of the real one.
// Each test sets up the answers it needs in win32fake::state and reads back what was called.
#ifndef PRESIZER_PLATFORM_WIN32_FAKE_H_
#define PRESIZER_PLATFORM_WIN32_FAKE_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace win32fake {

inline win32::HANDLE Handle(std::uintptr_t value) { return reinterpret_cast<win32::HANDLE>(value); }
inline const win32::HANDLE kFileHandle = Handle(0x100);
inline const win32::HANDLE kStdOutHandle = Handle(0x200);
inline const win32::HANDLE kTokenHandle = Handle(0x300);

// Thrown by the fake RaiseException, which must not return.
struct RaisedException {
  win32::DWORD code;
};

struct State {
  std::vector<std::string> calls;  // one entry per seam call, in order
  win32::DWORD lastError = 0;

  // The one file. Its name decides nothing; the scripted errors do.
  win32::DWORD openError = 0;    // CreateFileA with OPEN_EXISTING fails with this code
  win32::DWORD createError = 0;  // CreateFileA with CREATE_ALWAYS fails with this code
  std::vector<win32::DWORD> createDispositions;
  std::vector<win32::DWORD> createAccess;
  std::vector<win32::DWORD> createShare;
  std::string lastFileName;
  std::int64_t fileSize = 0;
  std::int64_t position = 0;
  win32::DWORD sizeError = 0;                  // GetFileSize fails with this code
  win32::DWORD seekError = 0;                  // SetFilePointer fails with this code
  win32::DWORD setEndError = 0;                // SetEndOfFile fails with this code
  win32::DWORD setEndErrorFromSecondCall = 0;  // ... from its second call on
  int setEndCalls = 0;

  // The valid-data call.
  bool hasSetFileValidData = true;
  win32::BOOL validDataResult = win32::TRUE;
  std::vector<std::int64_t> validDataLengths;

  // Standard output.
  win32::HANDLE stdHandle = kStdOutHandle;
  win32::DWORD stdFileType = win32::FILE_TYPE_PIPE;
  win32::DWORD writeError = 0;  // WriteFile fails with this code
  std::string written;          // every byte handed to WriteFile
  std::vector<std::size_t> writeSizes;
  int stdHandleCloses = 0;

  // System messages by code; a code not listed has none.
  std::map<win32::DWORD, std::string> messages;

  // Module and debugger.
  std::string moduleFileName = "C:\\Tools\\PRESIZER.exe";
  bool debuggerPresent = false;
  win32::LONG filterAnswer = 1;
  int filterCalls = 0;

  // The token.
  bool tokenOpenFails = false;
  win32::DWORD sizeQueryError = win32::ERROR_INSUFFICIENT_BUFFER;
  bool tokenReadFails = false;
  win32::BOOL adjustResult = win32::TRUE;
  win32::DWORD adjustError = 0;
  std::vector<win32::LUID_AND_ATTRIBUTES> privileges;  // what the token holds
  std::vector<win32::LUID_AND_ATTRIBUTES> adjusted;    // the list AdjustTokenPrivileges received
  int adjustCalls = 0;
  const void* tokenBuffer = nullptr;  // the buffer GetTokenInformation filled
  int tokenCloses = 0;
};

extern State state;
extern win32::DWORD platformId;  // what GetVersionExA reports

void Reset();

// How often `call` appears in the log, and where it first appears (-1 when absent).
int CountCalls(const std::string& call);
int FirstCall(const std::string& call);

}  // namespace win32fake

#endif  // PRESIZER_PLATFORM_WIN32_FAKE_H_
