// SplitCommandLine on arbitrary text: the limits and rules every caller relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // libFuzzer hands over a buffer of exactly `size` bytes, so AddressSanitizer catches any read
  // past the text.
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> arguments = SplitCommandLine(text);
  if (arguments.empty()) Fail();  // the program's own slot is always there
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument.size() > kMaxArgumentLength) Fail();
    if (argument.find('"') != std::string::npos) Fail();
    if (argument.find('\0') != std::string::npos) Fail();
    if (i > 0 && argument.empty()) Fail();  // the count stops at the first empty one
  }
  if (!TakenInOrder(text, arguments)) Fail();

  // The second split, through the arguments the program itself uses, must agree with the first.
  Arguments again = Arguments::FromCommandLine(text);
  if (again.Count() != static_cast<int>(arguments.size()) - 1) Fail();
  for (int i = 0; i <= again.Count(); ++i) {
    if (again.Get(i) != arguments[static_cast<std::size_t>(i)]) Fail();
  }
  if (!again.Get(again.Count() + 1).empty() || !again.Get(-1).empty()) Fail();
  return 0;
}
