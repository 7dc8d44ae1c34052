// The process command line of the emulated host. POSIX hands a program its arguments
// already split; Windows hands it one line that the program splits itself. The line is
// made here from argv so that splitting it by the Windows rules gives argv back.

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/host.h"

namespace platform {
namespace posix {
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// The executable's path, for a command line without a program name.
std::u16string ProgramPath() {
  const std::vector<std::string>& arguments = ProcessArguments();
  if (!arguments.empty() && !arguments[0].empty()) return FromUtf8(arguments[0]);
  std::vector<char> target(4096);
  ssize_t length = ::readlink("/proc/self/exe", target.data(), target.size());
  if (length <= 0) return std::u16string();
  return FromUtf8(std::string_view(target.data(), static_cast<std::size_t>(length)));
}

// The program name is split by a rule of its own: quoted, it runs to the next quote with
// backslashes literal; unquoted, to the first blank with quotes literal. So it is quoted
// only when it holds a blank (or is empty). A name cannot hold a quote and a blank at once
// on Windows; such a name loses its quotes here rather than breaking the arguments after
// it.
std::u16string QuoteProgramName(const std::u16string& name) {
  bool needsQuotes = name.empty();
  for (char16_t c : name) needsQuotes = needsQuotes || IsBlank(c);
  if (!needsQuotes) return name;
  std::u16string quoted = u"\"";
  for (char16_t c : name) {
    if (c != u'"') quoted += c;
  }
  quoted += u'"';
  return quoted;
}

// Any other argument: quoted when it is empty or holds a blank or a quote; inside the
// quotes, a run of backslashes is doubled when a quote (the argument's own or the closing
// one) follows it, and each quote of the argument is escaped by one more backslash.
std::u16string QuoteArgument(const std::u16string& argument) {
  bool needsQuotes = argument.empty();
  for (char16_t c : argument) {
    needsQuotes = needsQuotes || IsBlank(c) || c == u'"' || c == u'\n' || c == u'\v';
  }
  if (!needsQuotes) return argument;
  std::u16string quoted = u"\"";
  std::size_t backslashes = 0;
  for (char16_t c : argument) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    if (c == u'"') {
      quoted.append(backslashes * 2 + 1, u'\\');
    } else {
      quoted.append(backslashes, u'\\');
    }
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, u'\\');
  quoted += u'"';
  return quoted;
}

std::u16string BuildCommandLine() {
  const std::vector<std::string>& arguments = ProcessArguments();
  std::u16string line = QuoteProgramName(ProgramPath());
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    line += u' ';
    line += QuoteArgument(FromUtf8(arguments[i]));
  }
  return line;
}

// Splits `line` by the Windows rules (see CommandLineToArgvW below).
std::vector<std::u16string> SplitCommandLine(const char16_t* line) {
  std::vector<std::u16string> arguments;
  if (line == nullptr || *line == u'\0') {
    arguments.push_back(ProgramPath());
    return arguments;
  }

  // 1. The program name.
  const char16_t* s = line;
  std::u16string program;
  if (*s == u'"') {
    for (++s; *s != u'\0' && *s != u'"'; ++s) program += *s;
    if (*s == u'"') ++s;
  } else {
    for (; *s != u'\0' && !IsBlank(*s); ++s) program += *s;
  }
  arguments.push_back(std::move(program));

  // 2. The other arguments. `quoteState` follows the run-of-quotes rule: 0 outside quoting,
  // 1 inside, 2 for "a second quote of a run inside quoting", which becomes a literal quote
  // when a third follows and otherwise closes the quoting.
  while (IsBlank(*s)) ++s;
  while (*s != u'\0') {
    std::u16string argument;
    int quoteState = 0;
    std::size_t backslashes = 0;
    for (; *s != u'\0'; ++s) {
      char16_t c = *s;
      if (IsBlank(c) && quoteState == 0) break;
      if (c == u'\\') {
        ++backslashes;
        argument += c;
        continue;
      }
      if (c != u'"') {
        backslashes = 0;
        argument += c;
        continue;
      }
      // 2n backslashes and a quote: n backslashes, and the quote takes part in quoting.
      // 2n+1: n backslashes and a literal quote, which does not start a run.
      argument.resize(argument.size() - backslashes / 2 - backslashes % 2);
      bool escaped = backslashes % 2 == 1;
      backslashes = 0;
      if (escaped) {
        argument += u'"';
      } else {
        ++quoteState;
      }
      // The rest of the run: every third quote counted inside quoting is a literal one.
      while (s[1] == u'"') {
        ++s;
        if (++quoteState == 3) {
          argument += u'"';
          quoteState = 0;
        }
      }
      if (quoteState == 2) quoteState = 0;
    }
    arguments.push_back(std::move(argument));
    while (IsBlank(*s)) ++s;
  }
  return arguments;
}

}  // namespace
}  // namespace posix

LPWSTR GetCommandLineW() {
  // Each line handed out stays valid while the process lives; a new one is kept only when
  // a test has recorded other arguments since.
  static std::mutex lock;
  static std::deque<std::u16string> lines;
  std::lock_guard<std::mutex> guard(lock);
  std::u16string line = posix::BuildCommandLine();
  if (lines.empty() || lines.back() != line) lines.push_back(std::move(line));
  return lines.back().data();
}

LPWSTR* CommandLineToArgvW(LPCWSTR commandLine, int* numArgs) {
  if (numArgs == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::vector<std::u16string> arguments = posix::SplitCommandLine(commandLine);

  // One block: the vector of pointers (ended by a null pointer), then the strings, so
  // that GlobalFree releases everything at once.
  std::size_t pointerBytes = (arguments.size() + 1) * sizeof(LPWSTR);
  std::size_t characters = 0;
  for (const std::u16string& argument : arguments) characters += argument.size() + 1;
  void* block = std::malloc(pointerBytes + characters * sizeof(char16_t));
  if (block == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* vector = static_cast<LPWSTR*>(block);
  auto* text = reinterpret_cast<char16_t*>(static_cast<char*>(block) + pointerBytes);
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    vector[i] = text;
    std::memcpy(text, arguments[i].c_str(), (arguments[i].size() + 1) * sizeof(char16_t));
    text += arguments[i].size() + 1;
  }
  vector[arguments.size()] = nullptr;
  *numArgs = static_cast<int>(arguments.size());
  return vector;
}

HGLOBAL GlobalFree(HGLOBAL memory) {
  std::free(memory);
  return nullptr;
}

}  // namespace platform
