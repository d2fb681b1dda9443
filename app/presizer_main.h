#ifndef PRESIZER_APP_PRESIZER_MAIN_H_
#define PRESIZER_APP_PRESIZER_MAIN_H_

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 255;

// The whole run: arguments, usage text, the code-page check, the check that every argument arrived
// whole, privileges, open or create, size, resize. Returns the exit code; every escaped error has
// been reported by then. argc and argv are read only where the system has split the command line
// already.
int RunPresizer(int argc, const char* const* argv);

// Writes what standard output still holds and gives the process's exit code: a run whose last
// output was lost does not end with 0.
int FinishProcess(int exitCode);

#endif  // PRESIZER_APP_PRESIZER_MAIN_H_
