// The tool's splitting against the common quoting that callers write for: on every command line,
// either the check before the run refuses it, or every argument the tool counts after its own
// path is the one the common quoting gives, up to the common quoting's first empty argument. On
// Windows the reference itself is checked on the same lines against the system's own splitting,
// so that it stays the system's rules and not our reading of them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "fuzz/common_quoting.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string line = CommandLineFromBytes(data, size);
  line.resize(std::min(line.find('\0'), line.size()));  // the system's text ends at a NUL
  std::vector<std::string> theirs = SplitAsCommonQuoting(line);
  // An empty line gives the system's splitting the program's own path instead.
  if (!line.empty() && !SystemSplitsAs(line, theirs)) std::abort();
  if (!SplitsLikeTheCommonQuoting(line)) return 0;
  const std::vector<std::string> ours = SplitCommandLine(line);
  theirs.erase(std::find(theirs.begin() + 1, theirs.end(), std::string()), theirs.end());
  // The program's own path is compared by where it ends, through the arguments after it.
  if (!std::equal(ours.begin() + 1, ours.end(), theirs.begin() + 1, theirs.end())) std::abort();
  return 0;
}
