#include "app/command_line.h"

#include <gtest/gtest.h>

namespace {

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

// Arguments that the system split: the count ends at argc or at the first empty one, argv[0] may
// be missing, and an argument beyond the count is the empty text.
TEST(Arguments, FromTheSystemsSplit) {
  const char* const argv[] = {"p", "f", "5", "", "x", nullptr};
  const char* const noProgram[] = {nullptr, "f", "5", nullptr};
  struct Row {
    const char* name;
    int argc;
    const char* const* argv;
    int count;
    std::string program, last;  // argument 0, and the last one counted
  };
  const Row rows[] = {
      {"ArgcZero", 0, nullptr, 0, "", ""},
      {"ProgramAlone", 1, argv, 0, "p", "p"},
      {"NoProgram", 3, noProgram, 2, "", "5"},
      {"EndsAtArgc", 2, argv, 1, "p", "f"},
      {"EndsAtTheEmptyOne", 5, argv, 2, "p", "5"},
  };
  for (const Row& row : rows) {
    const Arguments arguments = Arguments::FromSplit(row.argc, row.argv);
    EXPECT_EQ(arguments.Count(), row.count) << row.name;
    EXPECT_EQ(arguments.Get(0), row.program) << row.name;
    EXPECT_EQ(arguments.Get(row.count), row.last) << row.name;
    EXPECT_EQ(arguments.Get(row.count + 1), "") << row.name;
  }
}

}  // namespace
