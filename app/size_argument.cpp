#include "app/size_argument.h"

#include <cstddef>

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int DecimalDigit(char c) { return c >= '0' && c <= '9' ? c - '0' : -1; }

[[noreturn]] void Reject(std::string_view text) {
  // The text goes in as plain text; it is never read as a format.
  std::string message = "'";
  message.append(text.data(), text.size());
  message += "' is not a valid integer value";
  Raise(EConvertError(message));
}

}  // namespace

std::int64_t ParseSizeArgument(std::string_view text) {
  std::size_t i = 0;
  const std::size_t end = text.size();
  while (i < end && text[i] == ' ') ++i;

  bool negative = false;
  if (i < end && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }

  bool hex = false;
  if (i < end && text[i] == '$') {
    hex = true;
    i += 1;
  } else if (i + 1 < end && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }

  // A digit is taken only while the result still fits in 64 bits unsigned, so a digit that
  // would overflow is left over and rejects the text.
  std::uint64_t value = 0;
  bool anyDigit = false;
  const std::uint64_t base = hex ? 16 : 10;
  const std::uint64_t limit = hex ? 0x0FFFFFFFFFFFFFFFull : 922337203685477580ull;
  for (; i < end; ++i) {
    int digit = hex ? HexDigit(text[i]) : DecimalDigit(text[i]);
    if (digit < 0 || value > limit) break;
    value = value * base + static_cast<std::uint64_t>(digit);
    anyDigit = true;
  }
  if (negative) value = 0 - value;
  // Decimal must land in the signed range: a result whose sign contradicts the text overflowed.
  // Hexadecimal is a bit pattern and may set the sign bit.
  if (!hex && value != 0 && (value >> 63 != 0) != negative) Reject(text);

  if (!anyDigit || i != end) Reject(text);
  return static_cast<std::int64_t>(value);
}
