#include "app/presizer_main.h"

#include <tuple>

#include "tests/fake_win32.h"

namespace {

using Flow = fake::Test;

// The order of a run that splits its own command line: the usage text touches nothing; a command
// line that the code page changed (a character replaced, or swapped for a look-alike quote), then
// one whose arguments might not be the caller's (a quote after a backslash, an argument past 4096
// characters), ends the run before the token (t, a, x) or the file (o, e) is touched; otherwise
// the privileges come first, once. UTF-8 takes no used-default flag.
TEST_F(Flow, ChecksTheCommandLineThenEnablesPrivilegesThenResizes) {
  // clang-format off
  const std::tuple<std::string, std::u16string, win32::DWORD, int, const char*> cases[] = {
      {"p f 5", u"p f 5", 1252, 0, ""}, {"p f 5", u"p f 5", win32::CP_UTF8, 0, ""},
      {"p f", u"p f\uFF02", 1252, 255, ""},
      {"p f? 5", u"p f\uFF02 5", 1252, 1, "Code: 1113.\nText of the code.\r\n"},
      {"p \"f\" 5 \"x\" 9", u"p \"f\uFF02 5 \uFF02x\" 9", 1252, 1, "Code: 1113"},
      {"p g 5", u"p f 5", 1252, 1, "Code: 1113"}, {"p ? 5", u"p \xD800 5", 65001, 1, "Code: 1113"},
      {"p \"a\\\" 5", u"p \"a\\\" 5", 1252, 1, "Code: 123"}, {"p\\\"", u"p\\\"", 1252, 255, ""},
      {std::string(4097, 'p') + " f 5", std::u16string(4097, u'p') + u" f 5", 1252, 1, "Code: 206"},
  };
  // clang-format on
  for (const auto& [narrow, wide, page, code, report] : cases) {
    SetUp();
    std::tie(fake.wideCommandLine, fake.codePage) = std::tie(wide, page);
    fake.commandLine = narrow.c_str();
    EXPECT_EQ(RunPresizer(0, nullptr), code) << narrow;
    EXPECT_EQ(fake.calls, code == kExitOk ? "taxoe" : "") << narrow;
    EXPECT_NE(fake.written.find(report), std::string::npos) << fake.written;
  }
}

TEST_F(Flow, OutOfMemoryEndsInTheReport) {
  fake.outOfMemory = true;
  EXPECT_EQ(RunPresizer(0, nullptr), kExitFailure);
  EXPECT_EQ(fake.written, "Exception Exception in module  at 00000000.\nOut of memory.\r\n");
  EXPECT_EQ(fake.calls, "");
}

}  // namespace
