#include "prealloc/preallocate.h"

#include "platform/errors.h"
#include "tests/fake_win32.h"
#include "tests/row_name.h"

namespace {

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
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

const win32::DWORD kNt = win32::VER_PLATFORM_WIN32_NT;
const win32::DWORD kOtherFamily = 1;
const win32::DWORD kOpens = win32::ERROR_SUCCESS;
const win32::DWORD kMissing = win32::ERROR_FILE_NOT_FOUND;
const win32::DWORD kDenied = win32::ERROR_ACCESS_DENIED;
const win32::DWORD kTooManyOpenFiles = win32::ERROR_TOO_MANY_OPEN_FILES;

const Row kRows[] = {
    {"Fast", kOpens, kNt, 100, 5000, "", Granted, kOk, 5000, "oev"},
    {"FastRefusedRollsBack", kOpens, kNt, 100, 5000, "", Refused, kFail, 100, "oeve"},
    {"NoValidDataCall", kOpens, kNt, 100, 5000, "", Missing, kFail, 100, "o"},
    {"ThirdArgument", kOpens, kNt, 100, 5000, "x", Granted, kOk, 5000, "oe"},
    {"OtherFamily", kOpens, kOtherFamily, 100, 5000, "", Granted, kOk, 5000, "oe"},
    {"Shrink", kOpens, kNt, 5000, 100, "", Granted, kOk, 100, "oe"},
    {"MissingFileCreated", kMissing, kNt, 0, 5000, "", Granted, kOk, 5000, "ooev"},
    // Another program made the file between the failed open and the create: it is kept.
    {"FileMadeMeanwhileKept", kMissing, kNt, 100, 100, "", Granted, "File Already Has This Size",
     100, "oo"},
    {"DeniedFileKept", kDenied, kNt, 100, 5000, "", Granted, "EInOutError File access denied", 100,
     "o"},
    {"TooManyOpenFiles", kTooManyOpenFiles, kNt, 100, 5000, "", Granted,
     "EInOutError Too many open files", 100, "o"},
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
  printed.clear();
  try {
    OpenOrCreateTargetFile(file);
    PreallocateFile(file, *row.thirdArgument == '\0', row.requestedSize,
                    ProgressOutput{PrintText, PrintLine});
  } catch (const Exception& raised) {
    error = std::string(raised.KindName()) + " " + raised.Message();
  }
  EXPECT_EQ(printed + error, row.words);
  EXPECT_EQ(fake.fileSize, row.finalSize);
  EXPECT_EQ(fake.calls, row.calls);
}
INSTANTIATE_TEST_SUITE_P(Runs, Resize, testing::ValuesIn(kRows), RowName<Row>);

}  // namespace
