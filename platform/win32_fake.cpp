#include "platform/win32_fake.h"

#include <algorithm>
#include <cstring>

namespace win32fake {

State state;
win32::DWORD platformId = win32::VER_PLATFORM_WIN32_NT;

void Reset() { state = State{}; }

int CountCalls(const std::string& call) {
  return static_cast<int>(std::count(state.calls.begin(), state.calls.end(), call));
}

int FirstCall(const std::string& call) {
  auto it = std::find(state.calls.begin(), state.calls.end(), call);
  return it == state.calls.end() ? -1 : static_cast<int>(it - state.calls.begin());
}

namespace {
char imageBase;
char kernel32;
void Log(const char* call) { state.calls.emplace_back(call); }
}  // namespace

}  // namespace win32fake

namespace win32 {

using win32fake::Log;
using win32fake::state;

const char* GetCommandLineA() { return nullptr; }

HANDLE GetCurrentProcess() { return InvalidHandleValue(); }

BOOL IsDebuggerPresent() { return state.debuggerPresent ? TRUE : FALSE; }

LONG UnhandledExceptionFilter(DWORD, const void*) {
  Log("UnhandledExceptionFilter");
  ++state.filterCalls;
  return state.filterAnswer;
}

void RaiseException(DWORD exceptionCode) {
  Log("RaiseException");
  throw win32fake::RaisedException{exceptionCode};
}

HMODULE GetModuleHandleA(const char* moduleName) {
  if (moduleName == nullptr) return &win32fake::imageBase;
  Log("GetModuleHandleA");
  return std::strcmp(moduleName, "kernel32.dll") == 0 ? &win32fake::kernel32 : nullptr;
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
  Log("GetProcAddress");
  if (module == &win32fake::kernel32 && std::strcmp(procName, "SetFileValidData") == 0 &&
      state.hasSetFileValidData) {
    return reinterpret_cast<FARPROC>(&SetFileValidData);
  }
  state.lastError = 127;
  return nullptr;
}

DWORD GetModuleFileNameA(HMODULE, char* fileName, DWORD size) {
  std::size_t length = std::min<std::size_t>(state.moduleFileName.size(), size - 1);
  std::memcpy(fileName, state.moduleFileName.data(), length);
  fileName[length] = '\0';
  return static_cast<DWORD>(length);
}

BOOL GetVersionExA(OSVERSIONINFOA* versionInfo) {
  versionInfo->dwPlatformId = win32fake::platformId;
  return TRUE;
}

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, void*,
                   DWORD creationDisposition, DWORD, HANDLE) {
  Log(creationDisposition == CREATE_ALWAYS ? "CreateFileA(CREATE_ALWAYS)"
                                           : "CreateFileA(OPEN_EXISTING)");
  state.lastFileName = fileName;
  state.createDispositions.push_back(creationDisposition);
  state.createAccess.push_back(desiredAccess);
  state.createShare.push_back(shareMode);
  DWORD error = creationDisposition == CREATE_ALWAYS ? state.createError : state.openError;
  if (error != 0) {
    state.lastError = error;
    return InvalidHandleValue();
  }
  if (creationDisposition == CREATE_ALWAYS) state.fileSize = 0;
  state.position = 0;
  return win32fake::kFileHandle;
}

DWORD GetFileSize(HANDLE, DWORD* fileSizeHigh) {
  Log("GetFileSize");
  if (state.sizeError != 0) {
    state.lastError = state.sizeError;
    return INVALID_FILE_SIZE;
  }
  auto bits = static_cast<std::uint64_t>(state.fileSize);
  *fileSizeHigh = static_cast<DWORD>(bits >> 32);
  DWORD low = static_cast<DWORD>(bits & 0xFFFFFFFFu);
  if (low == INVALID_FILE_SIZE) state.lastError = 0;
  return low;
}

DWORD SetFilePointer(HANDLE, LONG distanceToMove, LONG* distanceToMoveHigh, DWORD) {
  Log("SetFilePointer");
  auto bits = (static_cast<std::uint64_t>(static_cast<DWORD>(*distanceToMoveHigh)) << 32) |
              static_cast<DWORD>(distanceToMove);
  auto offset = static_cast<std::int64_t>(bits);
  if (offset < 0) {
    state.lastError = ERROR_NEGATIVE_SEEK;
    return INVALID_SET_FILE_POINTER;
  }
  state.position = offset;
  DWORD low = static_cast<DWORD>(bits & 0xFFFFFFFFu);
  if (low == INVALID_SET_FILE_POINTER) state.lastError = 0;
  return low;
}

BOOL SetEndOfFile(HANDLE) {
  Log("SetEndOfFile");
  ++state.setEndCalls;
  DWORD error = state.setEndError;
  if (error == 0 && state.setEndCalls >= 2) error = state.setEndErrorFromSecondCall;
  if (error != 0) {
    state.lastError = error;
    return FALSE;
  }
  state.fileSize = state.position;
  return TRUE;
}

BOOL SetFileValidData(HANDLE, LONGLONG validDataLength) {
  Log("SetFileValidData");
  state.validDataLengths.push_back(validDataLength);
  return state.validDataResult;
}

BOOL CloseHandle(HANDLE object) {
  if (object == win32fake::kTokenHandle) {
    Log("CloseHandle(token)");
    ++state.tokenCloses;
  } else if (object == state.stdHandle) {
    Log("CloseHandle(stdout)");
    ++state.stdHandleCloses;
  } else {
    Log("CloseHandle");
  }
  return TRUE;
}

HANDLE GetStdHandle(DWORD) {
  Log("GetStdHandle");
  return state.stdHandle;
}

DWORD GetFileType(HANDLE) { return state.stdFileType; }

BOOL WriteFile(HANDLE, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten, void*) {
  Log("WriteFile");
  state.writeSizes.push_back(bytesToWrite);
  if (state.writeError != 0) {
    state.lastError = state.writeError;
    *bytesWritten = 0;
    return FALSE;
  }
  state.written.append(static_cast<const char*>(buffer), bytesToWrite);
  *bytesWritten = bytesToWrite;
  return TRUE;
}

DWORD GetLastError() { return state.lastError; }

void SetLastError(DWORD errorCode) { state.lastError = errorCode; }

DWORD FormatMessageA(DWORD, const void*, DWORD messageId, DWORD, char* buffer, DWORD size, void*) {
  auto it = state.messages.find(messageId);
  if (it == state.messages.end() || it->second.size() >= size) return 0;
  std::memcpy(buffer, it->second.c_str(), it->second.size() + 1);
  return static_cast<DWORD>(it->second.size());
}

BOOL OpenProcessToken(HANDLE, DWORD desiredAccess, HANDLE* tokenHandle) {
  Log("OpenProcessToken");
  if (state.tokenOpenFails || desiredAccess != (TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY)) {
    state.lastError = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  *tokenHandle = win32fake::kTokenHandle;
  return TRUE;
}

BOOL GetTokenInformation(HANDLE, int informationClass, void* information, DWORD informationLength,
                         DWORD* returnLength) {
  Log("GetTokenInformation");
  const DWORD needed =
      static_cast<DWORD>(sizeof(DWORD) + state.privileges.size() * sizeof(LUID_AND_ATTRIBUTES));
  *returnLength = needed;
  if (information != nullptr) state.tokenBuffer = information;
  if (informationClass != TokenPrivileges) {
    state.lastError = 87;
    return FALSE;
  }
  if (information == nullptr || informationLength < needed) {
    state.lastError = state.sizeQueryError;
    return FALSE;
  }
  if (state.tokenReadFails) {
    state.lastError = ERROR_ACCESS_DENIED;
    return FALSE;
  }
  auto* bytes = static_cast<unsigned char*>(information);
  DWORD count = static_cast<DWORD>(state.privileges.size());
  std::memcpy(bytes, &count, sizeof count);
  if (count != 0) {
    std::memcpy(bytes + sizeof count, state.privileges.data(),
                state.privileges.size() * sizeof(LUID_AND_ATTRIBUTES));
  }
  return TRUE;
}

BOOL AdjustTokenPrivileges(HANDLE, BOOL disableAllPrivileges, TOKEN_PRIVILEGES* newState,
                           DWORD bufferLength, TOKEN_PRIVILEGES* previousState,
                           DWORD* returnLength) {
  Log("AdjustTokenPrivileges");
  ++state.adjustCalls;
  if (disableAllPrivileges || bufferLength != 0 || previousState || returnLength) {
    state.lastError = 87;
    return FALSE;
  }
  auto* bytes = reinterpret_cast<const unsigned char*>(newState);
  DWORD count = 0;
  std::memcpy(&count, bytes, sizeof count);
  state.adjusted.resize(count);
  if (count != 0) {
    std::memcpy(state.adjusted.data(), bytes + sizeof count, count * sizeof(LUID_AND_ATTRIBUTES));
  }
  state.lastError = state.adjustError;
  return state.adjustResult;
}

}  // namespace win32
