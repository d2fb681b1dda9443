#include "platform/test_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace testsupport {

namespace {

void ReplaceStandardOutput(Output output, const std::string& outputFile, int pipeWrite) {
  switch (output) {
    case Output::Captured:
    case Output::ClosedPipe:
      ::dup2(pipeWrite, 1);
      break;
    case Output::Closed:
      ::close(1);
      break;
    case Output::File: {
      int fd = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, 1);
      ::close(fd);
      break;
    }
    case Output::Full: {
      int fd = ::open("/dev/full", O_WRONLY);
      ::dup2(fd, 1);
      ::close(fd);
      break;
    }
  }
}

}  // namespace

RunResult Run(const std::string& program, const std::vector<std::string>& arguments, Output output,
              const std::string& outputFile) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  if (output == Output::ClosedPipe) {
    ::close(fds[0]);
    fds[0] = -1;
  }
  pid_t child = ::fork();
  if (child == 0) {
    if (fds[0] >= 0) ::close(fds[0]);
    ReplaceStandardOutput(output, outputFile, fds[1]);
    if (fds[1] != 1) ::close(fds[1]);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  RunResult result;
  if (fds[0] >= 0) {
    char buffer[4096];
    for (;;) {
      ssize_t count = ::read(fds[0], buffer, sizeof buffer);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) break;
      result.output.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(fds[0]);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

RunResult RunRaw(const std::string&, const std::string&) { return {}; }

bool RawCommandLineSupported() { return false; }

std::string HostPath(const std::string& path) { return path; }

std::uint64_t AllocatedBytes(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return 0;
  return static_cast<std::uint64_t>(info.st_blocks) * 512u;
}

bool IsWindows() { return false; }

bool MakeFifo(const std::string& path) { return ::mkfifo(path.c_str(), 0644) == 0; }

void RemoveFifo(const std::string& path) { ::unlink(path.c_str()); }

bool SetImmutable(const std::string& path, bool immutable) {
  // chattr speaks to each file system's own flag interface, which has no portable header.
  std::string command =
      std::string("chattr ") + (immutable ? "+i" : "-i") + " '" + path + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

HeldFile::HeldFile(const std::string& path) {
  int ready[2];
  int release[2];
  // Close-on-exec, so that the program under test does not keep the holder waiting.
  if (::pipe2(ready, O_CLOEXEC) != 0) return;
  if (::pipe2(release, O_CLOEXEC) != 0) {
    ::close(ready[0]);
    ::close(ready[1]);
    return;
  }
  pid_t child = ::fork();
  if (child == 0) {
    ::close(ready[0]);
    ::close(release[1]);
    int fd = ::open(path.c_str(), O_RDWR);
    char answer = fd >= 0 ? 'y' : 'n';
    if (::write(ready[1], &answer, 1) != 1) ::_exit(1);
    char ignored;
    while (::read(release[0], &ignored, 1) < 0 && errno == EINTR) {
    }
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  char answer = 'n';
  if (child > 0) {
    while (::read(ready[0], &answer, 1) < 0 && errno == EINTR) {
    }
  }
  ::close(ready[0]);
  process_ = child;
  channel_ = release[1];
  holding_ = answer == 'y';
}

HeldFile::~HeldFile() {
  if (channel_ >= 0) ::close(static_cast<int>(channel_));
  if (process_ > 0) {
    int status = 0;
    while (::waitpid(static_cast<pid_t>(process_), &status, 0) < 0 && errno == EINTR) {
    }
  }
}

}  // namespace testsupport
