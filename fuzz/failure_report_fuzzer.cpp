// The failure report on arbitrary messages, kinds and module names: it is the exact words, never
// longer than the limit, and the message is copied, never read as a format.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/failure_report.h"

namespace {

[[noreturn]] void Fail() { std::abort(); }

// Splits the input into up to three texts at the first two 0xFF bytes.
std::string Take(const std::uint8_t*& data, std::size_t& size) {
  const void* stop = std::memchr(data, 0xFF, size);
  std::size_t length =
      stop ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(stop) - data) : size;
  std::string text(reinterpret_cast<const char*>(data), length);
  std::size_t used = stop ? length + 1 : length;
  data += used;
  size -= used;
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint32_t position = 0;
  if (size >= 4) {
    std::memcpy(&position, data, 4);
    data += 4;
    size -= 4;
  }
  std::string message = Take(data, size);
  std::string kind = Take(data, size);
  std::string module = Take(data, size);

  std::string report = FormatFailureReport(kind, module, position, message);
  char hex[9];
  for (int i = 0; i < 8; ++i) hex[i] = "0123456789ABCDEF"[(position >> (28 - 4 * i)) & 0xF];
  hex[8] = '\0';
  std::string whole = "Exception " + kind + " in module " + module + " at " + hex + ".\n" + message;
  if (!message.empty() && message.back() != '.') whole += '.';
  // The documented limit, written out: a changed constant in the tool must not pass.
  if (report != whole.substr(0, 1024)) Fail();

  return 0;
}
