#include "prealloc/preallocate.h"

#include "platform/errors.h"
#include "tests/fake_win32.h"

namespace {

using Resize = fake::Test;
using fake::Granted, fake::Missing, fake::Refused;
const char* const kOk = "File Preallocation...Ok\r\n";
const char* const kFail = "File Preallocation...Fail\r\n";

std::string printed;
void PrintText(std::string_view text) { printed += text; }
void PrintLine(std::string_view text) { printed.append(text).append("\r\n"); }

// One run from the open on, as the main program makes it.
struct Row {
  const char* name;
  win32::DWORD openError, family;  // the open's error code (0: it opens) and the platform family
  std::int64_t currentSize, requestedSize;
  const char* thirdArgument;
  fake::ValidData validData;
  const char* words;  // printed, then the kind and text of an error that ends the run
  std::int64_t finalSize;
  const char* calls;  // o(pen or create), e(nd set), v(alid data declared)
};

const Row kRows[] = {
    {"Fast", 0, 2, 100, 5000, "", Granted, kOk, 5000, "oev"},
    {"FastRefusedRollsBack", 0, 2, 100, 5000, "", Refused, kFail, 100, "oeve"},
    {"NoValidDataCall", 0, 2, 100, 5000, "", Missing, kFail, 100, "o"},
    {"ThirdArgument", 0, 2, 100, 5000, "x", Granted, kOk, 5000, "oe"},
    {"OtherFamily", 0, 1, 100, 5000, "", Granted, kOk, 5000, "oe"},
    {"Shrink", 0, 2, 5000, 100, "", Granted, kOk, 100, "oe"},
    {"MissingFileCreated", 2, 2, 0, 5000, "", Granted, kOk, 5000, "ooev"},
    // Another program made the file between the failed open and the create: it is kept.
    {"FileMadeMeanwhileKept", 2, 2, 100, 100, "", Granted, "File Already Has This Size", 100, "oo"},
    {"DeniedFileKept", 5, 2, 100, 5000, "", Granted, "EInOutError File access denied", 100, "o"},
    {"TooManyOpenFiles", 4, 2, 100, 5000, "", Granted, "EInOutError Too many open files", 100, "o"},
};

TEST_F(Resize, FromTheOpenOn) {
  for (const Row& row : kRows) {
    SetUp();
    fake.openError = row.openError;
    platformFamily = row.family;
    fake.fileSize = row.currentSize;
    fake.validData = row.validData;
    TargetFile file;
    std::string error;
    printed.clear();
    try {
      OpenOrCreateTargetFile(file);
      PreallocateFile(file, *row.thirdArgument == '\0', row.requestedSize,
                      ProgressOutput{PrintText, PrintLine});
    } catch (const Exception& raised) {
      error = std::string(raised.KindName()) + " " + raised.Message();
    }
    EXPECT_EQ(printed + error, row.words) << row.name;
    EXPECT_EQ(fake.fileSize, row.finalSize) << row.name;
    EXPECT_EQ(fake.calls, row.calls) << row.name;
  }
}

}  // namespace
