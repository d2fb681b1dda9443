#include "app/command_line.h"

#include <gtest/gtest.h>

namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLine, FollowsTheToolsOwnRules) {
  const std::string a5000(5000, 'a'), q5000(5000, 'q');
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
      // Nothing is cut, quoted or not: the refusal of a long argument comes later, whole.
      {"p " + a5000 + " \"" + q5000 + "\" b", {"p", a5000, q5000, "b"}},
  };
  // clang-format on
  for (const auto& [line, expected] : cases) {
    EXPECT_EQ(SplitCommandLine(line), expected) << line.substr(0, 40);
  }
}

}  // namespace
