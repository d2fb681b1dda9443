#include "app/failure_report.h"

#include "app/fake_system_test.h"
#include "app/size_argument.h"

namespace {

TEST(ReportFormat, AddsAFinalPeriodOnlyWhenMissing) {
  const std::pair<std::string, std::string> cases[] = {
      {"Disk full", "Disk full."},
      {"Done.", "Done."},
      {"", ""},
      {"Win32 Error.  Code: 5.\nAccess denied", "Win32 Error.  Code: 5.\nAccess denied."},
      {"'%s%n%p' bad", "'%s%n%p' bad."},  // the message is never read as a format
  };
  for (const auto& [message, tail] : cases) {
    EXPECT_EQ(FormatFailureReport("EConvertError", "PRESIZER.exe", 0x1A2B, message),
              "Exception EConvertError in module PRESIZER.exe at 00001A2B.\n" + tail);
  }
}

TEST(ReportFormat, IsCutAt1024Characters) {
  std::string report = FormatFailureReport("EConvertError", "m", 0, std::string(2000, 'z'));
  EXPECT_EQ(report.size(), 1024u);
  EXPECT_EQ(report.back(), 'z');
}

using ReportTest = FakeSystemTest;

TEST_F(ReportTest, ModuleNameLosesItsDirectory) {
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\Tools\\PRESIZER.exe", "PRESIZER.exe"},
      {"C:\\Tools\\renamed.exe", "renamed.exe"},
      {"/usr/local/bin/presizer", "presizer"},
      {"bare.exe", "bare.exe"},
  };
  for (const auto& [path, name] : cases) {
    fake.moduleFileName = path;
    EXPECT_EQ(ModuleFileName(), name);
  }
}

TEST_F(ReportTest, PrintsOneLineWithCrLfAndGivesExitCode1) {
  fake.stdFileType = win32::FILE_TYPE_CHAR;
  EConvertError error("'abc' is not a valid integer value");
  EXPECT_EQ(ReportFailure(error), 1);
  EXPECT_EQ(fake.written,
            "Exception EConvertError in module PRESIZER.exe at 00000000.\n"
            "'abc' is not a valid integer value.\r\n");
  EXPECT_EQ(fake.filterCalls, 0);  // no debugger: no crash reporting for a bad size
}

TEST_F(ReportTest, UnwritableReportStillEndsWithExitCode1) {
  fake.stdHandle = nullptr;
  EXPECT_EQ(ReportFailure(Exception("x")), 1);
}

TEST_F(ReportTest, DebuggerSeesTheErrorFirst) {
  fake.stdFileType = win32::FILE_TYPE_CHAR;
  fake.debuggerPresent = true;
  fake.filterAnswer = 1;  // handle it: the report follows
  EXPECT_EQ(ReportFailure(Exception("x")), 1);
  EXPECT_EQ(fake.filterCalls, 1);
  EXPECT_NE(fake.written.find("x."), std::string::npos);

  SetUp();
  fake.debuggerPresent = true;
  fake.filterAnswer = win32::EXCEPTION_CONTINUE_SEARCH;  // the system takes over
  EXPECT_THROW(ReportFailure(Exception("x")), win32fake::RaisedException);
  EXPECT_EQ(fake.written, "");
}

}  // namespace
