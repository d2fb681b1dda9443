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

TEST_F(MainFlowTest, TypicalRunCreatesAndGrowsOnTheFastPath) {
  fake.openError = win32::ERROR_FILE_NOT_FOUND;
  EXPECT_EQ(Run("PRESIZER.exe data.bin $100"), 0);
  EXPECT_EQ(fake.written, "File Preallocation...Ok\r\n");
  EXPECT_EQ(fake.createDispositions,
            (std::vector<win32::DWORD>{win32::OPEN_EXISTING, win32::CREATE_ALWAYS}));
  EXPECT_EQ(fake.lastFileName, "data.bin");
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(fake.createAccess[i], win32::GENERIC_READ | win32::GENERIC_WRITE);
    EXPECT_EQ(fake.createShare[i], win32::FILE_SHARE_READ | win32::FILE_SHARE_WRITE);
  }
  EXPECT_EQ(fake.fileSize, 256);
  EXPECT_EQ(fake.validDataLengths, (std::vector<std::int64_t>{256}));
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

}  // namespace
