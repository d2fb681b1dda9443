#include "app/failure_report.h"

#include <cstdio>

#include "app/console.h"
#include "app/presizer_main.h"
#include "platform/win32.h"

namespace {

// The code under which an escaped error is shown to the system's unhandled-exception filter:
// customer bit set, so it cannot be mistaken for a system exception.
constexpr win32::DWORD kEscapedErrorCode = 0xE0505A31u;
constexpr win32::DWORD kMaxPath = 260;
constexpr win32::DWORD kLongestPath = 65536;  // beyond the longest path Windows allows

std::string Hex8(std::uint32_t value) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08X", value);
  return digits;
}

}  // namespace

std::string FormatFailureReport(const std::string& kindName, const std::string& moduleName,
                                std::uint32_t position, const std::string& message) {
  std::string report = "Exception " + kindName + " in module " + moduleName + " at " +
                       Hex8(position) + ".\n" + message;
  if (!message.empty() && message.back() != '.') report += '.';
  if (report.size() > kMaxReportLength) report.resize(kMaxReportLength);
  return report;
}

std::string ModuleFileName() {
  // A path that does not fit comes back cut, filling the whole buffer: grow it until the path
  // fits, so that the name after the last separator is the program's own and not some folder's.
  std::string path(kMaxPath, '\0');
  win32::DWORD length = 0;
  for (;;) {
    const auto size = static_cast<win32::DWORD>(path.size());
    length = win32::GetModuleFileNameA(nullptr, &path[0], size);
    if (length < size || size >= kLongestPath) break;
    path.resize(path.size() * 2);
  }
  path.resize(length < path.size() ? length : 0);
  // Windows writes backslashes, but also accepts and keeps forward slashes; a file name holds
  // neither.
  std::string::size_type separator = path.find_last_of("\\/");
  if (separator != std::string::npos) path.erase(0, separator + 1);
  if (path.size() > kMaxPath) path.resize(kMaxPath);
  return path;
}

std::uint32_t CodePosition(const void* address) {
  if (address == nullptr) return 0;
  auto base = reinterpret_cast<std::uintptr_t>(win32::GetModuleHandleA(nullptr));
  auto where = reinterpret_cast<std::uintptr_t>(address);
  return static_cast<std::uint32_t>(where - base);
}

int ReportFailure(const Exception& error) {
  // Without a debugger the filter would start the system's crash reporting, which is no answer
  // to a mistyped size. With one attached, it gets its say first.
  if (win32::IsDebuggerPresent() &&
      win32::UnhandledExceptionFilter(kEscapedErrorCode, error.RaiseAddress()) ==
          win32::EXCEPTION_CONTINUE_SEARCH) {
    win32::RaiseException(kEscapedErrorCode);
  }
  std::string report = FormatFailureReport(error.KindName(), ModuleFileName(),
                                           CodePosition(error.RaiseAddress()), error.Message());
  try {
    WriteLine(report);
  } catch (const Exception&) {
    // Standard output is unusable; the exit code still tells the failure.
  }
  return kExitFailure;
}
