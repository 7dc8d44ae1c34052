#include "app/command_line.h"

#include <new>

#include "app/process_state.h"

using namespace platform;

namespace {

// Compares a whole argument with a switch, folding only the ASCII letters A to Z.
bool IsSwitch(const char16_t* argument, const char16_t* name) {
  for (; *argument != u'\0' && *name != u'\0'; ++argument, ++name) {
    char16_t c = *argument;
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != *name) return false;
  }
  return *argument == u'\0' && *name == u'\0';
}

}  // namespace

void ParseCommandLine() {
  // 1. Split the process command line; a failed split yields no arguments.
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  ScopedGlobalMemory argumentMemory(arguments);
  if (arguments == nullptr) count = 0;

  // 2. Reset the options; ProductListRequested keeps its value from process start.
  RunOptions.Quiet = false;
  RunOptions.ExtractRequested = false;
  RunOptions.ExtractPath.clear();
  RunOptions.PatchListRequested = false;
  RunOptions.PatchListPath.clear();
  RunOptions.LogPath.clear();
  RunOptions.InstallRequested = true;

  // 3. Examine the arguments after the program path. A path that cannot be copied for
  // lack of memory ends the scan with everything set so far standing.
  try {
    int index = 1;
    while (index < count) {
      const char16_t* argument = arguments[index];
      if (IsSwitch(argument, u"/q")) {
        RunOptions.Quiet = true;
        index += 1;
      } else if (IsSwitch(argument, u"/e") || IsSwitch(argument, u"/p")) {
        bool extract = IsSwitch(argument, u"/e");
        (extract ? RunOptions.ExtractRequested : RunOptions.PatchListRequested) = true;
        RunOptions.InstallRequested = false;
        if (index + 1 < count) {
          (extract ? RunOptions.ExtractPath : RunOptions.PatchListPath) = arguments[index + 1];
          index += 2;
        } else {
          index += 1;
        }
      } else if (IsSwitch(argument, u"/log")) {
        // The log changes no mode; without a path after it, it is not asked for.
        if (index + 1 < count) RunOptions.LogPath = arguments[index + 1];
        index += index + 1 < count ? 2 : 1;
      } else if (IsSwitch(argument, u"/i")) {
        RunOptions.ProductListRequested = true;
        RunOptions.InstallRequested = false;
        break;
      } else {
        index += 1;
      }
    }
  } catch (const std::bad_alloc&) {
  }
  // 4. The argument vector is released by its holder.
}
