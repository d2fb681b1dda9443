#include "prealloc/preallocate.h"

#include "prealloc/errors.h"
#include "tests/fake_win32.h"

namespace {

using Resize = fake::Test;

// Growing 100 bytes to 5000: the branches real systems here never take.
TEST_F(Resize, ChoosesThePathAndAnswersForIt) {
  struct Case {
    const char* name;
    void (*arrange)(fake::State&);
    const char* words;
    std::int64_t size;
    const char* calls;  // e(nd set), v(alid data)
  };
  const Case cases[] = {
      {"OtherFamily", [](fake::State&) { platformFamily = 1; }, "Ok\r\n", 5000, "e"},
      {"NoValidDataCall", [](fake::State& s) { s.hasValidData = false; }, "Fail\r\n", 100, ""},
      {"Refused", [](fake::State& s) { s.validDataResult = 0; }, "Fail\r\n", 100, "eve"},
      {"RollbackFails", [](fake::State& s) { s.validDataResult = 0, s.setEndErrorLater = 5; }, "",
       5000, "eve"},
  };
  for (const Case& c : cases) {
    SetUp();
    c.arrange(fake);
    TargetFile file;
    file.state = TargetFile::State::OpenReadWrite;
    try {
      PreallocateFile(file, true, 5000);
    } catch (const EInOutError& error) {
      EXPECT_EQ(error.Code(), 5) << c.name;
    }
    EXPECT_EQ(fake.written, "File Preallocation..." + std::string(c.words)) << c.name;
    EXPECT_EQ(fake.fileSize, c.size) << c.name;
    EXPECT_EQ(fake.calls, c.calls) << c.name;
  }
}

}  // namespace
