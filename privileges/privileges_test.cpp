#include "privileges/privileges.h"

#include "tests/fake_win32.h"

namespace {

using Privileges = fake::Test;

// Every privilege is enabled and its other flags kept; every failure is silent, and the token is
// closed (x) whenever it was opened (t).
TEST_F(Privileges, AreAllEnabledAndFailuresAreSilent) {
  const std::pair<void (*)(fake::State&), std::string> cases[] = {
      {[](fake::State&) {}, "tax"},
      {[](fake::State& s) { s.privileges.clear(); }, "tax"},
      {[](fake::State& s) { s.tokenOpenFails = true; }, "t"},
      {[](fake::State& s) { s.sizeQueryError = 5; }, "tx"},
      {[](fake::State& s) { s.tokenReadFails = true; }, "tx"},
      {[](fake::State& s) { s.adjustRefused = true; }, "tax"},
      {[](fake::State& s) { s.claimedCount = 1000; }, "tax"},
  };
  for (const auto& [arrange, calls] : cases) {
    SetUp();
    // One privilege already enabled, one carrying another flag that must survive.
    fake.privileges = {{{2, 0}, 0}, {{3, 0}, 2}, {{4, 0}, 0x80000000u}};
    arrange(fake);
    EXPECT_NO_THROW(EnablePrivileges());
    EXPECT_EQ(fake.calls, calls);
    EXPECT_EQ(fake.written, "");
    for (std::size_t i = 0; i < fake.adjusted.size(); ++i) {
      EXPECT_EQ(fake.adjusted[i].Luid.LowPart, i + 2);
      EXPECT_EQ(fake.adjusted[i].Attributes, fake.privileges[i].Attributes | 2u);
    }
    EXPECT_EQ(fake.adjusted.size(), calls.find('a') == 1 ? fake.privileges.size() : 0);
  }
}

}  // namespace
