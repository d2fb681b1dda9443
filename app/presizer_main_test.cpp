#include "app/presizer_main.h"

#include "tests/fake_win32.h"

namespace {

using Flow = fake::Test;

// The order of a run that splits its own command line: the usage text touches nothing; a command
// line that the code page changed (a character replaced, or swapped for a look-alike quote), then
// one whose arguments might not be the caller's (a quote after a backslash, an argument past 4096
// characters), ends the run before the token (t, a, x) or the file (o, e) is touched; otherwise
// the privileges come first, once. UTF-8 takes no used-default flag. A command line too large to
// copy ends in the report, not in a crash.
TEST_F(Flow, ChecksTheCommandLineThenEnablesPrivilegesThenResizes) {
  struct Row {
    std::string narrow;   // the command line as the program reads it
    std::u16string wide;  // as the user gave it
    win32::DWORD codePage;
    int exitCode;
    const char* report;        // a part of what is printed
    bool outOfMemory = false;  // the command line cannot be copied
  };
  const std::string long4097(4097, 'p');
  const std::u16string wide4097(4097, u'p');
  // clang-format off
  const Row rows[] = {
      {"p f 5", u"p f 5", 1252, kExitOk, ""},
      {"p f 5", u"p f 5", win32::CP_UTF8, kExitOk, ""},
      {"p f", u"p f\uFF02", 1252, kExitUsage, ""},
      {"p f? 5", u"p f\uFF02 5", 1252, kExitFailure, "Code: 1113.\nText of the code.\r\n"},
      {"p \"f\" 5 \"x\" 9", u"p \"f\uFF02 5 \uFF02x\" 9", 1252, kExitFailure, "Code: 1113"},
      {"p g 5", u"p f 5", 1252, kExitFailure, "Code: 1113"},
      {"p ? 5", u"p \xD800 5", win32::CP_UTF8, kExitFailure, "Code: 1113"},
      {"p \"a\\\" 5", u"p \"a\\\" 5", 1252, kExitFailure, "Code: 123"},
      {"p\\\"", u"p\\\"", 1252, kExitUsage, ""},
      {long4097 + " f 5", wide4097 + u" f 5", 1252, kExitFailure, "Code: 206"},
      {"p f 5", u"p f 5", 1252, kExitFailure, "Exception Exception in module  at 00000000.\n"
                                               "Out of memory.\r\n", true},
  };
  // clang-format on
  for (const Row& row : rows) {
    SetUp();
    fake.commandLine = row.narrow.c_str();
    fake.wideCommandLine = row.wide;
    fake.codePage = row.codePage;
    fake.outOfMemory = row.outOfMemory;
    EXPECT_EQ(RunPresizer(0, nullptr), row.exitCode) << row.narrow;
    EXPECT_EQ(fake.calls, row.exitCode == kExitOk ? "taxoe" : "") << row.narrow;
    EXPECT_NE(fake.written.find(row.report), std::string::npos) << fake.written;
  }
}

}  // namespace
