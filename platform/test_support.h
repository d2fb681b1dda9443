// What the tests need from the system beyond the standard library: starting the program as a
// process with a chosen standard output, reading how much of a file is really allocated, and
// making the awkward targets of the fault cases.
#ifndef PRESIZER_PLATFORM_TEST_SUPPORT_H_
#define PRESIZER_PLATFORM_TEST_SUPPORT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

enum class Output {
  Captured,    // a pipe the test reads to the end
  Closed,      // no standard output at all
  File,        // redirected to a file the test names
  Full,        // a device on which every write fails for want of room
  ClosedPipe,  // a pipe whose reading end is already closed
};

struct RunResult {
  int exitCode = -1;
  std::string output;  // what the program wrote, when captured
};

// Runs `program` with `arguments` split as given.
RunResult Run(const std::string& program, const std::vector<std::string>& arguments,
              Output output = Output::Captured, const std::string& outputFile = "");

// Runs `program` with this exact text after the program's name on its command line. Only where
// the system hands programs one command-line text; see RawCommandLineSupported.
RunResult RunRaw(const std::string& program, const std::string& commandTail);
bool RawCommandLineSupported();

// The name this system's programs use for a path that the tests know by its Linux name.
std::string HostPath(const std::string& path);

// Bytes the file system has really allocated for the file.
std::uint64_t AllocatedBytes(const std::string& path);

// The program's own name for itself as built: "presizer" or "PRESIZER.exe".
bool IsWindows();

// Makes a FIFO at `path` (a Linux path). False where that cannot be done here.
bool MakeFifo(const std::string& path);
// Removes it again; removing it like a file could wait forever for a writer.
void RemoveFifo(const std::string& path);

// Sets or clears the immutable attribute of `path` (a Linux path). False when that is refused,
// for instance without root or on a file system that has no such attribute.
bool SetImmutable(const std::string& path, bool immutable);

// Another process's hold on `path` (a Linux path): opened for reading and writing, sharing nothing
// with later openers where the system knows sharing modes, until the object is destroyed.
class HeldFile {
 public:
  explicit HeldFile(const std::string& path);
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  bool Holding() const { return holding_; }

 private:
  bool holding_ = false;
  std::intptr_t process_ = -1;  // the holder, where it is a child process
  std::intptr_t channel_ = -1;  // closing it lets the holder go
};

}  // namespace testsupport

#endif  // PRESIZER_PLATFORM_TEST_SUPPORT_H_
