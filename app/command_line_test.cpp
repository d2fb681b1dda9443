#include "app/command_line.h"

#include <tuple>

#include "app/presizer_main.h"
#include "tests/fake_win32.h"

namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLine, FollowsTheToolsOwnRules) {
  const std::string a4096(4096, 'a'), q4096(4096, 'q');
  // clang-format off
  const std::pair<std::string, Args> cases[] = {
      {"", {""}}, {"p", {"p"}}, {"p \t \r\n ", {"p"}}, {"p data.bin 100", {"p", "data.bin", "100"}},
      {"p\x01" "a\x1f" "b c!d", {"p", "a", "b", "c!d"}}, {"p \xe4\x80\xff", {"p", "\xe4\x80\xff"}},
      {"\"\" p a", {"p", "a"}},  // a pair at the start is skipped, even before the program
      {"p a \"\" b", {"p", "a", "b"}}, {"p \"\"x", {"p", "x"}}, {"p a\"b c\"d", {"p", "ab cd"}},
      {"p ab\"\"cd", {"p", "abcd"}}, {"p a \"b c  ", {"p", "a", "b c  "}},
      {"p C:\\dir\\\"x y\"", {"p", "C:\\dir\\x y"}}, {"p f \"   12\"", {"p", "f", "   12"}},
      {"p f 10 \"\"", {"p", "f", "10"}}, {"p f 10 \"", {"p", "f", "10"}},
      {std::string("p a\0b", 5), {"p", "a"}}, {std::string("p \"a\0b\"", 7), {"p", "a"}},
      {"p " + std::string(5000, 'a') + " b", {"p", a4096, std::string(904, 'a'), "b"}},
      {"p " + a4096, {"p", a4096}}, {"p " + a4096 + "\"b c\"", {"p", a4096, "b c"}},
      {"p \"" + std::string(4100, 'q') + "\" z", {"p", q4096, "qqqq", "z"}},
      {"p \"" + q4096 + "\" z", {"p", q4096, "z"}},
  };
  // clang-format on
  for (const auto& [line, expected] : cases) {
    EXPECT_EQ(SplitCommandLine(line), expected) << line.substr(0, 40);
  }
}

using Flow = fake::Test;

// The order of a run that splits its own command line: the usage text touches nothing; a command
// line that the code page changed (a character replaced, or swapped for a look-alike quote) ends
// the run before the token (t, a, x) or the file (o, e) is touched; otherwise the privileges come
// first, once. UTF-8 takes no used-default flag.
TEST_F(Flow, ChecksTheCodePageThenEnablesPrivilegesThenResizes) {
  // clang-format off
  const std::tuple<const char*, std::u16string, win32::DWORD, int, std::string> cases[] = {
      {"p f 5", u"p f 5", 1252, 0, "taxoe"}, {"p f 5", u"p f 5", win32::CP_UTF8, 0, "taxoe"},
      {"p f", u"p f\uFF02", 1252, 255, ""}, {"p f? 5", u"p f\uFF02 5", 1252, 1, ""},
      {"p \"f\" 5 \"x\" 9", u"p \"f\uFF02 5 \uFF02x\" 9", 1252, 1, ""},
      {"p g 5", u"p f 5", 1252, 1, ""}, {"p ? 5", u"p \xD800 5", win32::CP_UTF8, 1, ""},
  };
  // clang-format on
  for (const auto& [narrow, wide, page, code, calls] : cases) {
    SetUp();
    std::tie(fake.commandLine, fake.wideCommandLine, fake.codePage) = std::tie(narrow, wide, page);
    EXPECT_EQ(RunPresizer(0, nullptr), code) << narrow;
    EXPECT_EQ(fake.calls, calls) << narrow;
    EXPECT_EQ(fake.written.find("Code: 1113.") != std::string::npos, code == 1) << fake.written;
  }
}

}  // namespace
