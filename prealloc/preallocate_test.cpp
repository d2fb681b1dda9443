#include "prealloc/preallocate.h"

#include "app/fake_system_test.h"
#include "prealloc/errors.h"

namespace {

enum class ValidData { Present, Missing, Refusing };

struct ResizeCase {
  const char* name;
  std::int64_t current;
  std::int64_t requested;
  win32::DWORD family;
  bool allowFastPath;
  ValidData validData;
  const char* output;
  std::int64_t finalSize;
  bool validDataCalled;
};

class ResizeTest : public FakeSystemTest, public testing::WithParamInterface<ResizeCase> {};

TEST_P(ResizeTest, ChoosesThePathAndPrintsTheOutcome) {
  const ResizeCase& c = GetParam();
  fake.stdFileType = win32::FILE_TYPE_CHAR;
  fake.fileSize = c.current;
  platformFamily = c.family;
  fake.hasSetFileValidData = c.validData != ValidData::Missing;
  fake.validDataResult = c.validData == ValidData::Refusing ? win32::FALSE : win32::TRUE;

  TargetFile file;
  file.state = TargetFile::State::OpenReadWrite;
  PreallocateFile(file, c.allowFastPath, c.requested);

  EXPECT_EQ(fake.written, c.output);
  EXPECT_EQ(fake.fileSize, c.finalSize);
  EXPECT_EQ(!fake.validDataLengths.empty(), c.validDataCalled);
  if (c.validDataCalled) {
    EXPECT_EQ(fake.validDataLengths[0], c.requested);
  }
}

constexpr auto NT = win32::VER_PLATFORM_WIN32_NT;
constexpr win32::DWORD kWindows9x = 1;
constexpr char kOk[] = "File Preallocation...Ok\r\n";
constexpr char kFail[] = "File Preallocation...Fail\r\n";

constexpr char kSame[] = "File Already Has This Size";
constexpr std::int64_t k8GiB = 1LL << 33;
constexpr auto kPresent = ValidData::Present;
constexpr auto kRefusing = ValidData::Refusing;

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Decisions, ResizeTest,
    testing::Values(
        ResizeCase{"SameSize", 4096, 4096, NT, true, kPresent, kSame, 4096, false},
        ResizeCase{"SameSizeAbove4GiB", k8GiB, k8GiB, NT, true, kPresent, kSame, k8GiB, false},
        ResizeCase{"GrowFast", 0, 256, NT, true, kPresent, kOk, 256, true},
        ResizeCase{"GrowPast4GiB", 100, (1LL << 32) + 1, NT, true, kPresent, kOk, (1LL << 32) + 1,
                   true},
        ResizeCase{"GrowRefusedRollsBack", 100, 5000, NT, true, kRefusing, kFail, 100, true},
        ResizeCase{"GrowWithoutTheCallLeavesTheFile", 100, 5000, NT, true, ValidData::Missing,
                   kFail, 100, false},
        ResizeCase{"ThirdArgumentGrowsOrdinarily", 100, 5000, NT, false, kRefusing, kOk, 5000,
                   false},
        ResizeCase{"OtherFamilyGrowsOrdinarily", 100, 5000, kWindows9x, true, kRefusing, kOk, 5000,
                   false},
        ResizeCase{"UnknownFamilyGrowsOrdinarily", 100, 5000, 0, true, kRefusing, kOk, 5000, false},
        ResizeCase{"ShrinkToZero", 5000, 0, NT, true, kRefusing, kOk, 0, false},
        ResizeCase{"ShrinkAcross4GiB", k8GiB, 100, NT, true, kRefusing, kOk, 100, false}),
    [](const testing::TestParamInfo<ResizeCase>& info) { return std::string(info.param.name); });
// clang-format on

using ResizeFailureTest = FakeSystemTest;

TEST_F(ResizeFailureTest, SizeFailureComesBeforeAnyWord) {
  fake.stdFileType = win32::FILE_TYPE_CHAR;
  fake.sizeError = 6;
  TargetFile file;
  EXPECT_THROW(PreallocateFile(file, true, 10), EWin32Error);
  EXPECT_EQ(fake.written, "");
}

TEST_F(ResizeFailureTest, FullVolumeOnTheFastPathStopsBeforeTheValidDataCall) {
  fake.stdFileType = win32::FILE_TYPE_CHAR;
  fake.fileSize = 10;
  fake.setEndError = win32::ERROR_DISK_FULL;
  TargetFile file;
  file.state = TargetFile::State::OpenReadWrite;
  try {
    PreallocateFile(file, true, 1LL << 40);
    FAIL() << "nothing raised";
  } catch (const EInOutError& error) {
    EXPECT_EQ(error.Code(), 112);
    EXPECT_EQ(error.Message(), "I/O error 112");
  }
  EXPECT_EQ(fake.written, "File Preallocation...");
  EXPECT_TRUE(fake.validDataLengths.empty());
  EXPECT_EQ(win32fake::CountCalls("SetEndOfFile"), 1);  // no rollback attempted
}

TEST_F(ResizeFailureTest, FailedRollbackIsReported) {
  fake.stdFileType = win32::FILE_TYPE_CHAR;
  fake.fileSize = 10;
  fake.validDataResult = win32::FALSE;
  fake.setEndErrorFromSecondCall = 5;
  TargetFile file;
  file.state = TargetFile::State::OpenReadWrite;
  EXPECT_THROW(PreallocateFile(file, true, 100), EInOutError);
  EXPECT_EQ(fake.written, "File Preallocation...");
}

}  // namespace
