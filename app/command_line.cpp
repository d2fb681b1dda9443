#include "app/command_line.h"

#include <algorithm>
#include <cstring>

#include "platform/errors.h"
#include "platform/win32.h"

namespace {

bool IsSeparator(char c) {
  unsigned char code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

class Splitter {
 public:
  explicit Splitter(std::string_view line) : line_(line) {}

  // An argument is never cut: however long, it comes out whole, and the check before the run
  // refuses it rather than let its tail become the next argument.
  std::string Next() {
    while (pos_ < line_.size() && IsSeparator(line_[pos_])) ++pos_;
    std::string argument;
    bool inQuotes = false;
    while (pos_ < line_.size()) {
      char c = line_[pos_];
      if (!inQuotes && IsSeparator(c)) break;
      ++pos_;
      // A pair of quotes is an empty stretch like any other: at the start of a longer argument it
      // vanishes, and standing alone it is the empty argument that callers write as "", which
      // ends the list rather than let the next argument move into its place.
      if (c == '"') {
        inQuotes = !inQuotes;
      } else {
        argument += c;
      }
    }
    return argument;
  }

  std::size_t Position() const { return pos_; }

 private:
  std::string_view line_;
  std::size_t pos_ = 0;
};

// Where the common quoting ends the program's own path: at the first blank or tab, or, when the
// path starts with a quote, right after the next quote, whatever follows.
std::size_t ProgramEnd(std::string_view line) {
  if (!line.empty() && line[0] == '"') {
    const std::size_t close = line.find('"', 1);
    return close == std::string_view::npos ? line.size() : close + 1;
  }
  return std::min(line.find_first_of(" \t"), line.size());
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
  // A NUL ends the text, as it does for the system's string.
  std::string_view::size_type nul = commandLine.find('\0');
  if (nul != std::string_view::npos) commandLine = commandLine.substr(0, nul);
  Splitter splitter(commandLine);
  std::vector<std::string> arguments;
  arguments.push_back(splitter.Next());  // the program
  for (;;) {
    std::string argument = splitter.Next();
    if (argument.empty()) break;
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

bool SameInCodePage(const char* narrow, const win32::WCHAR* wide, win32::DWORD codePage) {
  // UTF-8 fits no look-alikes and takes no used-default flag; it only fails on a broken pair.
  const bool utf8 = codePage == win32::CP_UTF8;
  const win32::DWORD flags = utf8 ? win32::WC_ERR_INVALID_CHARS : win32::WC_NO_BEST_FIT_CHARS;
  win32::BOOL replaced = win32::FALSE;
  win32::BOOL* usedDefault = utf8 ? nullptr : &replaced;
  // Both counts take the terminating NUL, so a conversion that worked never gives 0.
  const int size =
      win32::WideCharToMultiByte(codePage, flags, wide, -1, nullptr, 0, nullptr, usedDefault);
  if (size <= 0) return false;
  std::string converted(static_cast<std::size_t>(size), '\0');
  return win32::WideCharToMultiByte(codePage, flags, wide, -1, &converted[0], size, nullptr,
                                    usedDefault) == size &&
         !replaced && std::strcmp(converted.c_str(), narrow) == 0;
}

SystemCommandLine ReadSystemCommandLine() {
  const char* narrow = win32::GetCommandLineA();
  return {narrow, narrow ? win32::GetCommandLineW() : nullptr};
}

void CheckCommandLineCodePage(const SystemCommandLine& commandLine) {
  // Arguments that the system split are bytes, and the bytes given are the name opened.
  if (commandLine.narrow != nullptr &&
      !SameInCodePage(commandLine.narrow, commandLine.wide, win32::GetACP())) {
    RaiseWin32Error(win32::ERROR_NO_UNICODE_TRANSLATION);
  }
}

bool SplitsLikeTheCommonQuoting(std::string_view commandLine) {
  bool inQuotes = false;
  char previous = '\0';
  for (const char c : commandLine) {
    // The common quoting quotes only blanks and tabs, so a line feed or another control character
    // arrives bare and our splitting would cut the argument there. No file name and no size holds
    // one.
    if (static_cast<unsigned char>(c) < 32 && c != '\t') return false;
    if (c == '"') {
      // \" stands for a quote inside an argument there; with no escape, our splitting would end
      // the stretch and hand the rest of a name to the next argument. No file name and no size
      // holds a quote, and by our rules the pair is only ever written where a quoted folder ends
      // in a backslash.
      if (previous == '\\') return false;
      // A quote right after the one that closed a stretch is a quote inside the argument there,
      // where ours drops both.
      if (previous == '"' && !inQuotes) return false;
      inQuotes = !inQuotes;
    }
    previous = c;
  }
  // Every later argument is in place only if ours ends the program's path where the common
  // quoting does: not after a leading blank, a quote still open, or more characters behind a
  // closing quote.
  Splitter splitter(commandLine);
  splitter.Next();
  return splitter.Position() == ProgramEnd(commandLine);
}

void CheckArgumentsArriveWhole(const SystemCommandLine& commandLine, const Arguments& arguments) {
  if (commandLine.narrow != nullptr) {
    // Decided on the characters the caller passed: in a legacy code page the second byte of a
    // double-byte character may be a backslash, and none of the caller's characters is one
    // there. Every character the rules look at is ASCII; any other stands in as a letter.
    std::string shape;
    for (const win32::WCHAR* c = commandLine.wide; *c != u'\0'; ++c) {
      shape += *c < 0x80 ? static_cast<char>(*c) : 'x';
    }
    if (!SplitsLikeTheCommonQuoting(shape)) RaiseWin32Error(win32::ERROR_INVALID_NAME);
  }
  // An argument holds at most 4096 characters. A longer one is refused whole, never cut: its
  // tail would become the next argument, and a cut path names another file.
  for (int i = 0; i <= arguments.Count(); ++i) {
    if (arguments.Get(i).size() > kMaxArgumentLength) {
      RaiseWin32Error(win32::ERROR_FILENAME_EXCED_RANGE);
    }
  }
}

Arguments Arguments::FromSystem(const SystemCommandLine& commandLine, int argc,
                                const char* const* argv) {
  return commandLine.narrow ? FromCommandLine(commandLine.narrow) : FromSplit(argc, argv);
}

Arguments Arguments::FromCommandLine(std::string_view commandLine) {
  Arguments result;
  result.arguments_ = SplitCommandLine(commandLine);
  return result;
}

Arguments Arguments::FromSplit(int argc, const char* const* argv) {
  Arguments result;
  result.arguments_.push_back(argc > 0 && argv[0] ? argv[0] : "");
  for (int i = 1; i < argc && argv[i] && argv[i][0] != '\0'; ++i) {
    result.arguments_.push_back(argv[i]);
  }
  return result;
}

int Arguments::Count() const { return static_cast<int>(arguments_.size()) - 1; }

std::string Arguments::Get(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= arguments_.size()) return std::string();
  return arguments_[static_cast<std::size_t>(index)];
}
