#ifndef PRESIZER_PREALLOC_PREALLOCATE_H_
#define PRESIZER_PREALLOC_PREALLOCATE_H_

#include <cstdint>
#include <string_view>

#include "platform/win32.h"
#include "prealloc/target_file.h"

// The platform identifier the system reported at start-up; 2 is the NT family, the only one
// with the valid-data call. 0 when the system would not say.
extern win32::DWORD platformFamily;

// Where the progress and outcome words go, each as it is decided: the program hands over its
// writers, which raise EInOutError when the words cannot be written. Kept apart from the console
// itself, so that the resize depends on nothing of the program's front end.
struct ProgressOutput {
  void (*say)(std::string_view words);      // no line end
  void (*sayLine)(std::string_view words);  // followed by CR LF
};

// Brings `file` to `requestedSize` and prints the progress and outcome words. A growing file
// gets its space without being cleared when the platform allows it and `allowFastPath` is set.
void PreallocateFile(TargetFile& file, bool allowFastPath, std::int64_t requestedSize,
                     const ProgressOutput& output);

#endif  // PRESIZER_PREALLOC_PREALLOCATE_H_
