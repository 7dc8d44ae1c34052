#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/host.h"

using namespace platform;

namespace {

std::vector<std::u16string> Split(const char16_t* line) {
  int count = -1;
  ScopedGlobalMemory memory;
  LPWSTR* vector = CommandLineToArgvW(line, &count);
  memory.Reset(vector);
  EXPECT_NE(vector, nullptr);
  std::vector<std::u16string> arguments;
  for (int i = 0; vector != nullptr && i < count; ++i) arguments.emplace_back(vector[i]);
  if (vector != nullptr) {
    EXPECT_EQ(vector[count], nullptr);
  }
  return arguments;
}

// Records `arguments` as the process's argv for the life of the holder.
class ScopedArguments {
 public:
  explicit ScopedArguments(std::vector<std::string> arguments) : saved_(posix::ProcessArguments()) {
    Initialize(std::move(arguments));
  }
  ~ScopedArguments() { Initialize(saved_); }

 private:
  static void Initialize(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix::InitializeProcess(static_cast<int>(arguments.size()), argv.data());
  }
  std::vector<std::string> saved_;
};

struct SplitCase {
  const char16_t* Line;
  std::vector<std::u16string> Expected;
};

TEST(CommandLineToArgvW, SplitsByTheWindowsRules) {
  const SplitCase cases[] = {
      // The program name: quoted, to the next quote with backslashes literal; unquoted, to
      // the first blank with quotes literal.
      {u"prog a b", {u"prog", u"a", u"b"}},
      {u"\"C:\\Program Files\\x.exe\" /e", {u"C:\\Program Files\\x.exe", u"/e"}},
      {u"\"C:\\dir\\\"x y", {u"C:\\dir\\", u"x", u"y"}},
      {u"pro\"g a\"b c", {u"pro\"g", u"ab c"}},
      {u"\"a\"b c", {u"a", u"b", u"c"}},
      {u"\"prog", {u"prog"}},
      {u"   ", {u""}},
      // Blanks, tabs and empty arguments.
      {u"p a\tb", {u"p", u"a", u"b"}},
      {u"p   a   ", {u"p", u"a"}},
      {u"p \"\" \"\"", {u"p", u"", u""}},
      // Backslashes: literal unless a quote follows.
      {u"p a\\\\b", {u"p", u"a\\\\b"}},
      {u"p a\\\\\\\"b", {u"p", u"a\\\"b"}},
      {u"p a\\\\\\\\\"b c\"", {u"p", u"a\\\\b c"}},
      {u"p \"a\\\\\"", {u"p", u"a\\"}},
      {u"p \\\"a", {u"p", u"\"a"}},
      {u"p \"a b\\\\\\\" c\"", {u"p", u"a b\\\" c"}},
      // Runs of quotes: inside quoting, k quotes give k/3 quotes and close unless k is a
      // multiple of 3, with one more quote when k mod 3 is 2.
      {u"p three\"\"\"quotes", {u"p", u"three\"quotes"}},
      {u"p \"two\"\"quotes next", {u"p", u"two\"quotes", u"next"}},
      {u"p \"a\"\"\"b c\"", {u"p", u"a\"b c"}},
      {u"p \"a\"\"\"\"b c", {u"p", u"a\"b", u"c"}},
      {u"p \"a\"\"\"\"\"b c", {u"p", u"a\"\"b", u"c"}},
      {u"p \"a\"\"\"\"\"\"b c", {u"p", u"a\"\"b c"}},
      {u"p \"\"\"\"", {u"p", u"\""}},
      {u"p a\"b\"\" c d", {u"p", u"ab\"", u"c", u"d"}},
      {u"p \"\\\"\"\" x", {u"p", u"\"\"", u"x"}},
  };
  for (const SplitCase& row : cases) {
    EXPECT_EQ(Split(row.Line), row.Expected) << "line: " << posix::ToUtf8(row.Line);
  }
}

TEST(CommandLineToArgvW, EmptyLineGivesTheProgramPath) {
  ScopedArguments arguments({"/opt/spsetup/spsetup", "/q"});
  EXPECT_EQ(Split(u""), std::vector<std::u16string>{u"/opt/spsetup/spsetup"});
  EXPECT_EQ(Split(nullptr), std::vector<std::u16string>{u"/opt/spsetup/spsetup"});
}

TEST(CommandLineToArgvW, WithoutCountFails) {
  SetLastError(0);
  EXPECT_EQ(CommandLineToArgvW(u"a b", nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(GetCommandLineW, SplitsBackIntoArgv) {
  const std::vector<std::vector<std::string>> argvs = {
      {"/usr/bin/spsetup"},
      {"/usr/bin/spsetup", "/e", "out file.msp"},
      {"/home/a user/spsetup", "/p", ""},
      {"spsetup", "a\"b", "c\\", "d e\\", "\\\\\"", "tab\there", "\"\"\"", "ünïcödé 日本"},
      {"./sp\"setup", "x"},
  };
  for (const std::vector<std::string>& argv : argvs) {
    ScopedArguments arguments(argv);
    std::vector<std::u16string> expected;
    for (const std::string& argument : argv) expected.push_back(posix::FromUtf8(argument));
    EXPECT_EQ(Split(GetCommandLineW()), expected) << posix::ToUtf8(GetCommandLineW());
  }
}

TEST(GetCommandLineW, SplitsBackIntoArgvForAnyArguments) {
  // Arguments drawn from the characters that matter to the rules.
  std::mt19937 random(20240501);
  const char alphabet[] = {'a', ' ', '\t', '"', '\\'};
  for (int round = 0; round < 500; ++round) {
    std::vector<std::string> argv = {"/usr/bin/spsetup"};
    int count = static_cast<int>(random() % 4);
    for (int i = 0; i < count; ++i) {
      std::string argument;
      int length = static_cast<int>(random() % 7);
      for (int k = 0; k < length; ++k) argument += alphabet[random() % sizeof alphabet];
      argv.push_back(argument);
    }
    ScopedArguments arguments(argv);
    std::vector<std::u16string> expected;
    for (const std::string& argument : argv) expected.push_back(posix::FromUtf8(argument));
    ASSERT_EQ(Split(GetCommandLineW()), expected) << posix::ToUtf8(GetCommandLineW());
  }
}

TEST(GetCommandLineW, StaysValidWhenArgumentsChange) {
  LPWSTR first;
  {
    ScopedArguments arguments({"/bin/one", "x"});
    first = GetCommandLineW();
    ScopedArguments other({"/bin/two", "y"});
    EXPECT_EQ(std::u16string(GetCommandLineW()), u"/bin/two y");
  }
  EXPECT_EQ(std::u16string(first), u"/bin/one x");
}

}  // namespace
