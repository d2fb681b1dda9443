#include "app/command_line.h"

#include <gtest/gtest.h>

namespace {

using Args = std::vector<std::string>;

struct SplitCase {
  const char* name;
  std::string line;  // everything after the program's name
  Args expected;     // the arguments after the program
};

std::string Repeat(char c, std::size_t count) { return std::string(count, c); }

class SplitTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, SplitsLikeTheSystemText) {
  const SplitCase& c = GetParam();
  Args all = SplitCommandLine("PRESIZER.exe" + c.line);
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all[0], "PRESIZER.exe");
  EXPECT_EQ(Args(all.begin() + 1, all.end()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, SplitTest,
    testing::Values(SplitCase{"Nothing", "", {}}, SplitCase{"OnlyBlanks", " \t \r\n ", {}},
                    SplitCase{"TwoWords", " data.bin 100", {"data.bin", "100"}},
                    SplitCase{"ControlCharactersSeparate",
                              "\x01"
                              "a\x1f"
                              "b\x20"
                              "c",
                              {"a", "b", "c"}},
                    SplitCase{"HighCharactersAreTaken", " \xe4\x80\xff", {"\xe4\x80\xff"}},
                    SplitCase{"EmptyPairIsSkipped", " a \"\" b", {"a", "b"}},
                    SplitCase{"PairBeforeWord", " \"\"x", {"x"}},
                    SplitCase{"QuotedStretchInsideWord", " a\"b c\"d", {"ab cd"}},
                    SplitCase{"PairInsideWordVanishes", " ab\"\"cd", {"abcd"}},
                    SplitCase{"UnterminatedQuoteRunsToEnd", " a \"b c  ", {"a", "b c  "}},
                    SplitCase{"BackslashIsOrdinary", " C:\\dir\\\"x y\"", {"C:\\dir\\x y"}},
                    SplitCase{"QuotedLeadingBlanksKept", " f \"   12\"", {"f", "   12"}},
                    SplitCase{"EmptyThirdArgumentIsAbsent", " f 10 \"\"", {"f", "10"}},
                    SplitCase{"LoneQuoteAtEndEndsTheList", " f 10 \"", {"f", "10"}},
                    SplitCase{"AnyThirdArgumentCounts", " f 10 x y", {"f", "10", "x", "y"}},
                    SplitCase{"LongWordIsCut",
                              " " + Repeat('a', 5000) + " b",
                              {Repeat('a', 4096), Repeat('a', 904), "b"}},
                    SplitCase{
                        "ExactLimitIsOneArgument", " " + Repeat('a', 4096), {Repeat('a', 4096)}},
                    SplitCase{"QuoteAfterLimitStartsNext",
                              " " + Repeat('a', 4096) + "\"b c\"",
                              {Repeat('a', 4096), "b c"}},
                    SplitCase{"LongQuotedStretchIsCut",
                              " \"" + Repeat('q', 4100) + "\" z",
                              {Repeat('q', 4096), "qqqq", "z"}},
                    SplitCase{"QuotedStretchEndingAtLimit",
                              " \"" + Repeat('q', 4096) + "\" z",
                              {Repeat('q', 4096), "z"}}),
    [](const testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

TEST(SplitCommandLine, StopsAtNul) {
  std::string line("p a\0b", 5);
  EXPECT_EQ(SplitCommandLine(line), (Args{"p", "a"}));
}

TEST(Arguments, ArgumentsBeyondTheCountAreEmpty) {
  Arguments arguments = Arguments::FromCommandLine("p file 10");
  EXPECT_EQ(arguments.Count(), 2);
  EXPECT_EQ(arguments.Get(0), "p");
  EXPECT_EQ(arguments.Get(2), "10");
  EXPECT_EQ(arguments.Get(3), "");
  EXPECT_EQ(arguments.Get(99), "");
}

TEST(Arguments, SplitArgumentsStopAtTheFirstEmptyOne) {
  const char* argv[] = {"presizer", "file", "", "x"};
  Arguments arguments = Arguments::FromSplit(4, argv);
  EXPECT_EQ(arguments.Count(), 1);
  EXPECT_EQ(arguments.Get(2), "");
  EXPECT_EQ(arguments.Get(3), "");
}

}  // namespace
