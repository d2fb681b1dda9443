#include "app/failure_report.h"

#include "app/console.h"
#include "app/presizer_main.h"
#include "tests/fake_win32.h"

namespace {

TEST(FailureReport, AddsAPeriodOnlyWhereMissingAndIsCutAt1024) {
  // clang-format off
  const std::pair<std::string, std::string> cases[] = {
      {"Disk full", "Disk full."}, {"Done.", "Done."}, {"", ""}, {"'%s%n' a.b", "'%s%n' a.b."},
      {std::string(2000, 'z'), std::string(1024 - 53, 'z')}};
  // clang-format on
  for (const auto& [message, tail] : cases) {
    EXPECT_EQ(FormatFailureReport("EConvertError", "m.exe", 0x1A2B, message),
              "Exception EConvertError in module m.exe at 00001A2B.\n" + tail);
  }
  EXPECT_EQ(CodePosition(win32::GetModuleHandleA(nullptr)), 0u);  // counted from the image
}

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
    std::int32_t code;    // of the EInOutError raised
    std::size_t written;  // the bytes the system took
    const char* calls;    // c: the handle was closed
  };
  const Row rows[] = {
      {"NoHandle", false, win32::FILE_TYPE_DISK, fake::Whole, 103, 0, ""},
      {"UnknownType", true, win32::FILE_TYPE_UNKNOWN, fake::Whole, 103, 0, "c"},
      {"ShortWrite", true, win32::FILE_TYPE_DISK, fake::Short, 101, 127, ""},
      {"Fails", true, win32::FILE_TYPE_DISK, fake::Fails, 109, 0, ""},
      {"FailsWithoutCode", true, win32::FILE_TYPE_DISK, fake::FailsWithoutCode, 101, 0, ""},
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
      EXPECT_EQ(error.Code(), row.code) << row.name;
    }
    EXPECT_EQ(FinishProcess(0), 0) << row.name;
    EXPECT_EQ(fake.written.size(), row.written) << row.name;
    EXPECT_EQ(fake.calls, row.calls) << row.name;
  }
}

}  // namespace
