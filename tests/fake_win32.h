// A scripted system for the unit tests, linked in place of the real seam, for the branches that
// no real system gives here, or only to root: another platform family, a missing or refusing
// valid-data call, failing opens, odd writes. It logs the calls that matter, a letter each.
#ifndef PRESIZER_TESTS_FAKE_WIN32_H_
#define PRESIZER_TESTS_FAKE_WIN32_H_

#include <gtest/gtest.h>

#include <string>

#include "app/console.h"
#include "platform/errors.h"
#include "platform/win32.h"
#include "prealloc/preallocate.h"
#include "prealloc/target_file.h"

namespace fake {

constexpr win32::DWORD kJapanese = 932;  // a legacy code page of double-byte characters

// What the system has for SetFileValidData: no such call, or one that refuses or grants.
enum ValidData { Missing, Refused, Granted };
// How the system takes a write to standard output: whole, all but a byte, not at all with the
// code of a broken pipe (109), or not at all leaving no code.
enum Write { Whole, Short, Fails, FailsWithoutCode };

struct State {
  std::string calls;  // a letter a call: o(pen or create), e(nd set), v(alid data declared),
                      // t(oken opened), a(djusted: all on; A: not; D: all off),
                      // x (token closed), c(losed otherwise)
  win32::DWORD lastError = 0, stdType = win32::FILE_TYPE_CHAR, codePage = win32::CP_UTF8;
  bool hasStandardOutput = true;  // a process started without one has none
  Write write = Whole;
  ValidData validData = Missing;
  std::int64_t fileSize = 100, position = 0;
  // The command line as the program reads it (none: split by the system) and as the user gave
  // it. The code page between them turns every character above 0x7F into '?'.
  const char* commandLine = nullptr;
  bool outOfMemory = false;  // the command line cannot be copied
  std::u16string wideCommandLine;
  win32::DWORD openError = 0;  // 0: the file opens
  std::string written;
};
extern State state;

// Each test starts from a new process's view of the system.
class Test : public testing::Test {
 protected:
  void SetUp() override {
    state = State{};
    ResetStandardOutputForTesting();
    pendingIoError = 0;
    platformFamily = win32::VER_PLATFORM_WIN32_NT;
  }
  State& fake = state;
};

}  // namespace fake

#endif  // PRESIZER_TESTS_FAKE_WIN32_H_
