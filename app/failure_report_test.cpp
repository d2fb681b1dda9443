#include "app/failure_report.h"

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

// Standard output that no real system gives here: a handle of unknown type, a write that takes
// less than it was given, a failure that leaves no code. A buffer's worth fails at once, and what
// is left over is lost at the end, which makes the run a failure.
TEST_F(Output, OddStandardOutputFailsTheWrite) {
  const std::pair<void (*)(fake::State&), std::int32_t> cases[] = {
      {[](fake::State& s) { s.stdType = win32::FILE_TYPE_UNKNOWN; }, 103},
      {[](fake::State& s) { s.shortWrite = true; }, 101},
      {[](fake::State& s) { s.writeFails = true; }, 101},
  };
  for (const auto& [arrange, code] : cases) {
    SetUp();
    fake.stdType = win32::FILE_TYPE_DISK;
    arrange(fake);
    try {
      WriteText(std::string(200, 'x'));
      ADD_FAILURE() << "not raised";
    } catch (const EInOutError& error) {
      EXPECT_EQ(error.Code(), code);
    }
    EXPECT_EQ(fake.written.size(), fake.shortWrite ? 127u : 0u);  // a buffer of 128, less one
    EXPECT_EQ(fake.calls, code == 103 ? "c" : "");     // a handle of unknown type is closed
    if (code != 103) WriteText("x");                   // buffered, and lost at the end
    EXPECT_EQ(FinishProcess(0), code == 103 ? 0 : 1);  // never opened: nothing is left to lose
  }
}

}  // namespace
