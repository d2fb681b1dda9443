// The tool's arguments, from the system's single command-line text or from arguments that the
// system has already split.
#ifndef PRESIZER_APP_COMMAND_LINE_H_
#define PRESIZER_APP_COMMAND_LINE_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"

constexpr std::size_t kMaxArgumentLength = 4096;

// Splits a command line into arguments, the program first, ending at the first empty one (a ""
// standing alone). Double quotes group and vanish; there is no escape character; an argument is
// never cut, however long.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// True when `narrow`, the command line as this program reads it, holds exactly the characters of
// `wide`, the command line the user gave, in code page `codePage`: none replaced by a default
// character and none swapped for a look-alike.
bool SameInCodePage(const char* narrow, const win32::WCHAR* wide, win32::DWORD codePage);

// The command line as the system hands it over, read once: on Windows the text this program
// splits and the same text in UTF-16 as the caller gave it; elsewhere neither, the system having
// split the arguments into argc and argv.
struct SystemCommandLine {
  const char* narrow;
  const win32::WCHAR* wide;
};
SystemCommandLine ReadSystemCommandLine();

// Raises EWin32Error when the command line this program splits is not the one the user gave, so
// that a name is never taken for another file's.
void CheckCommandLineCodePage(const SystemCommandLine& commandLine);

class Arguments {
 public:
  // Windows hands over one text to split by the tool's own rules; elsewhere the system has split
  // it already into argc and argv.
  static Arguments FromSystem(const SystemCommandLine& commandLine, int argc,
                              const char* const* argv);
  static Arguments FromCommandLine(std::string_view commandLine);
  // Arguments already split by the system; argv[0] is the program.
  static Arguments FromSplit(int argc, const char* const* argv);

  // Arguments after the program, up to the first empty one.
  int Count() const;
  // Argument `index` (0 is the program), or the empty text beyond the count.
  std::string Get(int index) const;

 private:
  std::vector<std::string> arguments_;  // the program and the counted arguments
};

// True when the common quoting, by which callers join an argument list and the system splits it,
// gives every argument after the program just as this tool's splitting does. False for a control
// character other than the tab, a double quote right after a backslash, a quote that closes a
// stretch followed by another quote, and a program's path that ours would end elsewhere.
bool SplitsLikeTheCommonQuoting(std::string_view commandLine);

// Raises EWin32Error when an argument may not be what the caller passed: 123 (ERROR_INVALID_NAME)
// when the caller's command line does not split like the common quoting, 206
// (ERROR_FILENAME_EXCED_RANGE) when an argument, the program's own path included, is longer than
// kMaxArgumentLength.
void CheckArgumentsArriveWhole(const SystemCommandLine& commandLine, const Arguments& arguments);

#endif  // PRESIZER_APP_COMMAND_LINE_H_
