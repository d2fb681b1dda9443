#include "app/presizer_main.h"

#include <new>

#include "app/command_line.h"
#include "app/console.h"
#include "app/failure_report.h"
#include "app/size_argument.h"
#include "prealloc/preallocate.h"
#include "prealloc/target_file.h"
#include "privileges/privileges.h"

namespace {

void WriteUsage() {
  WriteLine("PRESIZER.exe FileName FileSize");
  WriteLine("  Fast creation of file on NTFS volume without clearing it");
  WriteLine("  $ before FileSize means hexadecimal value");
  WriteLine("  Needs high privileges (Admin is Ok)");
  WriteLine("  Vista+ have to be executed with elevated privileges");
}

}  // namespace

int RunPresizer(int argc, const char* const* argv) {
  try {
    // Copied inside the handler: a command line too large for memory is reported like any other
    // allocation failure.
    const SystemCommandLine commandLine = ReadSystemCommandLine();
    const Arguments arguments = Arguments::FromSystem(commandLine, argc, argv);
    if (arguments.Count() < 2) {
      WriteUsage();
      return kExitUsage;
    }
    // Before the name is opened or created: a name changed by the code page names another file.
    CheckCommandLineCodePage(commandLine);
    // Likewise an argument that a quote after a backslash or the length limit would split.
    CheckArgumentsArriveWhole(commandLine, arguments);
    // Before the file is touched, so that the fast path finds whatever privilege the user holds.
    EnablePrivileges();
    fileOpenMode = 2;
    TargetFile file;
    AssignTargetFile(file, arguments.Get(1));
    OpenOrCreateTargetFile(file);
    // The file is left open: the end of the process releases it.
    std::int64_t requestedSize = ParseSizeArgument(arguments.Get(2));
    bool allowFastPath = arguments.Get(3).empty();
    PreallocateFile(file, allowFastPath, requestedSize, ProgressOutput{WriteText, WriteLine});
    return kExitOk;
  } catch (const Exception& error) {
    return ReportFailure(error);
  } catch (const std::bad_alloc&) {
    return ReportFailure(Exception("Out of memory"));
  }
}

int FinishProcess(int exitCode) {
  // Lost words are a failure whatever the run meant to say: a script must not take a cut usage
  // text for a whole one.
  return FlushStandardOutputAtExit() ? exitCode : kExitFailure;
}
