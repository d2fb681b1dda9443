// Checks the reference splitting once against the system's own CommandLineToArgvW, on the corpus
// that the fuzzer grew; reads the corpus files' paths, one a line. From fuzz/, after fuzz/run:
// clang-format off
//   x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -static -I.. common_quoting_check.cpp common_quoting.cpp ../build/windows/libpresizer_core.a ../build/windows/libpresizer_platform.a -lshell32 -o build/check.exe && ls -d build/run/common_quoting/corpus/* | wine build/check.exe
// clang-format on
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "fuzz/common_quoting.h"

// Declared here rather than through the system's header, which only the seam includes.
extern "C" __declspec(dllimport) wchar_t** __stdcall CommandLineToArgvW(const wchar_t* line,
                                                                        int* count);
extern "C" __declspec(dllimport) void* __stdcall LocalFree(void* memory);

namespace {

// Every byte stands for the character of the same code, so the texts compare byte for byte.
std::vector<std::string> SplitBySystem(const std::string& line) {
  const std::wstring wide(line.begin(), line.end());
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(wide.c_str(), &count);
  std::vector<std::string> result;
  for (int i = 0; i < count; ++i) {
    std::string argument;
    for (const wchar_t* c = arguments[i]; *c != L'\0'; ++c) argument += static_cast<char>(*c);
    result.push_back(argument);
  }
  LocalFree(arguments);
  return result;
}

std::string Shown(const std::vector<std::string>& arguments) {
  std::string shown;
  for (const std::string& argument : arguments) shown += "[" + argument + "]";
  return shown;
}

std::string Escaped(const std::string& line) {
  std::string escaped;
  for (char c : line) {
    const unsigned char code = static_cast<unsigned char>(c);
    if (code >= 32 && code < 127) {
      escaped += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", code);
      escaped += hex;
    }
  }
  return escaped;
}

}  // namespace

int main() {
  int lines = 0, agreed = 0, refused = 0;
  std::string path;
  while (std::getline(std::cin, path)) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::string line =
        CommandLineFromBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    line.resize(line.find('\0') == std::string::npos ? line.size() : line.find('\0'));
    ++lines;
    const std::vector<std::string> reference = SplitAsCommonQuoting(line);
    const std::vector<std::string> system = SplitBySystem(line);
    if (reference == system) {
      ++agreed;
      continue;
    }
    const bool ours = SplitsLikeTheCommonQuoting(line);
    refused += ours ? 0 : 1;
    std::cout << (ours ? "taken  " : "refused") << " <" << Escaped(line) << "> reference "
              << Escaped(Shown(reference)) << " system " << Escaped(Shown(system)) << "\n";
  }
  std::cout << lines << " lines, " << agreed << " agreed; of the others " << refused
            << " refused by the tool\n";
  return 0;
}
