#include "app/presizer_main.h"

#include "tests/fake_win32.h"

namespace {

// The order of a run that splits its own command line: the usage text touches nothing; a command
// line that the code page changed (a character replaced, or swapped for a look-alike quote), then
// one whose arguments might not be the caller's (a quote after a backslash, an argument past 4096
// characters), ends the run before the token (t, a, x) or the file (o, e) is touched; otherwise
// the privileges come first, once. A command line too large to copy ends in the report, not in a
// crash.
struct FlowRow {
  const char* name;
  std::string narrow;   // the command line as the program reads it
  std::u16string wide;  // as the user gave it
  win32::DWORD codePage;
  int exitCode;
  const char* report;        // a part of what is printed
  bool outOfMemory = false;  // the command line cannot be copied
};
void PrintTo(const FlowRow& row, std::ostream* out) { *out << row.name; }

const std::string kLong4097(4097, 'p');
const std::u16string kWide4097(4097, u'p');
const win32::DWORD kLegacy = 1252;
const win32::DWORD kUtf8 = win32::CP_UTF8;

// clang-format off
const FlowRow kFlowRows[] = {
    {"Legacy", "p f 5", u"p f 5", kLegacy, kExitOk, ""},
    {"Utf8", "p f 5", u"p f 5", kUtf8, kExitOk, ""},
    {"UsageBeforeCodePage", "p f", u"p f\uFF02", kLegacy, kExitUsage, ""},
    {"Replaced", "p f? 5", u"p f\uFF02 5", kLegacy, kExitFailure, "Code: 1113.\nText of the code.\r\n"},
    // Best fit would make these look-alikes the quotes the narrow line holds.
    {"BestFitQuotes", "p \"f\" 5 \"x\" 9", u"p \"f\uFF02 5 \uFF02x\" 9", kLegacy, kExitFailure, "Code: 1113"},
    {"Differs", "p g 5", u"p f 5", kLegacy, kExitFailure, "Code: 1113"},
    // Without the invalid-characters flag, half a pair would pass as the replacement character.
    {"HalfSurrogatePair", "p \xEF\xBF\xBD 5", u"p \xD800 5", kUtf8, kExitFailure, "Code: 1113"},
    {"QuoteAfterBackslash", "p \"a\\\" 5", u"p \"a\\\" 5", kLegacy, kExitFailure, "Code: 123"},
    // The refusals read the caller's characters, never the second byte of a double-byte one.
    {"DoubleByteNameBeforeQuote", "p \"my \x83\x5C\" 5", u"p \"my \u30BD\" 5", fake::kJapanese, kExitOk, ""},
    {"QuoteAfterBackslashUsage", "p\\\"", u"p\\\"", kLegacy, kExitUsage, ""},
    {"Argument4097", kLong4097 + " f 5", kWide4097 + u" f 5", kLegacy, kExitFailure, "Code: 206"},
    {"OutOfMemory", "p f 5", u"p f 5", kLegacy, kExitFailure,
     "Exception Exception in module  at 00000000.\nOut of memory.\r\n", true},
};
// clang-format on

class Flow : public fake::Test, public testing::WithParamInterface<FlowRow> {};

TEST_P(Flow, ChecksTheCommandLineThenEnablesPrivilegesThenResizes) {
  const FlowRow& row = GetParam();
  fake.commandLine = row.narrow.c_str();
  fake.wideCommandLine = row.wide;
  fake.codePage = row.codePage;
  fake.outOfMemory = row.outOfMemory;
  EXPECT_EQ(RunPresizer(0, nullptr), row.exitCode);
  EXPECT_EQ(fake.calls, row.exitCode == kExitOk ? "taxoe" : "");
  EXPECT_NE(fake.written.find(row.report), std::string::npos) << fake.written;
}
INSTANTIATE_TEST_SUITE_P(Runs, Flow, testing::ValuesIn(kFlowRows),
                         testing::PrintToStringParamName());

}  // namespace
