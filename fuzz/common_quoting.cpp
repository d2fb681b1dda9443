#include "fuzz/common_quoting.h"

#include <algorithm>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// One argument after the program's path, from `at`, which stands on its first character.
std::string NextArgument(std::string_view line, std::size_t& at) {
  std::string argument;
  bool inQuotes = false;
  while (at < line.size() && (inQuotes || !IsBlank(line[at]))) {
    if (line[at] == '\\') {
      // Backslashes are taken as they are, unless a quote follows them: then 2n give n and the
      // quote opens or closes a stretch, and 2n + 1 give n and the quote itself.
      const std::size_t run = std::min(line.find_first_not_of('\\', at), line.size()) - at;
      const bool quoteFollows = at + run < line.size() && line[at + run] == '"';
      argument.append(quoteFollows ? run / 2 : run, '\\');
      at += run;
      if (quoteFollows && run % 2 == 1) {
        argument += '"';
        ++at;
      }
    } else if (line[at] == '"') {
      // Inside a stretch, a pair of quotes gives one quote, and the stretch ends.
      if (inQuotes && at + 1 < line.size() && line[at + 1] == '"') {
        argument += '"';
        inQuotes = false;
        at += 2;
      } else {
        inQuotes = !inQuotes;
        ++at;
      }
    } else {
      argument += line[at++];
    }
  }
  return argument;
}

}  // namespace

std::vector<std::string> SplitAsCommonQuoting(std::string_view line) {
  std::vector<std::string> arguments;
  std::size_t at = 0;
  // The program's path has a rule of its own, with no escapes: from a quote to the next quote,
  // else up to the first blank or tab. The next argument begins right after it.
  if (!line.empty() && line[0] == '"') {
    const std::size_t close = std::min(line.find('"', 1), line.size());
    arguments.emplace_back(line.substr(1, close - 1));
    at = std::min(close + 1, line.size());
  } else {
    at = std::min(line.find_first_of(" \t"), line.size());
    arguments.emplace_back(line.substr(0, at));
  }
  for (;;) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    if (at == line.size()) return arguments;
    arguments.push_back(NextArgument(line, at));
  }
}

std::string CommandLineFromBytes(const std::uint8_t* data, std::size_t size) {
  // Mostly quotes, backslashes, blanks and tabs, then control characters, a NUL, and a few
  // ordinary characters to carry them.
  static const char kCharacters[] = "ab\"\"\"\\\\  \t\n\r\x01\x1f\x0b\x7f\xe9";
  const std::size_t count = sizeof kCharacters;  // the terminating NUL is one of them
  std::string line;
  for (std::size_t i = 0; i < size; ++i) line += kCharacters[data[i] % count];
  return line;
}
