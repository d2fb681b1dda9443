#include "prealloc/target_file.h"

#include "app/fake_system_test.h"
#include "prealloc/errors.h"

namespace {

using TargetFileTest = FakeSystemTest;

TEST_F(TargetFileTest, CheckIoErrorRaisesOnceAndClears) {
  CheckIoError();  // nothing pending: nothing happens
  pendingIoError = 5;
  try {
    CheckIoError();
    FAIL() << "nothing raised";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.Code(), 5);
    EXPECT_EQ(error.Message(), "File access denied");
  }
  EXPECT_EQ(pendingIoError, 0);
  EXPECT_NO_THROW(CheckIoError());
}

struct TrimCase {
  std::string systemText;
  std::string trimmed;
};

TEST_F(TargetFileTest, SystemTextLosesTrailingPeriodsAndControls) {
  const TrimCase cases[] = {
      {"Access is denied.\r\n", "Access is denied"},
      {"Several . . .. \t.\r\n", "Several"},
      {"No trailer", "No trailer"},
      {"...", ""},
      {"Ends in high \xe9", "Ends in high \xe9"},
      {"Ends in high \xe9.\x7f", "Ends in high \xe9.\x7f"},  // DEL is not a control here
  };
  for (const TrimCase& c : cases) {
    fake.messages[42] = c.systemText;
    EXPECT_EQ(SystemErrorText(42), c.trimmed);
  }
  EXPECT_EQ(SystemErrorText(43), "");  // the system has no text
}

TEST_F(TargetFileTest, Win32ErrorMessageHasTwoLines) {
  fake.messages[5] = "Access is denied.\r\n";
  const std::pair<win32::DWORD, std::string> cases[] = {
      {5, "Win32 Error.  Code: 5.\nAccess is denied"},
      {999, "Win32 Error.  Code: 999.\n"},
      {0xC0000005u, "Win32 Error.  Code: -1073741819.\n"},
  };
  for (const auto& [code, message] : cases) {
    fake.lastError = code;
    try {
      CheckLastError();
      ADD_FAILURE() << "nothing raised for " << code;
    } catch (const EWin32Error& error) {
      EXPECT_EQ(error.Message(), message);
      EXPECT_EQ(error.Code(), code);
    }
  }
  fake.lastError = 0;
  EXPECT_NO_THROW(CheckLastError());
}

TEST_F(TargetFileTest, AllOnesLowHalfIsARealSizeWhenTheErrorIsZero) {
  TargetFile file;
  const std::int64_t sizes[] = {0, 4294967295LL, 4294967296LL, 0x7FFFFFFFFFFFFFFFLL, 0x1FFFFFFFFLL};
  for (std::int64_t size : sizes) {
    fake.fileSize = size;
    fake.lastError = 0;
    EXPECT_EQ(GetFileSize64(file), size);
  }
  fake.sizeError = 6;
  EXPECT_THROW(GetFileSize64(file), EWin32Error);
}

TEST_F(TargetFileTest, SeekSplitsTheOffsetIntoHalves) {
  TargetFile file;
  const std::int64_t offsets[] = {0, 4294967295LL, 4294967296LL, 0x123456789ALL, INT64_MAX};
  for (std::int64_t offset : offsets) {
    SeekFile64(file, offset);
    EXPECT_EQ(fake.position, offset);
  }
  try {
    SeekFile64(file, -1);
    FAIL() << "negative seek accepted";
  } catch (const EWin32Error& error) {
    EXPECT_EQ(error.Code(), win32::ERROR_NEGATIVE_SEEK);
  }
}

TEST_F(TargetFileTest, SetFileEndOnAClosedFileLeaves103) {
  TargetFile file;
  AssignTargetFile(file, "x");
  SetFileEnd(file);
  EXPECT_EQ(pendingIoError, 103);
  EXPECT_EQ(win32fake::CountCalls("SetEndOfFile"), 0);
}

}  // namespace
