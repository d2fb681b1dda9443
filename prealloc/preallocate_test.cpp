#include "prealloc/preallocate.h"

#include "tests/fake_win32.h"

namespace {

using Resize = fake::Test;

// Growing 100 bytes to 5000 where real systems here never go: another platform family grows the
// ordinary way (e: the end is set); a system without the valid-data call leaves the file alone.
TEST_F(Resize, OtherFamilyOrNoValidDataCall) {
  for (const bool otherFamily : {true, false}) {
    SetUp();
    platformFamily = otherFamily ? 1 : 2;
    TargetFile file;
    file.state = TargetFile::State::OpenReadWrite;
    PreallocateFile(file, true, 5000);
    EXPECT_EQ(fake.written,
              otherFamily ? "File Preallocation...Ok\r\n" : "File Preallocation...Fail\r\n");
    EXPECT_EQ(fake.fileSize, otherFamily ? 5000 : 100);
    EXPECT_EQ(fake.calls, otherFamily ? "e" : "");
  }
}

}  // namespace
