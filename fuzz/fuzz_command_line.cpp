// The command line: arguments quoted back into one Windows command line and split again by
// the Windows rules must give the same arguments; any text splits without fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // 1. Arguments: the input cut at zero bytes, the program name first.
  std::vector<std::string> arguments{"spsetup"};
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      arguments.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  arguments.push_back(current);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  platform::posix::InitializeProcess(static_cast<int>(argv.size()), argv.data());

  // 2. Quoted back and split again: the same arguments, as UTF-16.
  int count = 0;
  platform::LPWSTR* split = platform::CommandLineToArgvW(platform::GetCommandLineW(), &count);
  if (split == nullptr || count != static_cast<int>(arguments.size())) std::abort();
  for (int i = 1; i < count; ++i) {
    if (std::u16string(split[i]) != platform::posix::FromUtf8(arguments[i])) std::abort();
  }
  platform::GlobalFree(split);

  // 3. The raw text as a command line of its own.
  std::u16string line =
      platform::posix::FromUtf8(std::string(reinterpret_cast<const char*>(data), size).c_str());
  split = platform::CommandLineToArgvW(line.c_str(), &count);
  if (split != nullptr) platform::GlobalFree(split);
  return 0;
}
