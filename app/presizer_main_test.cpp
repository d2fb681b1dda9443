#include "app/presizer_main.h"

#include "app/fake_system_test.h"

namespace {

class MainFlowTest : public FakeSystemTest {
 protected:
  void SetUp() override {
    FakeSystemTest::SetUp();
    fake.stdFileType = win32::FILE_TYPE_CHAR;
  }
  int Run(const std::string& commandLine) {
    return FinishProcess(RunPresizer(Arguments::FromCommandLine(commandLine)));
  }
};

constexpr char kUsage[] =
    "PRESIZER.exe FileName FileSize\r\n"
    "  Fast creation of file on NTFS volume without clearing it\r\n"
    "  $ before FileSize means hexadecimal value\r\n"
    "  Needs high privileges (Admin is Ok)\r\n"
    "  Vista+ have to be executed with elevated privileges\r\n";

TEST_F(MainFlowTest, TooFewArgumentsPrintUsageAndTouchNothing) {
  for (const char* line : {"PRESIZER.exe", "PRESIZER.exe data.bin", "PRESIZER.exe \"\" 10"}) {
    SetUp();
    EXPECT_EQ(Run(line), 255) << line;
    EXPECT_EQ(fake.written, kUsage) << line;
    EXPECT_EQ(fake.createDispositions.size(), 0u) << line;
  }
}

TEST_F(MainFlowTest, PrivilegesAreEnabledOnceBeforeTheFileIsTouched) {
  for (const char* line : {"p f 10", "p f 10 x", "p f abc", "p f -1"}) {
    SetUp();
    fake.privileges.push_back({{17, 0}, 0});
    Run(line);
    EXPECT_EQ(win32fake::CountCalls("OpenProcessToken"), 1) << line;
    EXPECT_EQ(win32fake::CountCalls("AdjustTokenPrivileges"), 1) << line;
    EXPECT_LT(win32fake::FirstCall("AdjustTokenPrivileges"),
              win32fake::FirstCall("CreateFileA(OPEN_EXISTING)"))
        << line;
  }
  SetUp();
  EXPECT_EQ(Run("p only-one"), 255);
  EXPECT_EQ(win32fake::CountCalls("OpenProcessToken"), 0);
}

TEST_F(MainFlowTest, RedirectedUsageIsWrittenWhole) {
  fake.stdFileType = win32::FILE_TYPE_PIPE;
  EXPECT_EQ(Run("p"), 255);
  EXPECT_EQ(fake.written, kUsage);
}

TEST_F(MainFlowTest, TypicalRunCreatesAndGrowsOnTheFastPath) {
  fake.openError = win32::ERROR_FILE_NOT_FOUND;
  EXPECT_EQ(Run("PRESIZER.exe data.bin $100"), 0);
  EXPECT_EQ(fake.written, "File Preallocation...Ok\r\n");
  EXPECT_EQ(fake.createDispositions,
            (std::vector<win32::DWORD>{win32::OPEN_EXISTING, win32::CREATE_ALWAYS}));
  EXPECT_EQ(fake.lastFileName, "data.bin");
  EXPECT_EQ(fake.fileSize, 256);
  EXPECT_EQ(fake.validDataLengths, (std::vector<std::int64_t>{256}));
}

TEST_F(MainFlowTest, ExistingFileIsOpenedNotEmptied) {
  fake.fileSize = 1000;
  EXPECT_EQ(Run("p f 1000"), 0);
  EXPECT_EQ(fake.written, "File Already Has This Size");
  EXPECT_EQ(fake.createDispositions, (std::vector<win32::DWORD>{win32::OPEN_EXISTING}));
  EXPECT_EQ(fake.createAccess[0], win32::GENERIC_READ | win32::GENERIC_WRITE);
  EXPECT_EQ(fake.createShare[0], win32::FILE_SHARE_READ | win32::FILE_SHARE_WRITE);
}

struct OpenFailureCase {
  win32::DWORD openError;
  win32::DWORD createError;
  bool created;
  std::string message;
};

TEST_F(MainFlowTest, OnlyAMissingFileIsCreated) {
  const OpenFailureCase cases[] = {
      {2, 0, true, ""},
      {2, 3, true, "Invalid filename."},
      {2, 5, true, "File access denied."},
      {2, 32, true, "I/O error 32."},
      {5, 0, false, "File access denied."},  // an existing file that is locked or read-only
      {3, 0, false, "Invalid filename."},
      {32, 0, false, "I/O error 32."},
  };
  for (const OpenFailureCase& c : cases) {
    SetUp();
    fake.fileSize = 77;
    fake.openError = c.openError;
    fake.createError = c.createError;
    int code = Run("p f 77");
    EXPECT_EQ(win32fake::CountCalls("CreateFileA(CREATE_ALWAYS)"), c.created ? 1 : 0);
    if (c.message.empty()) {
      EXPECT_EQ(code, 0);
      continue;
    }
    EXPECT_EQ(code, 1);
    EXPECT_EQ(fake.written.rfind("Exception EInOutError in module PRESIZER.exe at ", 0), 0u);
    EXPECT_NE(fake.written.find(".\n" + c.message + "\r\n"), std::string::npos) << fake.written;
    if (!c.created) {
      EXPECT_EQ(fake.fileSize, 77);
    }
  }
}

TEST_F(MainFlowTest, RejectedSizeComesAfterTheCreate) {
  fake.openError = win32::ERROR_FILE_NOT_FOUND;
  EXPECT_EQ(Run("p f abc"), 1);
  EXPECT_EQ(win32fake::CountCalls("CreateFileA(CREATE_ALWAYS)"), 1);
  EXPECT_EQ(win32fake::CountCalls("GetFileSize"), 0);
  std::string::size_type lineEnd = fake.written.find('\n');
  EXPECT_EQ(fake.written.substr(0, 43), "Exception EConvertError in module PRESIZER.");
  EXPECT_EQ(fake.written.substr(lineEnd + 1), "'abc' is not a valid integer value.\r\n");
}

TEST_F(MainFlowTest, ThirdArgumentRefusesTheFastPath) {
  fake.fileSize = 0;
  EXPECT_EQ(Run("p f 4096 x"), 0);
  EXPECT_EQ(fake.written, "File Preallocation...Ok\r\n");
  EXPECT_EQ(win32fake::CountCalls("GetProcAddress"), 0);
  EXPECT_EQ(fake.fileSize, 4096);
}

TEST_F(MainFlowTest, FailIsAnOutcomeNotAnError) {
  fake.validDataResult = win32::FALSE;
  EXPECT_EQ(Run("p f 4096"), 0);
  EXPECT_EQ(fake.written, "File Preallocation...Fail\r\n");
}

TEST_F(MainFlowTest, LostOutputTurnsSuccessIntoFailure) {
  fake.stdFileType = win32::FILE_TYPE_DISK;
  fake.writeError = win32::ERROR_DISK_FULL;
  EXPECT_EQ(Run("p f 4096"), 1);
}

TEST_F(MainFlowTest, NegativeSizeEndsInAWin32ErrorReport) {
  fake.fileSize = 10;
  fake.messages[131] =
      "An attempt was made to move the file pointer before the beginning of the file.\r\n";
  EXPECT_EQ(Run("p f -1"), 1);
  EXPECT_EQ(fake.written.substr(0, 21), "File Preallocation...");
  EXPECT_NE(fake.written.find("Exception EWin32Error in module"), std::string::npos);
  EXPECT_NE(fake.written.find(".\nWin32 Error.  Code: 131.\nAn attempt was made to move the file "
                              "pointer before the beginning of the file.\r\n"),
            std::string::npos)
      << fake.written;
  EXPECT_EQ(fake.fileSize, 10);
}

}  // namespace
