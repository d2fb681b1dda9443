// GCC sees through the replaced allocation functions below and takes malloc paired with a sized
// delete for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

#include "privileges/privileges.h"

#include <cstdlib>
#include <new>

#include "app/fake_system_test.h"

// The privilege list lives in memory the routine obtains itself. To see when it is released, and
// to make obtaining it fail, this test binary replaces the global allocation functions.
namespace {
std::size_t failAllocationOfSize = 0;

void NoteRelease(void* pointer) {
  if (pointer != nullptr && pointer == win32fake::state.tokenBuffer) {
    win32fake::state.tokenBuffer = nullptr;
    win32fake::state.calls.emplace_back("release buffer");
  }
}
}  // namespace

void* operator new(std::size_t size) {
  if (failAllocationOfSize != 0 && size == failAllocationOfSize) {
    failAllocationOfSize = 0;
    throw std::bad_alloc();
  }
  if (void* pointer = std::malloc(size == 0 ? 1 : size)) return pointer;
  throw std::bad_alloc();
}
void operator delete(void* pointer) noexcept {
  NoteRelease(pointer);
  std::free(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
  NoteRelease(pointer);
  std::free(pointer);
}

namespace {

class PrivilegesTest : public FakeSystemTest {
 protected:
  void SetUp() override {
    FakeSystemTest::SetUp();
    fake.stdFileType = win32::FILE_TYPE_CHAR;
    // Seven privileges, one already enabled and one carrying another flag that must survive.
    for (win32::DWORD i = 0; i < 7; ++i) {
      win32::DWORD attributes = i == 2 ? win32::SE_PRIVILEGE_ENABLED : i == 4 ? 0x80000000u : 0;
      fake.privileges.push_back({{i + 2, 0}, attributes});
    }
  }
  static constexpr std::size_t kListSize = 4 + 7 * 12;

  // The token's close and the buffer's release, in the order they happened.
  std::vector<std::string> Releases() const {
    std::vector<std::string> releases;
    for (const std::string& call : fake.calls) {
      if (call == "CloseHandle(token)" || call == "release buffer") releases.push_back(call);
    }
    return releases;
  }
};

using Strings = std::vector<std::string>;
const Strings kBoth{"CloseHandle(token)", "release buffer"};

TEST_F(PrivilegesTest, EnablesEveryPrivilegeAndKeepsOtherFlags) {
  EnablePrivileges();
  ASSERT_EQ(fake.adjusted.size(), 7u);
  for (std::size_t i = 0; i < 7; ++i) {
    EXPECT_EQ(fake.adjusted[i].Luid.LowPart, fake.privileges[i].Luid.LowPart);
    EXPECT_EQ(fake.adjusted[i].Attributes,
              fake.privileges[i].Attributes | win32::SE_PRIVILEGE_ENABLED);
  }
  EXPECT_EQ(Releases(), kBoth);
  EXPECT_EQ(fake.written, "");
}

TEST_F(PrivilegesTest, EmptyTokenIsStillHandedBack) {
  fake.privileges.clear();
  EnablePrivileges();
  EXPECT_EQ(fake.adjustCalls, 1);
  EXPECT_TRUE(fake.adjusted.empty());
  EXPECT_EQ(fake.tokenCloses, 1);
}

struct FailureCase {
  const char* name;
  void (*script)(win32fake::State&);
  bool adjusted;
  Strings releases;
};

class PrivilegeFailureTest : public PrivilegesTest,
                             public testing::WithParamInterface<FailureCase> {};

TEST_P(PrivilegeFailureTest, IsSilentAndReleasesWhatItTook) {
  const FailureCase& c = GetParam();
  c.script(fake);
  EXPECT_NO_THROW(EnablePrivileges());
  EXPECT_EQ(fake.adjustCalls, c.adjusted ? 1 : 0);
  EXPECT_EQ(Releases(), c.releases);
  EXPECT_EQ(fake.written, "");
  EXPECT_EQ(win32fake::CountCalls("WriteFile"), 0);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Paths, PrivilegeFailureTest,
    testing::Values(
        FailureCase{"TokenCannotBeOpened", [](win32fake::State& s) { s.tokenOpenFails = true; },
                    false, {}},
        FailureCase{"SizeQueryLeavesAnotherError",
                    [](win32fake::State& s) { s.sizeQueryError = win32::ERROR_ACCESS_DENIED; },
                    false, {"CloseHandle(token)"}},
        FailureCase{"ReadFails", [](win32fake::State& s) { s.tokenReadFails = true; },
                    false, kBoth},
        FailureCase{"AdjustmentRefused", [](win32fake::State& s) { s.adjustResult = win32::FALSE; },
                    true, kBoth},
        FailureCase{"NotAllAssigned",
                    [](win32fake::State& s) { s.adjustError = win32::ERROR_NOT_ALL_ASSIGNED; },
                    true, kBoth}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(PrivilegesTest, MemoryFailurePassesThroughWithTheTokenClosed) {
  failAllocationOfSize = kListSize;
  EXPECT_THROW(EnablePrivileges(), std::bad_alloc);
  EXPECT_EQ(fake.tokenCloses, 1);
  EXPECT_EQ(fake.adjustCalls, 0);
}

}  // namespace
