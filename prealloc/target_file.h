// The one file the tool resizes, and the operations on it.
//
// Opening, creating and setting the end never raise: a failure leaves its code in pendingIoError,
// and the caller follows each of them with CheckIoError. Reading the size and positioning raise
// EWin32Error at once.
#ifndef PRESIZER_PREALLOC_TARGET_FILE_H_
#define PRESIZER_PREALLOC_TARGET_FILE_H_

#include <cstdint>
#include <string>

#include "platform/win32.h"

struct TargetFile {
  enum class State { Closed, OpenReadWrite };

  // The whole name as given. It is never cut: a shortened name would resize another file.
  std::string name;
  win32::HANDLE handle = nullptr;
  State state = State::Closed;
};

// Selects the access of the open and the sharing of open and create; 2 is reading and writing.
extern std::uint8_t fileOpenMode;

void AssignTargetFile(TargetFile& file, const std::string& name);
void OpenTargetFile(TargetFile& file);
void CreateTargetFile(TargetFile& file);
void OpenOrCreateTargetFile(TargetFile& file);
void SetFileEnd(TargetFile& file);
std::int64_t GetFileSize64(TargetFile& file);
void SeekFile64(TargetFile& file, std::int64_t offset);

#endif  // PRESIZER_PREALLOC_TARGET_FILE_H_
