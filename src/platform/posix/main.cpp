// The executable's entry on the emulated host: hands the module and the command line to
// the same entry point the Windows build uses.
#include "app/entry_point.h"
#include "platform/posix/host.h"

int main(int argc, char** argv) {
  platform::posix::InitializeProcess(argc, argv);
  return RunEntryPoint(platform::posix::MainModule(), nullptr, platform::GetCommandLineW(), 1);
}
