#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

using namespace platform;

namespace {

std::u16string Formatted(int count, const char16_t* text) {
  EXPECT_EQ(count, static_cast<int>(std::u16string(text).size()));
  return text;
}

TEST(wsprintfW, FormatsTheConversionsTheSystemUses) {
  char16_t buffer[1024];
  EXPECT_EQ(Formatted(wsprintfW(buffer, u"Error Code: %d", 5), buffer), u"Error Code: 5");
  // A code with its top bit set prints as a negative number.
  EXPECT_EQ(Formatted(wsprintfW(buffer, u"%d", static_cast<int>(0x80070005u)), buffer),
            u"-2147024891");
  EXPECT_EQ(Formatted(wsprintfW(buffer, u"%d", static_cast<int>(0xFFFFFFFFu)), buffer), u"-1");
  EXPECT_EQ(Formatted(wsprintfW(buffer, u"%u", 0x80070005u), buffer), u"2147942405");
  EXPECT_EQ(Formatted(wsprintfW(buffer, u"%x %X %08x", 0xbeefu, 0xbeefu, 0x1fu), buffer),
            u"beef BEEF 0000001f");
  EXPECT_EQ(Formatted(wsprintfW(buffer, u"#%d", 206), buffer), u"#206");
  EXPECT_EQ(Formatted(wsprintfW(buffer, u"Your version of %s is up-to-date", u"Kyro 日本"), buffer),
            u"Your version of Kyro 日本 is up-to-date");
  EXPECT_EQ(Formatted(wsprintfW(buffer, u"%s\n%s|", u"Velmora\n", u""), buffer), u"Velmora\n\n|");
  EXPECT_EQ(
      Formatted(wsprintfW(buffer, u"100%% %s", static_cast<const char16_t*>(nullptr)), buffer),
      u"100% (null)");
  EXPECT_EQ(Formatted(wsprintfW(buffer, u"[%5d|%-5d|%.2s]", 42, 42, u"abc"), buffer),
            u"[   42|42   |ab]");
}

TEST(wsprintfW, StoresAtMost1023CharactersAndTheTerminator) {
  std::u16string longText(3000, u'a');
  char16_t buffer[1100];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(wsprintfW(buffer, u"x%s", longText.c_str()), 1023);
  EXPECT_EQ(buffer[1023], u'\0');
  EXPECT_EQ(buffer[1024], u'#');
}

TEST(lstrcmpiW, IgnoresCaseBeyondAscii) {
  struct Row {
    const char16_t* First;
    const char16_t* Second;
    int Sign;
  };
  const Row rows[] = {
      {u"kyro.exe", u"KYRO.EXE", 0},
      {u"Kyro.Exe", u"kyro.exe", 0},
      {u"ÄÖÜ", u"äöü", 0},
      {u"ŁÓDŹ", u"łódź", 0},
      {u"ΑΒΓ", u"αβγ", 0},
      {u"ЖУК", u"жук", 0},
      {u"kyro.exe", u"kyro.ex", 1},
      {u"kyro", u"kyro.exe", -1},
      {u"a", u"B", -1},
      {u"", u"", 0},
      {u"kyro.exe", u"kyra.exe", 1},
  };
  for (const Row& row : rows) {
    int result = lstrcmpiW(row.First, row.Second);
    EXPECT_EQ((result > 0) - (result < 0), row.Sign)
        << static_cast<int>(row.First[0]) << " vs " << static_cast<int>(row.Second[0]);
  }
}

TEST(lstrFunctions, CopyAndLength) {
  char16_t buffer[16] = {};
  EXPECT_EQ(lstrcpyW(buffer, u"kyro.exe"), buffer);
  EXPECT_EQ(std::u16string(buffer), u"kyro.exe");
  EXPECT_EQ(lstrlenW(buffer), 8);
  EXPECT_EQ(lstrlenW(u""), 0);
  EXPECT_EQ(lstrlenW(nullptr), 0);
}

}  // namespace

namespace {

TEST(WideCharToMultiByte, UTF8WithTheSizeAskedFirst) {
  const char16_t text[] = u"K\u00FC\u65E5\U0001F600\xD800!";
  const std::string expected = "K\xC3\xBC\xE6\x97\xA5\xF0\x9F\x98\x80\xEF\xBF\xBD!";
  int length = static_cast<int>(std::char_traits<char16_t>::length(text));
  ASSERT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr),
            static_cast<int>(expected.size()));
  std::string out(expected.size(), '\0');
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), static_cast<int>(out.size()),
                                nullptr, nullptr),
            static_cast<int>(expected.size()));
  EXPECT_EQ(out, expected);
  // -1 takes the terminator too; a buffer one byte short takes nothing.
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr),
            static_cast<int>(expected.size()) + 1);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(),
                                static_cast<int>(out.size()) - 1, nullptr, nullptr),
            0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

}  // namespace
