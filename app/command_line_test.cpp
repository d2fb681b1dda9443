#include "app/command_line.h"

#include <tuple>

#include "app/presizer_main.h"
#include "tests/fake_win32.h"

namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLine, FollowsTheToolsOwnRules) {
  const std::string a5000(5000, 'a'), q5000(5000, 'q');
  // clang-format off
  const std::pair<std::string, Args> cases[] = {
      {"", {""}}, {"p", {"p"}}, {"p \t \r\n ", {"p"}}, {"p data.bin 100", {"p", "data.bin", "100"}},
      {"p\x01" "a\x1f" "b c!d", {"p", "a", "b", "c!d"}}, {"p \xe4\x80\xff", {"p", "\xe4\x80\xff"}},
      // A pair standing alone is an empty argument and ends the list; before more it vanishes.
      {"\"\" p a", {"", "p", "a"}}, {"p a \"\" b", {"p", "a"}}, {"p \"\"x", {"p", "x"}},
      {"p a\"b c\"d", {"p", "ab cd"}},
      {"p ab\"\"cd", {"p", "abcd"}}, {"p a \"b c  ", {"p", "a", "b c  "}},
      {"p C:\\dir\\\"x y\"", {"p", "C:\\dir\\x y"}}, {"p f \"   12\"", {"p", "f", "   12"}},
      {"p f 10 \"\"", {"p", "f", "10"}}, {"p f 10 \"", {"p", "f", "10"}},
      {std::string("p a\0b", 5), {"p", "a"}}, {std::string("p \"a\0b\"", 7), {"p", "a"}},
      // Nothing is cut, quoted or not: the refusal of a long argument comes later, whole.
      {"p " + a5000 + " \"" + q5000 + "\" b", {"p", a5000, q5000, "b"}},
  };
  // clang-format on
  for (const auto& [line, expected] : cases) {
    EXPECT_EQ(SplitCommandLine(line), expected) << line.substr(0, 40);
  }
}

// Refused: what the common quoting, which callers write for, would read otherwise. The program's
// own path ends there at the first blank or tab, or right after the quote closing the one it
// starts with, and ours must end it at the same place.
TEST(SplitsLikeTheCommonQuoting, RefusesWhatTheCommonQuotingReadsOtherwise) {
  // clang-format off
  const std::pair<std::string, bool> cases[] = {
      {"p f 5", true}, {"p\tf \"a b\" 5", true}, {"p a\"\"b \"\" \xe9\x7f", true},
      {"p f\n5", false}, {"p f\x1f 5", false}, {"p \"a\\\" 5", false}, {"p \"a\"\"b\" 5", false},
      {"\"p q\" f 5", true}, {"\"\" f 5", true}, {"p\"x\"y f 5", true}, {"\"p", true},
      {" p f 5", false}, {"\"p\"x f 5", false}, {"p\"x y\" f 5", false},
  };
  // clang-format on
  for (const auto& [line, expected] : cases) {
    EXPECT_EQ(SplitsLikeTheCommonQuoting(line), expected) << line;
  }
}

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

}  // namespace
