#include "app/command_line.h"

#include <gtest/gtest.h>

namespace {

// Refused: what the common quoting, which callers write for, would read otherwise. The program's
// own path ends there at the first blank or tab, or right after the quote closing the one it
// starts with, and ours must end it at the same place.
struct QuotingRow {
  const char* name;
  std::string line;
  bool splitsLikeTheCommonQuoting;
};
void PrintTo(const QuotingRow& row, std::ostream* out) { *out << row.name; }

const QuotingRow kQuotingRows[] = {
    {"QuotedBlank", "p\tf \"a b\" 5", true},
    {"EmptyStretchAndHighCharacters", "p a\"\"b \"\" \xe9\x7f", true},
    {"LineFeed", "p f\n5", false},
    {"ControlCharacter", "p f\x1f 5", false},
    {"QuoteAfterBackslash", "p \"a\\\" 5", false},
    {"QuoteAfterClosingQuote", "p \"a\"\"b\" 5", false},
    {"QuotedProgram", "\"p q\" f 5", true},
    {"EmptyQuotedProgram", "\"\" f 5", true},
    {"QuoteInsideProgram", "p\"x\"y f 5", true},
    {"ProgramQuoteOpen", "\"p", true},
    {"LeadingBlank", " p f 5", false},
    {"TextAfterQuotedProgram", "\"p\"x f 5", false},
    {"QuotedBlankInsideProgram", "p\"x y\" f 5", false},
};

class CommonQuoting : public testing::TestWithParam<QuotingRow> {};

TEST_P(CommonQuoting, RefusesWhatItReadsOtherwise) {
  EXPECT_EQ(SplitsLikeTheCommonQuoting(GetParam().line), GetParam().splitsLikeTheCommonQuoting);
}
INSTANTIATE_TEST_SUITE_P(Lines, CommonQuoting, testing::ValuesIn(kQuotingRows),
                         testing::PrintToStringParamName());

// The tool's own splitting where the common quoting refuses the line, so the comparison with it
// never looks: every control character separates, like a blank.
TEST(SplitCommandLine, ControlCharactersSeparate) {
  const std::vector<std::string> expected = {"p", "g", "h"};
  EXPECT_EQ(SplitCommandLine("p\x01g\x1fh"), expected);
}

// Arguments that the system split: the count ends at argc or at the first empty one, argv[0] may
// be missing, and an argument beyond the count is the empty text.
const char* const kArgv[] = {"p", "f", "5", "", "x", nullptr};
const char* const kNoProgram[] = {nullptr, "f", "5", nullptr};

struct SplitRow {
  const char* name;
  int argc;
  const char* const* argv;
  int count;
  std::string program, last;  // argument 0, and the last one counted
};
void PrintTo(const SplitRow& row, std::ostream* out) { *out << row.name; }

const SplitRow kSplitRows[] = {
    {"ArgcZero", 0, nullptr, 0, "", ""},          {"ProgramAlone", 1, kArgv, 0, "p", "p"},
    {"NoProgram", 3, kNoProgram, 2, "", "5"},     {"EndsAtArgc", 2, kArgv, 1, "p", "f"},
    {"EndsAtTheEmptyOne", 5, kArgv, 2, "p", "5"},
};

class SystemsSplit : public testing::TestWithParam<SplitRow> {};

TEST_P(SystemsSplit, CountsUpToTheFirstEmptyOne) {
  const SplitRow& row = GetParam();
  const Arguments arguments = Arguments::FromSplit(row.argc, row.argv);
  EXPECT_EQ(arguments.Count(), row.count);
  EXPECT_EQ(arguments.Get(0), row.program);
  EXPECT_EQ(arguments.Get(row.count), row.last);
  EXPECT_EQ(arguments.Get(row.count + 1), "");
}
INSTANTIATE_TEST_SUITE_P(Arguments, SystemsSplit, testing::ValuesIn(kSplitRows),
                         testing::PrintToStringParamName());

}  // namespace
