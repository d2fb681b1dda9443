#include "app/command_line.h"

#include <cstring>

#include "platform/win32.h"
#include "prealloc/target_file.h"

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

 private:
  std::string_view line_;
  std::size_t pos_ = 0;
};

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

void CheckCommandLineCodePage() {
  // Arguments that the system split are bytes, and the bytes given are the name opened.
  const char* narrow = win32::GetCommandLineA();
  if (narrow == nullptr || SameInCodePage(narrow, win32::GetCommandLineW(), win32::GetACP())) {
    return;
  }
  win32::SetLastError(win32::ERROR_NO_UNICODE_TRANSLATION);
  CheckLastError();
}

void CheckArgumentsArriveWhole(const Arguments& arguments) {
  // Callers join arguments with the common quoting, where \" stands for a quote inside an
  // argument. Our splitting has no escape, so that quote would end the quoted stretch and hand the
  // rest of a name to the next argument. No file name and no size holds a quote, and by our rules
  // the pair is only ever written where a quoted folder ends in a backslash.
  const char* commandLine = win32::GetCommandLineA();
  if (commandLine != nullptr && std::strstr(commandLine, "\\\"") != nullptr) {
    win32::SetLastError(win32::ERROR_INVALID_NAME);
    CheckLastError();
  }
  // An argument holds at most 4096 characters. A longer one is refused whole, never cut: its
  // tail would become the next argument, and a cut path names another file.
  for (int i = 0; i <= arguments.Count(); ++i) {
    if (arguments.Get(i).size() > kMaxArgumentLength) {
      win32::SetLastError(win32::ERROR_FILENAME_EXCED_RANGE);
      CheckLastError();
    }
  }
}

Arguments Arguments::FromSystem(int argc, const char* const* argv) {
  const char* commandLine = win32::GetCommandLineA();
  return commandLine ? FromCommandLine(commandLine) : FromSplit(argc, argv);
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
