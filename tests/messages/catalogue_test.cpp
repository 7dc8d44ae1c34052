// The string tables as the build embeds them, and the lookup of one text.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "messages/message_catalogue.h"
#include "messages/message_ids.h"
#include "platform/platform.h"
#include "platform/posix/host.h"

namespace {

using platform::LANGID;
using platform::UINT;

constexpr std::array<LANGID, 14> kLanguages = {1028, 1029, 1031, 1033, 1034, 1036, 1038,
                                               1040, 1041, 1042, 1045, 1046, 1049, 2052};
constexpr std::array<UINT, 12> kMessageTextIds = {300, 301, 306, 307, 308, 309,
                                                  310, 311, 312, 313, 315, 316};

// Entry `id` of the string table filed under exactly `language`, read from its block of
// sixteen counted strings; std::nullopt when the language has no such block.
std::optional<std::u16string> TableEntry(UINT id, LANGID language) {
  platform::HINSTANCE module = platform::posix::MainModule();
  platform::HRSRC block = platform::FindResourceExW(
      module, platform::RT_STRING, platform::MAKEINTRESOURCEW(id / 16 + 1), language);
  if (block == nullptr) return std::nullopt;
  const auto* data =
      static_cast<const char16_t*>(platform::LockResource(platform::LoadResource(module, block)));
  const std::size_t units = platform::SizeofResource(module, block) / sizeof(char16_t);
  std::size_t at = 0;
  for (UINT slot = 0; slot < id % 16; ++slot) {
    if (at >= units) return std::nullopt;
    at += 1 + data[at];
  }
  if (at >= units || at + 1 + data[at] > units) return std::nullopt;
  return std::u16string(data + at + 1, data[at]);
}

// The %d and %s conversions of a text, in order.
std::u16string Placeholders(const std::u16string& text) {
  std::u16string found;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == u'%') {
      found += text[i + 1];
      ++i;
    }
  }
  return found;
}

std::size_t LineBreaks(const std::u16string& text) {
  std::size_t count = 0;
  for (char16_t c : text) count += c == u'\n';
  return count;
}

class ThreadLocale : public testing::Test {
 protected:
  ~ThreadLocale() override { platform::SetThreadLocale(saved_); }
  platform::LCID saved_ = platform::GetThreadLocale();
};

TEST(StringTables, EveryLanguageHoldsEveryTextWithTheEnglishPlaceholders) {
  for (UINT id : kMessageTextIds) {
    std::optional<std::u16string> english = TableEntry(id, 1033);
    ASSERT_TRUE(english && !english->empty()) << "English text " << id;
    for (LANGID language : kLanguages) {
      SCOPED_TRACE(testing::Message() << "text " << id << ", language " << language);
      std::optional<std::u16string> text = TableEntry(id, language);
      ASSERT_TRUE(text.has_value());
      EXPECT_FALSE(text->empty());
      EXPECT_EQ(Placeholders(*text), Placeholders(*english));
      EXPECT_EQ(LineBreaks(*text), LineBreaks(*english));
      // Every caller loads with 256 characters; the catalogue keeps well within them.
      EXPECT_LE(text->size(), 243u);
      if (language != 1033) {
        EXPECT_NE(*text, *english) << "left untranslated";
      }
    }
  }
}

// A text pasted over its neighbour (two captions alike, say) leaves every id present and
// every placeholder right; only comparing the texts of one language shows it.
TEST(StringTables, NoTwoTextsOfALanguageAreAlike) {
  for (LANGID language : kLanguages) {
    for (std::size_t i = 0; i < kMessageTextIds.size(); ++i) {
      for (std::size_t j = i + 1; j < kMessageTextIds.size(); ++j) {
        EXPECT_NE(TableEntry(kMessageTextIds[i], language).value_or(u"?"),
                  TableEntry(kMessageTextIds[j], language).value_or(u"!"))
            << "language " << language << ": " << kMessageTextIds[i] << " and "
            << kMessageTextIds[j];
      }
    }
  }
}

TEST(StringTables, EnglishPlaceholdersAreTheOnesTheMessagesFill) {
  const std::pair<UINT, std::u16string> expected[] = {
      {300, u"d"}, {301, u""}, {306, u"s"}, {307, u""}, {308, u"s"},  {309, u""},
      {310, u""},  {311, u""}, {312, u""},  {313, u""}, {315, u"ss"}, {316, u""},
  };
  for (const auto& [id, placeholders] : expected) {
    EXPECT_EQ(Placeholders(TableEntry(id, 1033).value_or(u"?")), placeholders) << id;
  }
}

TEST(StringTables, EveryTextOf307NamesTheMaker) {
  for (LANGID language : kLanguages) {
    std::u16string text = TableEntry(kMessageNoTargetProduct, language).value_or(u"");
    EXPECT_NE(text.find(u"Norvane"), std::u16string::npos) << language;
  }
}

TEST(StringTables, Text314IsEmptyInEveryLanguage) {
  for (LANGID language : kLanguages) {
    EXPECT_EQ(TableEntry(kMessageWithoutText, language).value_or(u""), u"") << language;
  }
}

TEST(StringTables, VersionsAreFiledInEnglishOnly) {
  for (UINT id : {kTextTargetVersion, kTextApplicableVersions}) {
    EXPECT_TRUE(TableEntry(id, 1033).has_value()) << id;
    for (LANGID language : kLanguages) {
      if (language != 1033) {
        EXPECT_FALSE(TableEntry(id, language).has_value()) << id;
      }
    }
  }
}

TEST_F(ThreadLocale, VersionsLoadUnderEveryThreadLanguage) {
  std::u16string target;
  std::u16string applicable;
  platform::SetThreadLocale(1033);
  ASSERT_GT(LoadMessageText(platform::posix::MainModule(), kTextTargetVersion, target,
                            kMessageTextCapacity),
            0);
  ASSERT_GT(LoadMessageText(platform::posix::MainModule(), kTextApplicableVersions, applicable,
                            kMessageTextCapacity),
            0);
  std::vector<platform::LCID> locales(kLanguages.begin(), kLanguages.end());
  locales.push_back(1053);  // Swedish: a language without a table of its own
  locales.push_back(platform::LOCALE_USER_DEFAULT);
  for (platform::LCID locale : locales) {
    SCOPED_TRACE(locale);
    ASSERT_TRUE(platform::SetThreadLocale(locale));
    std::u16string text;
    EXPECT_EQ(LoadMessageText(platform::posix::MainModule(), kTextTargetVersion, text,
                              kMessageTextCapacity),
              static_cast<int>(target.size()));
    EXPECT_EQ(text, target);
    EXPECT_EQ(LoadMessageText(platform::posix::MainModule(), kTextApplicableVersions, text,
                              kMessageTextCapacity),
              static_cast<int>(applicable.size()));
    EXPECT_EQ(text, applicable);
  }
}

TEST_F(ThreadLocale, LoadsTheTextOfTheThreadLanguage) {
  for (LANGID language : kLanguages) {
    ASSERT_TRUE(platform::SetThreadLocale(language));
    for (UINT id : kMessageTextIds) {
      std::u16string text;
      int count = LoadMessageText(platform::posix::MainModule(), id, text, kMessageTextCapacity);
      EXPECT_EQ(text, TableEntry(id, language).value_or(u"?")) << language << " " << id;
      EXPECT_EQ(count, static_cast<int>(text.size()));
    }
  }
}

TEST_F(ThreadLocale, ReplacesTheTextAndKeepsWithinTheCapacity) {
  platform::SetThreadLocale(1033);
  platform::HINSTANCE module = platform::posix::MainModule();
  const std::u16string full = TableEntry(kMessageInstallSucceeded, 1033).value();

  std::u16string text = u"left over";
  EXPECT_EQ(LoadMessageText(module, kMessageInstallSucceeded, text, 10), 9);
  EXPECT_EQ(text, full.substr(0, 9));

  // A text missing altogether, and the empty slot 314: nothing of the old content stays.
  for (UINT missing : {UINT{kMessageWithoutText}, UINT{4321}}) {
    text = u"left over";
    EXPECT_EQ(LoadMessageText(module, missing, text, kMessageTextCapacity), 0) << missing;
    EXPECT_EQ(text, u"") << missing;
  }

  // No room but for the terminator.
  text = u"left over";
  EXPECT_EQ(LoadMessageText(module, kMessageInstallSucceeded, text, 1), 0);
  EXPECT_EQ(text, u"");
  text = u"left over";
  EXPECT_EQ(LoadMessageText(module, kMessageInstallSucceeded, text, 0), 0);
  EXPECT_EQ(text, u"");
}

}  // namespace
