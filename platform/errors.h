// The tool's errors, in one place for every module: the error kinds, the pending I/O code that
// file and console operations leave behind, and the checks that turn a code into an error.
//
// Opening, creating, setting the end of a file and writing to standard output never raise: a
// failure leaves its code in pendingIoError, and the caller follows each of them with
// CheckIoError. Calls whose all-ones answer may or may not be a failure are followed by
// CheckLastError, which asks the system's last error code.
#ifndef PRESIZER_PLATFORM_ERRORS_H_
#define PRESIZER_PLATFORM_ERRORS_H_

#include <cstdint>
#include <string>
#include <utility>

#include "platform/win32.h"

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

// A size text that is not a valid integer.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
  const char* KindName() const override { return "EConvertError"; }
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

// The tool's own I/O codes, beside the system's: output that the system took only in part, and
// an operation on a file or channel that is not open.
constexpr std::int32_t kIoDiskFull = 101;
constexpr std::int32_t kIoFileNotOpen = 103;

// The code of the last failed file or console operation; 0 when none is pending.
extern thread_local std::int32_t pendingIoError;

// Raises EInOutError for a pending code, and clears it.
void CheckIoError();
// Raises EWin32Error when the system's last error code is not 0.
void CheckLastError();
// Raises EWin32Error for `code`, a failure that the tool itself has found.
[[noreturn]] void RaiseWin32Error(win32::DWORD code);

// The message of EInOutError for a code.
std::string IoErrorText(std::int32_t code);
// The system's text for an error code, without its final period and line end; empty when the
// system has none.
std::string SystemErrorText(win32::DWORD code);

#endif  // PRESIZER_PLATFORM_ERRORS_H_
