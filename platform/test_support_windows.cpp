#include "platform/test_support.h"

#include "platform/windows_headers.h"

namespace testsupport {

namespace {

// Quotes an argument for the program's own splitting rules: quotes group, nothing escapes.
std::string Quote(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t") == std::string::npos) return argument;
  return "\"" + argument + "\"";
}

RunResult Start(const std::string& program, const std::string& commandLine, Output output,
                const std::string& outputFile) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  HANDLE childOutput = nullptr;
  if (output == Output::Captured || output == Output::ClosedPipe) {
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return {};
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    childOutput = writeEnd;
    if (output == Output::ClosedPipe) {
      CloseHandle(readEnd);
      readEnd = nullptr;
    }
  } else if (output == Output::File) {
    childOutput = CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  } else if (output == Output::Full) {
    childOutput = CreateFileA(HostPath("/dev/full").c_str(), GENERIC_WRITE, 0, &inherit,
                              OPEN_EXISTING, 0, nullptr);
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = childOutput;
  startup.hStdError = nullptr;
  PROCESS_INFORMATION process{};
  std::string line = commandLine;
  BOOL started = CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                nullptr, &startup, &process);
  if (childOutput && childOutput != INVALID_HANDLE_VALUE) CloseHandle(childOutput);
  RunResult result;
  if (!started) {
    if (readEnd) CloseHandle(readEnd);
    return result;
  }
  if (readEnd) {
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &count, nullptr) && count > 0) {
      result.output.append(buffer, count);
    }
    CloseHandle(readEnd);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  result.exitCode = static_cast<int>(exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}

}  // namespace

RunResult Run(const std::string& program, const std::vector<std::string>& arguments, Output output,
              const std::string& outputFile) {
  std::string line = Quote(HostPath(program));
  for (const std::string& argument : arguments) line += " " + Quote(argument);
  return Start(HostPath(program), line, output, outputFile);
}

RunResult RunRaw(const std::string& program, const std::string& commandTail) {
  return Start(HostPath(program), Quote(HostPath(program)) + commandTail, Output::Captured, "");
}

bool RawCommandLineSupported() { return true; }

// Wine shows the Linux root as drive Z:.
std::string HostPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string result = "Z:" + path;
  for (char& c : result) {
    if (c == '/') c = '\\';
  }
  return result;
}

std::uint64_t AllocatedBytes(const std::string& path) {
  HANDLE file = CreateFileA(HostPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  FILE_STANDARD_INFO info{};
  BOOL ok = GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info);
  CloseHandle(file);
  return ok ? static_cast<std::uint64_t>(info.AllocationSize.QuadPart) : 0;
}

bool IsWindows() { return true; }

namespace {

// Wine starts Linux programs through CreateProcessA too, which is how the Windows tests reach
// mkfifo, chattr and rm. It hands back no process handle for them, so the callers wait for the
// effect instead. On Windows itself the start fails and the callers skip their cases.
bool StartLinuxTool(const std::string& commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  if (process.hThread) CloseHandle(process.hThread);
  if (process.hProcess) CloseHandle(process.hProcess);
  return true;
}

template <typename Done>
bool WaitFor(Done done) {
  for (int i = 0; i < 100; ++i) {
    if (done()) return true;
    Sleep(20);
  }
  return false;
}

// Wine opens a file to look at it or delete it, and opening a FIFO for reading alone waits for
// a writer; so the FIFO is found by its directory entry only.
bool Listed(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(HostPath(path).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

bool Writable(const std::string& path) {
  HANDLE file =
      CreateFileA(HostPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

}  // namespace

bool MakeFifo(const std::string& path) {
  return StartLinuxTool("/usr/bin/mkfifo " + path) && WaitFor([&] { return Listed(path); });
}

void RemoveFifo(const std::string& path) {
  if (StartLinuxTool("/bin/rm -f " + path)) WaitFor([&] { return !Listed(path); });
}

bool SetImmutable(const std::string& path, bool immutable) {
  if (!StartLinuxTool(std::string("/usr/bin/chattr ") + (immutable ? "+i " : "-i ") + path)) {
    return false;
  }
  return WaitFor([&] { return Writable(path) != immutable; });
}

// The test process itself is the other process here: the program under test is started apart.
HeldFile::HeldFile(const std::string& path) {
  HANDLE file = CreateFileA(HostPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  channel_ = reinterpret_cast<std::intptr_t>(file);
  holding_ = true;
}

HeldFile::~HeldFile() {
  if (holding_) CloseHandle(reinterpret_cast<HANDLE>(channel_));
}

}  // namespace testsupport
