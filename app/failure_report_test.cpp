#include "app/failure_report.h"

#include "app/console.h"
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

// Standard output that no real system gives here. A buffer's worth (128 bytes) fails at once; a
// handle of unknown type is closed and never written to.
TEST_F(Output, OddStandardOutputFailsTheWrite) {
  struct Row {
    const char* name;
    win32::DWORD type;  // what the system says the handle is
    fake::Write write;
    std::int32_t code;    // of the EInOutError raised
    std::size_t written;  // the bytes the system took
    const char* calls;    // c: the handle was closed
  };
  const Row rows[] = {
      {"UnknownType", win32::FILE_TYPE_UNKNOWN, fake::Whole, 103, 0, "c"},
      {"ShortWrite", win32::FILE_TYPE_DISK, fake::Short, 101, 127, ""},
      {"FailsWithoutCode", win32::FILE_TYPE_DISK, fake::FailsWithoutCode, 101, 0, ""},
  };
  for (const Row& row : rows) {
    SetUp();
    fake.stdType = row.type;
    fake.write = row.write;
    try {
      WriteText(std::string(200, 'x'));
      ADD_FAILURE() << row.name << ": not raised";
    } catch (const EInOutError& error) {
      EXPECT_EQ(error.Code(), row.code) << row.name;
    }
    EXPECT_EQ(fake.written.size(), row.written) << row.name;
    EXPECT_EQ(fake.calls, row.calls) << row.name;
  }
}

}  // namespace
