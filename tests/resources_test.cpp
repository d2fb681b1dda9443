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
  auto query = [&info](const std::string& path) -> void* {
    void* value = nullptr;
    UINT length = 0;
    return VerQueryValueA(info.data(), path.c_str(), &value, &length) ? value : nullptr;
  };
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query("\\"));
  const DWORD high = MAKELONG(PRESIZER_VERSION_MINOR, PRESIZER_VERSION_MAJOR);
  const DWORD low = MAKELONG(0, PRESIZER_VERSION_PATCH);
  expect(fixed && fixed->dwFileVersionMS == high && fixed->dwFileVersionLS == low &&
             fixed->dwProductVersionMS == high && fixed->dwProductVersionLS == low,
         "fixed file and product version");
  const std::string version = std::to_string(PRESIZER_VERSION_MAJOR) + "." +
                              std::to_string(PRESIZER_VERSION_MINOR) + "." +
                              std::to_string(PRESIZER_VERSION_PATCH);
  for (const std::string name : {"FileVersion", "ProductVersion"}) {
    const auto* value = static_cast<const char*>(query("\\StringFileInfo\\040904B0\\" + name));
    expect(value && value == version, name + " is not " + version);
  }

  HMODULE module = LoadLibraryExA(program, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC found = module ? FindResourceA(module, MAKEINTRESOURCEA(1), RT_MANIFEST) : nullptr;
  const char* text =
      found ? static_cast<const char*>(LockResource(LoadResource(module, found))) : "";
  const std::string manifest(text, found ? SizeofResource(module, found) : 0);
  for (const char* wanted : {
           "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
           "<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true<",
           "<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>",  // Vista
           "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",  // 7
           "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",  // 8
           "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",  // 8.1
           "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",  // 10 and 11
       }) {
    expect(manifest.find(wanted) != std::string::npos, std::string("manifest lacks ") + wanted);
  }
  expect(manifest.find("activeCodePage") == std::string::npos, "manifest sets activeCodePage");
  return failures ? 1 : 0;
}
