#include "app/console.h"

#include "app/failure_report.h"
#include "app/presizer_main.h"
#include "tests/fake_win32.h"

namespace {

// Standard output as the scripted system gives it: none at all, a handle of unknown type (closed,
// never written to), a write that takes all but a byte, or one that fails with a code or leaving
// none. A buffer's worth (128 bytes) fails at once, and what did not fit before the failure is
// dropped, so the end of the run finds nothing left to write.
struct OutputRow {
  const char* name;
  bool hasHandle;
  win32::DWORD type;  // what the system says the handle is
  fake::Write write;
  const char* message;  // of the EInOutError raised
  std::size_t written;  // the bytes the system took
  const char* calls;    // c: the handle was closed
};
void PrintTo(const OutputRow& row, std::ostream* out) { *out << row.name; }

const OutputRow kOutputRows[] = {
    {"NoHandle", false, win32::FILE_TYPE_DISK, fake::Whole, "I/O error 103", 0, ""},
    {"UnknownType", true, win32::FILE_TYPE_UNKNOWN, fake::Whole, "I/O error 103", 0, "c"},
    {"ShortWrite", true, win32::FILE_TYPE_DISK, fake::Short, "Disk full", 127, ""},
    {"Fails", true, win32::FILE_TYPE_DISK, fake::Fails, "I/O error 109", 0, ""},
    {"FailsWithoutCode", true, win32::FILE_TYPE_DISK, fake::FailsWithoutCode, "Disk full", 0, ""},
};

class Output : public fake::Test, public testing::WithParamInterface<OutputRow> {};

TEST_P(Output, OddStandardOutputFailsTheWrite) {
  const OutputRow& row = GetParam();
  fake.hasStandardOutput = row.hasHandle;
  fake.stdType = row.type;
  fake.write = row.write;
  try {
    WriteText(std::string(200, 'x'));
    ADD_FAILURE() << "not raised";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.Message(), row.message);
  }
  EXPECT_EQ(FinishProcess(0), 0);
  EXPECT_EQ(fake.written.size(), row.written);
  EXPECT_EQ(fake.calls, row.calls);
}
INSTANTIATE_TEST_SUITE_P(StandardOutput, Output, testing::ValuesIn(kOutputRows),
                         testing::PrintToStringParamName());

// The report's own rules, on messages no system gives: the final period, a message copied as
// text and never read as a format, and the cut at 1024 characters.
const std::string kHeader = "Exception EKind in module m.exe at 0000ABCD.\n";

struct ReportRow {
  const char* name;
  std::string message;
  std::string report;
};
void PrintTo(const ReportRow& row, std::ostream* out) { *out << row.name; }

const ReportRow kReportRows[] = {
    {"PeriodAdded", "No text", kHeader + "No text."},
    {"FormatCopiedAsText", "%s%n%x.", kHeader + "%s%n%x."},
    {"CutAt1024", std::string(2000, 'x'), kHeader + std::string(1024 - kHeader.size(), 'x')},
};

class Report : public testing::TestWithParam<ReportRow> {};

TEST_P(Report, IsTheExactWords) {
  EXPECT_EQ(FormatFailureReport("EKind", "m.exe", 0xABCD, GetParam().message), GetParam().report);
}
INSTANTIATE_TEST_SUITE_P(Messages, Report, testing::ValuesIn(kReportRows),
                         testing::PrintToStringParamName());

}  // namespace
