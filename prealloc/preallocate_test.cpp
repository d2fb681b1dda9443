#include "prealloc/preallocate.h"

#include "platform/errors.h"
#include "tests/fake_win32.h"

namespace {

using fake::Granted, fake::Missing, fake::Refused;
const char* const kOk = "File Preallocation...Ok\r\n";
const char* const kFail = "File Preallocation...Fail\r\n";

// One run from the open on, as the main program makes it.
struct Row {
  const char* name;
  std::int64_t currentSize, requestedSize;
  const char* thirdArgument;
  fake::ValidData validData;
  const char* words;  // printed, then the kind and text of an error that ends the run
  std::int64_t finalSize;
  const char* calls;  // o(pen or create), e(nd set), v(alid data declared)
  win32::DWORD openError = win32::ERROR_SUCCESS;  // the file opens
  win32::DWORD family = win32::VER_PLATFORM_WIN32_NT;
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

const win32::DWORD kOtherFamily = 1;

const Row kRows[] = {
    {"Fast", 100, 5000, "", Granted, kOk, 5000, "oev"},
    {"FastRefusedRollsBack", 100, 5000, "", Refused, kFail, 100, "oeve"},
    {"NoValidDataCall", 100, 5000, "", Missing, kFail, 100, "o"},
    {"ThirdArgument", 100, 5000, "x", Granted, kOk, 5000, "oe"},
    {"OtherFamily", 100, 5000, "", Granted, kOk, 5000, "oe", win32::ERROR_SUCCESS, kOtherFamily},
    {"Shrink", 5000, 100, "", Granted, kOk, 100, "oe"},
    {"MissingFileCreated", 0, 5000, "", Granted, kOk, 5000, "ooev", win32::ERROR_FILE_NOT_FOUND},
    // Another program made the file between the failed open and the create: it is kept.
    {"FileMadeMeanwhileKept", 100, 100, "", Granted, "File Already Has This Size", 100, "oo",
     win32::ERROR_FILE_NOT_FOUND},
    {"DeniedFileKept", 100, 5000, "", Granted, "EInOutError File access denied", 100, "o",
     win32::ERROR_ACCESS_DENIED},
    {"TooManyOpenFiles", 100, 5000, "", Granted, "EInOutError Too many open files", 100, "o",
     win32::ERROR_TOO_MANY_OPEN_FILES},
};

class Resize : public fake::Test, public testing::WithParamInterface<Row> {};

TEST_P(Resize, FromTheOpenOn) {
  const Row& row = GetParam();
  fake.openError = row.openError;
  platformFamily = row.family;
  fake.fileSize = row.currentSize;
  fake.validData = row.validData;
  TargetFile file;
  std::string error;
  try {
    OpenOrCreateTargetFile(file);
    // Printed through the console, as the main program prints it.
    PreallocateFile(file, *row.thirdArgument == '\0', row.requestedSize,
                    ProgressOutput{WriteText, WriteLine});
  } catch (const Exception& raised) {
    error = std::string(raised.KindName()) + " " + raised.Message();
  }
  EXPECT_EQ(fake.written + error, row.words);
  EXPECT_EQ(fake.fileSize, row.finalSize);
  EXPECT_EQ(fake.calls, row.calls);
}
INSTANTIATE_TEST_SUITE_P(Runs, Resize, testing::ValuesIn(kRows), testing::PrintToStringParamName());

}  // namespace
