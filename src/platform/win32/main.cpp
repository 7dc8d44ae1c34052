// The executable's entry on Windows: a GUI program with a UTF-16 entry (-municode). Makes
// library loading safe first, then hands the module and the command line to the same
// entry point the emulated host uses.
#include "platform/win32/win32.h"
// The entry point's header after windows.h is harmless: platform.h is already in.
#include "app/entry_point.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine,
                    int showState) {
  // 1. Before anything can load msi.dll or another library that is not a load-time
  //    import: search the system directory alone.
  platform::win32::EnableSafeLibraryLoading();

  // 2. The system's entry point, in the platform's own types.
  return RunEntryPoint(reinterpret_cast<platform::HINSTANCE>(instance),
                       reinterpret_cast<platform::HINSTANCE>(previousInstance),
                       platform::win32::Utf16(commandLine), showState);
}
