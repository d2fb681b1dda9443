// The error kinds of the tool. Every error carries its message; the top-level report prints the
// kind's name, the position where it was raised and the message.
#ifndef PRESIZER_PREALLOC_ERRORS_H_
#define PRESIZER_PREALLOC_ERRORS_H_

#include <cstdint>
#include <string>
#include <utility>

class Exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  virtual ~Exception() = default;

  const std::string& Message() const { return message_; }
  virtual const char* KindName() const { return "Exception"; }

  // Where the error was raised, recorded by Raise().
  const void* RaiseAddress() const { return raiseAddress_; }
  void SetRaiseAddress(const void* address) { raiseAddress_ = address; }

 private:
  std::string message_;
  const void* raiseAddress_ = nullptr;
};

// A failed file or console operation, with its pending I/O code.
class EInOutError : public Exception {
 public:
  EInOutError(std::string message, std::int32_t code)
      : Exception(std::move(message)), code_(code) {}
  const char* KindName() const override { return "EInOutError"; }
  std::int32_t Code() const { return code_; }

 private:
  std::int32_t code_;
};

// A system call that left a non-zero last error code.
class EWin32Error : public Exception {
 public:
  EWin32Error(std::string message, std::uint32_t code)
      : Exception(std::move(message)), code_(code) {}
  const char* KindName() const override { return "EWin32Error"; }
  std::uint32_t Code() const { return code_; }

 private:
  std::uint32_t code_;
};

// Throws `error` after noting the caller's address, so that the report names the raising point
// rather than the place that caught it. Kept out of line for that reason.
template <typename Error>
[[noreturn]] __attribute__((noinline)) void Raise(Error error) {
  error.SetRaiseAddress(__builtin_return_address(0));
  throw error;
}

#endif  // PRESIZER_PREALLOC_ERRORS_H_
