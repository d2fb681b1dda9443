#include "app/command_line.h"
#include "app/presizer_main.h"
#include "platform/win32.h"

int main(int argc, char** argv) {
  // Windows hands over one text to split by the tool's own rules; elsewhere the system has
  // split it already.
  const char* commandLine = win32::GetCommandLineA();
  Arguments arguments =
      commandLine ? Arguments::FromCommandLine(commandLine) : Arguments::FromSplit(argc, argv);
  return FinishProcess(RunPresizer(arguments));
}
