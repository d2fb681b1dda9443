// SplitCommandLine on arbitrary text: the rules every caller relies on, and the refusal of an
// argument too long to take.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "platform/errors.h"

namespace {

[[noreturn]] void Fail() { std::abort(); }

// Every character an argument holds was taken from the text, in order, and none twice.
bool TakenInOrder(std::string_view text, const std::vector<std::string>& arguments) {
  std::size_t at = 0;
  for (const std::string& argument : arguments) {
    for (char c : argument) {
      while (at < text.size() && text[at] != c) ++at;
      if (at == text.size()) return false;
      ++at;
    }
  }
  return true;
}

bool IsSeparator(char c) { return c >= 1 && c <= 32; }

// Without a double quote, every argument is a whole word between separators: none was cut, however
// long.
bool WholeWords(std::string_view text, const std::vector<std::string>& arguments) {
  text = text.substr(0, text.find('\0'));
  if (text.find('"') != std::string_view::npos) return true;
  std::vector<std::string> words;
  std::size_t at = 0;
  for (;;) {
    while (at < text.size() && IsSeparator(text[at])) ++at;
    std::size_t end = at;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    if (end == at && !words.empty()) break;
    words.emplace_back(text.substr(at, end - at));
    at = end;
  }
  return words == arguments;
}

// The check before the run refuses exactly the arguments longer than the limit, with 206.
bool RefusedWhenTooLong(const Arguments& arguments) {
  bool tooLong = false;
  for (int i = 0; i <= arguments.Count(); ++i) {
    tooLong = tooLong || arguments.Get(i).size() > 4096;  // the documented limit, written out
  }
  try {
    CheckArgumentsArriveWhole(SystemCommandLine{nullptr, nullptr}, arguments);
  } catch (const EWin32Error& error) {
    return tooLong && error.Code() == 206;
  }
  return !tooLong;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // libFuzzer hands over a buffer of exactly `size` bytes, so AddressSanitizer catches any read
  // past the text.
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> arguments = SplitCommandLine(text);
  if (arguments.empty()) Fail();  // the program's own slot is always there
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument.find('"') != std::string::npos) Fail();
    if (argument.find('\0') != std::string::npos) Fail();
    if (i > 0 && argument.empty()) Fail();  // the count stops at the first empty one
  }
  if (!TakenInOrder(text, arguments)) Fail();
  if (!WholeWords(text, arguments)) Fail();

  // The second split, through the arguments the program itself uses, must agree with the first.
  Arguments again = Arguments::FromCommandLine(text);
  if (again.Count() != static_cast<int>(arguments.size()) - 1) Fail();
  for (int i = 0; i <= again.Count(); ++i) {
    if (again.Get(i) != arguments[static_cast<std::size_t>(i)]) Fail();
  }
  if (!again.Get(again.Count() + 1).empty() || !again.Get(-1).empty()) Fail();
  // This build's seam has no command-line text, so only the length is checked here.
  if (!RefusedWhenTooLong(again)) Fail();
  return 0;
}
