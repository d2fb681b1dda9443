#include "privileges/privileges.h"

#include "app/presizer_main.h"
#include "tests/fake_win32.h"

namespace {

class Privileges : public fake::Test {
 protected:
  void SetUp() override {
    fake::Test::SetUp();
    // One privilege already enabled, one carrying another flag that must survive.
    for (win32::DWORD i = 0; i < 4; ++i) {
      fake.privileges.push_back({{i + 2, 0}, i == 1 ? 2u : i == 2 ? 0x80000000u : 0u});
    }
  }
};

TEST_F(Privileges, AllAreEnabledAndOtherFlagsKept) {
  EnablePrivileges();
  ASSERT_EQ(fake.adjusted.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(fake.adjusted[i].Luid.LowPart, i + 2);
    EXPECT_EQ(fake.adjusted[i].Attributes, fake.privileges[i].Attributes | 2u);
  }
}

// Every failure is silent, and the token is closed (x) whenever it was opened (t).
TEST_F(Privileges, FailuresAreSilentAndCloseTheToken) {
  const std::pair<void (*)(fake::State&), std::string> cases[] = {
      {[](fake::State&) {}, "tax"},
      {[](fake::State& s) { s.privileges.clear(); }, "tax"},
      {[](fake::State& s) { s.tokenOpenFails = true; }, "t"},
      {[](fake::State& s) { s.sizeQueryError = 5; }, "tx"},
      {[](fake::State& s) { s.tokenReadFails = true; }, "tx"},
      {[](fake::State& s) { s.adjustResult = win32::FALSE; }, "tax"},
      {[](fake::State& s) { s.claimedCount = 1000; }, "tax"},
  };
  for (const auto& [arrange, calls] : cases) {
    SetUp();
    arrange(fake);
    EXPECT_NO_THROW(EnablePrivileges());
    EXPECT_EQ(fake.calls, calls);
    EXPECT_EQ(fake.written, "");
  }
}

// Once, before the target is opened (o), and never for the usage text.
TEST_F(Privileges, AreEnabledBeforeTheFileIsTouched) {
  for (const char* line : {"p f 10", "p f abc x", "p f"}) {
    SetUp();
    RunPresizer(Arguments::FromCommandLine(line));
    EXPECT_EQ(fake.calls.substr(0, 4), line[3] ? "taxo" : "") << line;
  }
}

}  // namespace
