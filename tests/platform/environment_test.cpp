#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "support/scratch_dir.h"

using namespace platform;
using testing_support::ScopedEnv;
using testing_support::ScratchDir;

namespace {

std::u16string TempPath() {
  char16_t buffer[1024];
  DWORD length = GetTempPathW(1024, buffer);
  EXPECT_GT(length, 0u);
  EXPECT_LT(length, 1024u);
  return std::u16string(buffer, length);
}

TEST(GetTempPathW, FollowsTmpTempTmpdirThenSlashTmp) {
  ScratchDir scratch;
  struct Row {
    std::optional<std::string> Tmp, Temp, Tmpdir;
    std::u16string Expected;
  };
  const std::string a = scratch.Path() + "/a";
  const std::string b = scratch.Path() + "/b/";
  const std::string c = scratch.Path() + "/c";
  const Row rows[] = {
      {a, b, c, scratch.JoinW("a/")},
      {std::nullopt, b, c, scratch.JoinW("b/")},
      {"", b, c, scratch.JoinW("b/")},  // an empty value counts as unset
      {std::nullopt, std::nullopt, c, scratch.JoinW("c/")},
      {std::nullopt, std::nullopt, std::nullopt, u"/tmp/"},
      // Named, not checked: a directory that does not exist is still the answer.
      {scratch.Path() + "/missing/dir", std::nullopt, std::nullopt, scratch.JoinW("missing/dir/")},
  };
  for (const Row& row : rows) {
    ScopedEnv tmp("TMP", row.Tmp);
    ScopedEnv temp("TEMP", row.Temp);
    ScopedEnv tmpdir("TMPDIR", row.Tmpdir);
    EXPECT_EQ(TempPath(), row.Expected);
  }
}

TEST(GetTempPathW, RelativeValueBecomesAbsolute) {
  ScratchDir scratch;
  char* saved = ::getcwd(nullptr, 0);
  ASSERT_EQ(::chdir(scratch.Path().c_str()), 0);
  {
    ScopedEnv tmp("TMP", "sub/./dir");
    EXPECT_EQ(TempPath(), scratch.JoinW("sub/dir/"));
  }
  ASSERT_EQ(::chdir(saved), 0);
  std::free(saved);
}

TEST(GetTempPathW, ReturnsTheSizeNeededWhenTheBufferIsSmall) {
  ScopedEnv tmp("TMP", "/var/tmp");  // "/var/tmp/": 9 characters
  char16_t buffer[16] = {u'x', u'\0'};
  EXPECT_EQ(GetTempPathW(9, buffer), 10u);
  EXPECT_EQ(buffer[0], u'x');  // left alone
  EXPECT_EQ(GetTempPathW(0, nullptr), 10u);
  EXPECT_EQ(GetTempPathW(10, buffer), 9u);
  EXPECT_EQ(std::u16string(buffer), u"/var/tmp/");
}

TEST(GetEnvironmentVariableW, WindowsReturnConventions) {
  ScopedEnv set("SPSETUP_TEST_VALUE", "välue");
  ScopedEnv unset("SPSETUP_TEST_UNSET", std::nullopt);
  ScopedEnv empty("SPSETUP_TEST_EMPTY", "");
  char16_t buffer[16];
  EXPECT_EQ(GetEnvironmentVariableW(u"SPSETUP_TEST_VALUE", buffer, 16), 5u);
  EXPECT_EQ(std::u16string(buffer), u"välue");
  EXPECT_EQ(GetEnvironmentVariableW(u"SPSETUP_TEST_VALUE", buffer, 5), 6u);
  EXPECT_EQ(GetEnvironmentVariableW(u"spsetup_test_value", buffer, 16), 5u);  // any case
  SetLastError(0);
  EXPECT_EQ(GetEnvironmentVariableW(u"SPSETUP_TEST_UNSET", buffer, 16), 0u);
  EXPECT_EQ(GetLastError(), ERROR_ENVVAR_NOT_FOUND);
  SetLastError(99);
  EXPECT_EQ(GetEnvironmentVariableW(u"SPSETUP_TEST_EMPTY", buffer, 16), 0u);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
}

}  // namespace
