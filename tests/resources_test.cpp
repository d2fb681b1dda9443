// Reads the built Windows program's version information and manifest the way the system does,
// and compares them with the project's version and the settings the program must carry.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/windows_headers.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const char* program = argv[1];
  int failures = 0;
  auto expect = [&failures](bool ok, const std::string& what) {
    if (!ok) failures += std::printf("FAIL: %s\n", what.c_str()) > 0;
  };
  DWORD ignored = 0;
  std::vector<char> info(GetFileVersionInfoSizeA(program, &ignored) + 1);
  GetFileVersionInfoA(program, 0, static_cast<DWORD>(info.size()), info.data());
  for (const std::string name : {"FileVersion", "ProductVersion"}) {
    void* value = nullptr;
    UINT length = 0;
    const std::string path = "\\StringFileInfo\\040904B0\\" + name;
    expect(VerQueryValueA(info.data(), path.c_str(), &value, &length) &&
               static_cast<const char*>(value) == std::string(PRESIZER_VERSION),
           name + " is not " PRESIZER_VERSION);
  }

  HMODULE module = LoadLibraryExA(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC found = module ? FindResourceA(module, MAKEINTRESOURCEA(1), RT_MANIFEST) : nullptr;
  const char* text =
      found ? static_cast<const char*>(LockResource(LoadResource(module, found))) : "";
  const std::string manifest(text, found ? SizeofResource(module, found) : 0);
  // clang-format off
  for (const char* wanted : {
           "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
           "<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true<",
           "<activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">UTF-8<",
           // Vista, 7, 8, 8.1, and 10 and 11
           "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
           "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
    expect(manifest.find(wanted) != std::string::npos, std::string("manifest lacks ") + wanted);
  }
  // clang-format on
  return failures ? 1 : 0;
}
