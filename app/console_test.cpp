#include "app/console.h"

#include "app/presizer_main.h"
#include "tests/fake_win32.h"

namespace {

using Output = fake::Test;

// Standard output as the scripted system gives it: none at all, a handle of unknown type (closed,
// never written to), a write that takes all but a byte, or one that fails with a code or leaving
// none. A buffer's worth (128 bytes) fails at once, and what did not fit before the failure is
// dropped, so the end of the run finds nothing left to write.
TEST_F(Output, OddStandardOutputFailsTheWrite) {
  struct Row {
    const char* name;
    bool hasHandle;
    win32::DWORD type;  // what the system says the handle is
    fake::Write write;
    const char* message;  // of the EInOutError raised
    std::size_t written;  // the bytes the system took
    const char* calls;    // c: the handle was closed
  };
  const Row rows[] = {
      {"NoHandle", false, win32::FILE_TYPE_DISK, fake::Whole, "I/O error 103", 0, ""},
      {"UnknownType", true, win32::FILE_TYPE_UNKNOWN, fake::Whole, "I/O error 103", 0, "c"},
      {"ShortWrite", true, win32::FILE_TYPE_DISK, fake::Short, "Disk full", 127, ""},
      {"Fails", true, win32::FILE_TYPE_DISK, fake::Fails, "I/O error 109", 0, ""},
      {"FailsWithoutCode", true, win32::FILE_TYPE_DISK, fake::FailsWithoutCode, "Disk full", 0, ""},
  };
  for (const Row& row : rows) {
    SetUp();
    fake.hasStandardOutput = row.hasHandle;
    fake.stdType = row.type;
    fake.write = row.write;
    try {
      WriteText(std::string(200, 'x'));
      ADD_FAILURE() << row.name << ": not raised";
    } catch (const EInOutError& error) {
      EXPECT_EQ(error.Message(), row.message) << row.name;
    }
    EXPECT_EQ(FinishProcess(0), 0) << row.name;
    EXPECT_EQ(fake.written.size(), row.written) << row.name;
    EXPECT_EQ(fake.calls, row.calls) << row.name;
  }
}

}  // namespace
