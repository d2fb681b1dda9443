#include "app/console.h"

#include "app/fake_system_test.h"
#include "prealloc/errors.h"

namespace {

using ConsoleTest = FakeSystemTest;

std::int32_t CodeOfWrite(void (*write)(std::string_view), std::string_view text) {
  try {
    write(text);
  } catch (const EInOutError& error) {
    return error.Code();
  }
  return 0;
}

TEST_F(ConsoleTest, ConsoleGetsEveryWriteAtOnce) {
  fake.stdFileType = win32::FILE_TYPE_CHAR;
  WriteText("File Preallocation...");
  EXPECT_EQ(fake.written, "File Preallocation...");
  WriteLine("Ok");
  EXPECT_EQ(fake.written, "File Preallocation...Ok\r\n");
  EXPECT_EQ(fake.writeSizes, (std::vector<std::size_t>{21, 4}));
  EXPECT_TRUE(FlushStandardOutputAtExit());
  EXPECT_EQ(fake.writeSizes.size(), 2u);
}

TEST_F(ConsoleTest, RedirectedOutputCollectsInTheBuffer) {
  fake.stdFileType = win32::FILE_TYPE_DISK;
  WriteText("File Preallocation...");
  WriteLine("Ok");
  EXPECT_EQ(fake.written, "");
  EXPECT_TRUE(FlushStandardOutputAtExit());
  EXPECT_EQ(fake.written, "File Preallocation...Ok\r\n");
}

TEST_F(ConsoleTest, FullBufferIsWrittenIn128ByteChunks) {
  fake.stdFileType = win32::FILE_TYPE_PIPE;
  std::string text(300, 'x');
  WriteLine(text);
  EXPECT_EQ(fake.writeSizes, (std::vector<std::size_t>{128, 128}));
  EXPECT_TRUE(FlushStandardOutputAtExit());
  EXPECT_EQ(fake.written, text + "\r\n");
  EXPECT_EQ(fake.writeSizes.back(), 46u);
}

TEST_F(ConsoleTest, UnusableStandardOutputGives103OnEveryWrite) {
  struct Case {
    win32::HANDLE handle;
    win32::DWORD type;
    int closes;
  };
  const Case cases[] = {
      {nullptr, win32::FILE_TYPE_CHAR, 0},
      {win32::InvalidHandleValue(), win32::FILE_TYPE_CHAR, 0},
      {win32fake::kStdOutHandle, win32::FILE_TYPE_UNKNOWN, 2},
  };
  for (const Case& c : cases) {
    SetUp();
    fake.stdHandle = c.handle;
    fake.stdFileType = c.type;
    EXPECT_EQ(CodeOfWrite(WriteText, "a"), 103);
    EXPECT_EQ(CodeOfWrite(WriteLine, "b"), 103);
    // The channel is tried anew at each write, and an unknown handle is closed each time.
    EXPECT_EQ(win32fake::CountCalls("GetStdHandle"), 2);
    EXPECT_EQ(fake.stdHandleCloses, c.closes);
    EXPECT_EQ(pendingIoError, 0);
    EXPECT_TRUE(FlushStandardOutputAtExit());
  }
}

TEST_F(ConsoleTest, FailedConsoleWriteRaisesWithTheSystemCode) {
  fake.stdFileType = win32::FILE_TYPE_CHAR;
  fake.writeError = 109;
  EXPECT_EQ(CodeOfWrite(WriteText, "x"), 109);
}

TEST_F(ConsoleTest, RedirectedFailureSurfacesWhenTheBufferFills) {
  fake.stdFileType = win32::FILE_TYPE_DISK;
  fake.writeError = 112;
  EXPECT_EQ(CodeOfWrite(WriteText, std::string(100, 'a')), 0);
  EXPECT_EQ(CodeOfWrite(WriteText, std::string(100, 'b')), 112);
}

TEST_F(ConsoleTest, LostFinalOutputIsNotASuccess) {
  fake.stdFileType = win32::FILE_TYPE_DISK;
  fake.writeError = 112;
  WriteLine("Ok");
  EXPECT_FALSE(FlushStandardOutputAtExit());
  EXPECT_EQ(pendingIoError, 0);
}

}  // namespace
