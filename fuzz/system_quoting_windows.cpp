// The Windows test run checks the reference against the system's own splitting. The two calls
// are declared here rather than through the system's headers, which only the program's seam
// includes.
#include "fuzz/common_quoting.h"

extern "C" __declspec(dllimport) wchar_t** __stdcall CommandLineToArgvW(const wchar_t* line,
                                                                        int* count);
extern "C" __declspec(dllimport) void* __stdcall LocalFree(void* memory);

bool SystemSplitsAs(const std::string& line, const std::vector<std::string>& arguments) {
  const std::wstring wide(line.begin(), line.end());
  int count = 0;
  wchar_t** split = CommandLineToArgvW(wide.c_str(), &count);
  std::vector<std::string> system;
  for (int i = 0; i < count; ++i) {
    const std::wstring argument(split[i]);
    system.emplace_back(argument.begin(), argument.end());
  }
  LocalFree(split);
  return system == arguments;
}
