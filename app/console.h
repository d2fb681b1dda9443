// The standard output channel: a 128-byte buffer in front of the process's standard output.
//
// On a console every write reaches the screen at once; redirected output collects in the buffer
// and is written whenever it fills and once more at the end of the process. Both writers leave a
// failure in pendingIoError and then call CheckIoError, so a failed write raises EInOutError.
#ifndef PRESIZER_APP_CONSOLE_H_
#define PRESIZER_APP_CONSOLE_H_

#include <string_view>

void WriteText(std::string_view text);  // no line end
void WriteLine(std::string_view text);  // followed by CR LF

// Writes what the buffer still holds; called once as the process ends. Returns false when that
// last write failed, so that the caller does not report success for output that was lost.
bool FlushStandardOutputAtExit();

// Forgets the channel, as a new process would find it. For tests only.
void ResetStandardOutputForTesting();

#endif  // PRESIZER_APP_CONSOLE_H_
