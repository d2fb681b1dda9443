// ParseSizeArgument against a second reading of the same text built on std::from_chars: every
// text is either accepted by both with the same value, or rejected with the exact message.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "app/size_argument.h"

namespace {

// The documented syntax, read independently: blanks, one sign, a "$" or "0x" prefix, then
// nothing but digits of that base. from_chars reports any value beyond 64 bits as out of range.
std::optional<std::int64_t> Reference(std::string_view text) {
  std::size_t blanks = text.find_first_not_of(' ');
  if (blanks == std::string_view::npos) return std::nullopt;
  text.remove_prefix(blanks);
  bool negative = false;
  if (text.front() == '+' || text.front() == '-') {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (!text.empty() && text.front() == '$') {
    base = 16;
    text.remove_prefix(1);
  } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  // from_chars takes no sign of its own for an unsigned type, but stop a "+" slipping through.
  if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
  std::uint64_t magnitude = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;

  constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;
  if (base == 10) {
    // Decimal is range-checked as a signed value.
    if (negative ? magnitude > kSignBit : magnitude >= kSignBit) return std::nullopt;
  }
  // Hexadecimal is the 64-bit pattern itself, negated modulo 2^64 when a minus stands before it.
  std::uint64_t bits = negative ? std::uint64_t{0} - magnitude : magnitude;
  return static_cast<std::int64_t>(bits);
}

[[noreturn]] void Fail() { std::abort(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<std::int64_t> expected = Reference(text);
  try {
    std::int64_t value = ParseSizeArgument(text);
    if (!expected || *expected != value) Fail();
  } catch (const EConvertError& error) {
    if (expected) Fail();
    std::string message = "'" + std::string(text) + "' is not a valid integer value";
    if (error.Message() != message || std::string(error.KindName()) != "EConvertError") Fail();
  }
  // Any other exception escapes and libFuzzer reports it as a crash.
  return 0;
}
