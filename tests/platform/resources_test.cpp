// Resource lookups of the emulated host: the embedded catalogue by type, name and
// language, the language fallback order of FindResourceW and LoadStringW, and string
// tables cut to a buffer's capacity.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/host.h"
#include "support/scratch_dir.h"

namespace {

using namespace platform;
using posix::EmbeddedResource;

std::string ReadWholeFile(const std::string& path) {
  std::optional<std::string> content = testing_support::ReadWholeFile(path);
  EXPECT_TRUE(content.has_value()) << path;
  return content.value_or("");
}

std::string Bytes(HMODULE module, HRSRC resource) {
  const DWORD size = SizeofResource(module, resource);
  const void* data = LockResource(LoadResource(module, resource));
  if (data == nullptr) return {};
  return std::string(static_cast<const char*>(data), size);
}

// The language of a found entry of the module's table.
LANGID LanguageOf(HRSRC resource) {
  return reinterpret_cast<const EmbeddedResource*>(resource)->Language;
}

std::u16string LoadString(HINSTANCE module, UINT id, int capacity = 256) {
  std::vector<char16_t> buffer(static_cast<std::size_t>(capacity) + 1, u'#');
  int count = LoadStringW(module, id, buffer.data(), capacity);
  std::u16string text(buffer.data());
  EXPECT_EQ(static_cast<std::size_t>(count), text.size());
  return text;
}

// Makes the thread locale `locale` for the holder's lifetime.
class ScopedThreadLocale {
 public:
  explicit ScopedThreadLocale(LCID locale) : previous_(GetThreadLocale()) {
    SetThreadLocale(locale);
  }
  ~ScopedThreadLocale() { SetThreadLocale(previous_); }

 private:
  LCID previous_;
};

// Makes `locale` the user default (as a process started with EMU_USER_LCID would see it)
// and restores the previous one at the end.
class ScopedUserLocale {
 public:
  explicit ScopedUserLocale(LCID locale) {
    environment_.emplace("EMU_USER_LCID", std::to_string(locale));
    Restart();
  }
  ~ScopedUserLocale() {
    environment_.reset();
    Restart();
  }

 private:
  static void Restart() {
    std::vector<std::string> arguments = posix::ProcessArguments();
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    posix::InitializeProcess(static_cast<int>(argv.size()), argv.data());
  }
  std::optional<testing_support::ScopedEnv> environment_;
};

// A string-table block as the resource compiler lays it out: 16 counted strings.
std::vector<unsigned char> StringBlock(const std::map<int, std::u16string>& strings) {
  std::vector<unsigned char> block;
  for (int slot = 0; slot < 16; ++slot) {
    auto found = strings.find(slot);
    std::u16string text = found == strings.end() ? u"" : found->second;
    block.push_back(text.size() & 0xFF);
    block.push_back(text.size() >> 8);
    for (char16_t c : text) {
      block.push_back(c & 0xFF);
      block.push_back(c >> 8);
    }
  }
  return block;
}

EmbeddedResource StringEntry(WORD blockId, LANGID language,
                             const std::vector<unsigned char>& data) {
  return {nullptr, 6, nullptr, blockId, language, data.data(), data.data() + data.size()};
}

// ---------------------------------------------------------------------------------------
// The embedded catalogue
// ---------------------------------------------------------------------------------------

struct CatalogueCase {
  const char* Label;
  LPCWSTR Type;
  LPCWSTR Name;
  LANGID Language;
};

TEST(EmbeddedResources, FindsEveryCatalogueEntryByTypeAndNameWhateverTheThreadLanguage) {
  const CatalogueCase cases[] = {
      {"package", u"MSP", u"IDR_MSP", 1046},
      {"package, names in other case", u"msp", u"Idr_Msp", 1046},
      {"notes by #id", u"TXT", u"#206", 1046},
      {"notes by integer id", u"TXT", MAKEINTRESOURCEW(206), 1046},
      {"manifest", RT_MANIFEST, MAKEINTRESOURCEW(1), 1033},
      {"icon group", RT_GROUP_ICON, u"IDR_MAINFRAME", 1033},
      {"first icon image", RT_ICON, MAKEINTRESOURCEW(1), 1033},
      {"last icon image", RT_ICON, MAKEINTRESOURCEW(9), 1033},
      {"block of 700", RT_STRING, MAKEINTRESOURCEW(44), 1033},
      {"block of 900", RT_STRING, MAKEINTRESOURCEW(57), 1033},
  };
  for (LCID thread : {1033u, 1041u, 1046u, 3079u, 1054u}) {
    ScopedThreadLocale locale(thread);
    for (const CatalogueCase& c : cases) {
      HRSRC found = FindResourceW(posix::MainModule(), c.Name, c.Type);
      ASSERT_NE(found, nullptr) << c.Label << " under " << thread;
      EXPECT_EQ(LanguageOf(found), c.Language) << c.Label << " under " << thread;
      EXPECT_GT(SizeofResource(posix::MainModule(), found), 0u) << c.Label;
    }
  }
}

// The whole table, so that a stray language, a second copy of the package or notes, or a
// resource nobody asked for (a version block, say) shows.
TEST(EmbeddedResources, TheCatalogueHoldsItsEntriesAndNothingElse) {
  auto part = [](const char16_t* text, WORD id) {
    return text != nullptr ? posix::ToUtf8(text) : std::to_string(id);
  };
  std::multiset<std::string> found;
  const HINSTANCE__* module = posix::MainModule();
  for (std::size_t i = 0; i < module->Count; ++i) {
    const EmbeddedResource& entry = module->Resources[i];
    found.insert(part(entry.TypeName, entry.TypeId) + " " + part(entry.Name, entry.NameId) + " " +
                 std::to_string(entry.Language));
  }
  std::multiset<std::string> expected = {
      "MSP IDR_MSP 1046",       // the package
      "TXT 206 1046",           // the deployment notes
      "6 44 1033",              // string block of 700
      "6 57 1033",              // string block of 900
      "14 IDR_MAINFRAME 1033",  // icon group
      "24 1 1033",              // manifest
  };
  for (int image = 1; image <= 9; ++image) expected.insert("3 " + std::to_string(image) + " 1033");
  // The message texts: blocks 19 (300, 301) and 20 (306 to 316) in every language.
  for (int language :
       {1028, 1029, 1031, 1033, 1034, 1036, 1038, 1040, 1041, 1042, 1045, 1046, 1049, 2052}) {
    expected.insert("6 19 " + std::to_string(language));
    expected.insert("6 20 " + std::to_string(language));
  }
  EXPECT_EQ(found, expected);
}

TEST(EmbeddedResources, ReportsMissingTypesAndNames) {
  SetLastError(0);
  EXPECT_EQ(FindResourceW(posix::MainModule(), u"#207", u"TXT"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_EQ(FindResourceW(posix::MainModule(), u"IDR_MSP", u"MSPX"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
  // "#" followed by other than digits is a name, not an id.
  EXPECT_EQ(FindResourceW(posix::MainModule(), u"#20x", u"TXT"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  // FindResourceExW asks for one language exactly.
  EXPECT_EQ(FindResourceExW(posix::MainModule(), u"MSP", u"IDR_MSP", 1033), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_LANG_NOT_FOUND);
  EXPECT_NE(FindResourceExW(posix::MainModule(), u"MSP", u"IDR_MSP", 1046), nullptr);
}

TEST(EmbeddedResources, PackageEqualsThePackageFileByteForByte) {
  HRSRC found = FindResourceW(posix::MainModule(), u"IDR_MSP", u"MSP");
  ASSERT_NE(found, nullptr);
  const std::string file = ReadWholeFile(SPSETUP_SAMPLE_PACKAGE);
  ASSERT_FALSE(file.empty());
  EXPECT_TRUE(Bytes(posix::MainModule(), found) == file);
}

TEST(EmbeddedResources, NotesHoldTheEightKeysInOrderWithCrLfLineEnds) {
  HRSRC found = FindResourceW(posix::MainModule(), u"#206", u"TXT");
  ASSERT_NE(found, nullptr);
  const std::string notes = Bytes(posix::MainModule(), found);
  EXPECT_EQ(notes, ReadWholeFile(std::string(SPSETUP_SOURCE_DIR) + "/resources/notes206.txt"));
  const char* keys[] = {"ProductCode", "ProductVersionCandidate", "PatchTitle",
                        "PatchGUID",   "PatchFileLocation",       "PatchSize",
                        "PatchDesc",   "PatchDescLocation"};
  std::size_t at = 0;
  for (const char* key : keys) {
    std::size_t end = notes.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << key;
    std::string line = notes.substr(at, end - at);
    EXPECT_EQ(line.substr(0, line.find('=')), key);
    EXPECT_EQ(line.find('\n'), std::string::npos) << key;
    EXPECT_EQ(line.find('\r'), std::string::npos) << key;
    for (char c : line) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << key;
    at = end + 2;
  }
  EXPECT_EQ(at, notes.size());
}

TEST(EmbeddedResources, ManifestAsksForTheHighestAvailableRights) {
  HRSRC found = FindResourceW(posix::MainModule(), MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_NE(found, nullptr);
  const std::string manifest = Bytes(posix::MainModule(), found);
  EXPECT_NE(manifest.find("urn:schemas-microsoft-com:asm.v1"), std::string::npos);
  EXPECT_NE(manifest.find("manifestVersion=\"1.0\""), std::string::npos);
  EXPECT_NE(manifest.find("urn:schemas-microsoft-com:asm.v2"), std::string::npos);
  EXPECT_NE(manifest.find("level=\"highestAvailable\""), std::string::npos);
  EXPECT_NE(manifest.find("uiAccess=\"False\""), std::string::npos);
  // The trust block is all it declares: no dependent assembly, no compatibility or
  // settings block.
  std::vector<std::string> elements;
  for (std::size_t at = manifest.find('<'); at != std::string::npos;
       at = manifest.find('<', at + 1)) {
    const char next = at + 1 < manifest.size() ? manifest[at + 1] : '/';
    if (next == '/' || next == '?' || next == '!') continue;
    elements.push_back(manifest.substr(at + 1, manifest.find_first_of(" \t\r\n/>", at) - at - 1));
  }
  EXPECT_EQ(elements, (std::vector<std::string>{"assembly", "trustInfo", "security",
                                                "requestedPrivileges", "requestedExecutionLevel"}));
}

// The icon group's directory names nine images whose own headers agree with it.
TEST(EmbeddedResources, IconGroupHoldsNineImagesOfThreeSizesAndDepths) {
  HMODULE module = posix::MainModule();
  HRSRC group = FindResourceW(module, u"IDR_MAINFRAME", RT_GROUP_ICON);
  ASSERT_NE(group, nullptr);
  const std::string directory = Bytes(module, group);
  auto word = [](const std::string& bytes, std::size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>(bytes[at]) |
                                 static_cast<unsigned char>(bytes[at + 1]) << 8);
  };
  auto dword = [&](const std::string& bytes, std::size_t at) {
    return word(bytes, at) | word(bytes, at + 2) << 16;
  };
  ASSERT_EQ(directory.size(), 6u + 14u * 9u);
  EXPECT_EQ(word(directory, 2), 1u);
  ASSERT_EQ(word(directory, 4), 9u);
  std::multimap<unsigned, unsigned> images;  // size -> bits per pixel
  for (unsigned i = 0; i < 9; ++i) {
    const std::size_t entry = 6 + 14 * i;
    const unsigned size = static_cast<unsigned char>(directory[entry]);
    const unsigned bits = word(directory, entry + 6);
    images.emplace(size, bits);
    HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(word(directory, entry + 12)), RT_ICON);
    ASSERT_NE(image, nullptr) << "image " << i;
    const std::string bitmap = Bytes(module, image);
    ASSERT_EQ(bitmap.size(), dword(directory, entry + 8)) << "image " << i;
    EXPECT_EQ(dword(bitmap, 0), 40u);       // a device-independent bitmap
    EXPECT_EQ(dword(bitmap, 4), size);      // width
    EXPECT_EQ(dword(bitmap, 8), 2 * size);  // image and AND mask
    EXPECT_EQ(word(bitmap, 14), bits);
  }
  for (unsigned size : {48u, 32u, 16u}) {
    auto [first, last] = images.equal_range(size);
    std::multiset<unsigned> depths;
    for (auto it = first; it != last; ++it) depths.insert(it->second);
    EXPECT_EQ(depths, (std::multiset<unsigned>{4, 8, 24})) << size << " pixels";
  }
}

TEST(EmbeddedResources, VersionStringsAreFoundUnderALanguageWithoutThem) {
  ScopedThreadLocale locale(1041);
  EXPECT_EQ(LoadString(posix::MainModule(), 700), u"5.2.0.0");
  EXPECT_EQ(LoadString(posix::MainModule(), 900), u"5.0.60.2,5.1.8.0,");
}

TEST(EmbeddedResources, EnglishTextsAreExactAnd314IsEmpty) {
  ScopedThreadLocale locale(1033);
  EXPECT_EQ(LoadString(posix::MainModule(), 300),
            u"A problem prevented the service pack from being installed. Contact your system "
            u"administrator. \n\n Error Code: %d");
  EXPECT_EQ(LoadString(posix::MainModule(), 306),
            u"Your version of %s is up-to-date and this service pack is not necessary");
  EXPECT_EQ(LoadString(posix::MainModule(), 315),
            u"The installer has detected that the following programs\nare running.\n\n%s\nIn "
            u"order to complete installation, these programs must\nbe closed.\n%s");
  EXPECT_EQ(LoadString(posix::MainModule(), 314), u"");
  for (UINT id : {300u, 301u, 306u, 307u, 308u, 309u, 310u, 311u, 312u, 313u, 315u, 316u}) {
    EXPECT_FALSE(LoadString(posix::MainModule(), id).empty()) << id;
  }
}

TEST(EmbeddedResources, ThreadLanguageSelectsItsOwnTable) {
  std::u16string english, german;
  {
    ScopedThreadLocale locale(1033);
    english = LoadString(posix::MainModule(), 311);
  }
  {
    ScopedThreadLocale locale(1031);
    german = LoadString(posix::MainModule(), 311);
  }
  EXPECT_EQ(english, u"Installation Error");
  EXPECT_FALSE(german.empty());
  EXPECT_NE(german, english);
}

// ---------------------------------------------------------------------------------------
// Language order and string tables, over a table of the test's own
// ---------------------------------------------------------------------------------------

class LanguageOrder : public ::testing::Test {
 protected:
  // Block 19 holds ids 288 to 303: id 300 is slot 12.
  const std::vector<unsigned char> german_ = StringBlock({{12, u"de"}});
  const std::vector<unsigned char> english_ = StringBlock({{12, u"en"}, {13, u"English only"}});
  const std::vector<unsigned char> portuguese_ = StringBlock({{12, u"pt-PT"}});
  const std::vector<unsigned char> brazilian_ = StringBlock({{12, u"pt-BR"}});
  const EmbeddedResource table_[3] = {StringEntry(19, 1031, german_),
                                      StringEntry(19, 1033, english_),
                                      StringEntry(19, 2070, portuguese_)};
  const EmbeddedResource brazilianOnly_[1] = {StringEntry(19, 1046, brazilian_)};
  HINSTANCE module_ = posix::MakeModule(table_, 3);
};

TEST_F(LanguageOrder, FollowsThreadPrimaryUserDefaultEnglishThenAny) {
  struct Case {
    LCID Thread;
    LCID User;
    bool BrazilianOnly;
    const char16_t* Expected;
    LANGID Language;
  } cases[] = {
      {1031, 1033, false, u"de", 1031},     // the thread's own table
      {3079, 1033, false, u"de", 1031},     // de-AT: the same primary language
      {1041, 1031, false, u"de", 1031},     // no Japanese table: the user default
      {1041, 1046, false, u"pt-PT", 2070},  // the user default's primary language
      {1041, 1049, false, u"en", 1033},     // neither has a table: English (United States)
      {1041, 1049, true, u"pt-BR", 1046},   // no English either: the table there is
      {1046, 1033, true, u"pt-BR", 1046},
  };
  for (const Case& c : cases) {
    ScopedUserLocale user(c.User);
    ScopedThreadLocale thread(c.Thread);
    HINSTANCE module = c.BrazilianOnly ? posix::MakeModule(brazilianOnly_, 1) : module_;
    EXPECT_EQ(LoadString(module, 300), c.Expected) << "thread " << c.Thread << ", user " << c.User;
    HRSRC block = FindResourceW(module, MAKEINTRESOURCEW(19), RT_STRING);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(LanguageOf(block), c.Language) << "thread " << c.Thread << ", user " << c.User;
  }
}

// Chinese has two tables, told apart by script rather than by primary language: the first
// Chinese table in module order (1028) is wrong for Singapore and neutral Simplified.
TEST(ChineseTables, EachChineseLanguageReadsItsScriptsTable) {
  const struct {
    LCID Thread;
    LCID User;
    LANGID Language;
  } cases[] = {
      // Simplified: the PRC, Singapore, neutral.
      {0x0804, 1033, 2052},
      {0x1004, 1033, 2052},
      {0x0004, 1033, 2052},
      // Traditional: Taiwan, Hong Kong, Macau, neutral.
      {0x0404, 1033, 1028},
      {0x0C04, 1033, 1028},
      {0x1404, 1033, 1028},
      {0x7C04, 1033, 1028},
      // No Thai table: the user default's script.
      {1054, 0x1004, 2052},
      {1054, 0x0004, 2052},
      {1054, 0x1404, 1028},
      {1054, 0x7C04, 1028},
      // SetThreadLocale(0): the user default.
      {0, 0x1004, 2052},
      {0, 0x0C04, 1028},
  };
  const std::u16string simplified = [] {
    ScopedThreadLocale exact(2052);
    return LoadString(posix::MainModule(), 311);
  }();
  const std::u16string traditional = [] {
    ScopedThreadLocale exact(1028);
    return LoadString(posix::MainModule(), 311);
  }();
  ASSERT_NE(simplified, traditional);
  for (const auto& c : cases) {
    ScopedUserLocale user(c.User);
    ScopedThreadLocale thread(c.Thread);
    for (WORD block : {19, 20}) {
      HRSRC found = FindResourceW(posix::MainModule(), MAKEINTRESOURCEW(block), RT_STRING);
      ASSERT_NE(found, nullptr);
      EXPECT_EQ(LanguageOf(found), c.Language)
          << "thread " << c.Thread << ", user " << c.User << ", block " << block;
    }
    EXPECT_EQ(LoadString(posix::MainModule(), 311), c.Language == 2052 ? simplified : traditional)
        << "thread " << c.Thread << ", user " << c.User;
  }
  // A module without the script's table still reads Chinese before English.
  const std::vector<unsigned char> traditionalOnly = StringBlock({{12, u"zh-TW"}});
  const std::vector<unsigned char> english = StringBlock({{12, u"en"}});
  const EmbeddedResource table[] = {StringEntry(19, 1028, traditionalOnly),
                                    StringEntry(19, 1033, english)};
  ScopedThreadLocale singapore(0x1004);
  EXPECT_EQ(LoadString(posix::MakeModule(table, 2), 300), u"zh-TW");
}

TEST(ThreadLocale, ZeroAndTheDefaultConstantsSelectTheUserDefault) {
  ScopedUserLocale user(1031);
  for (LCID constant : {0x0u, 0x0400u, 0x0800u}) {
    ASSERT_TRUE(SetThreadLocale(1041));
    EXPECT_TRUE(SetThreadLocale(constant)) << constant;
    EXPECT_EQ(GetThreadLocale(), 1031u) << constant;
  }
  // A locale without a language is still refused, and the thread keeps its own.
  ASSERT_TRUE(SetThreadLocale(1041));
  EXPECT_FALSE(SetThreadLocale(0x10000));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetThreadLocale(), 1041u);
  SetThreadLocale(0);
}

TEST_F(LanguageOrder, AStringMissingInTheChosenTableIsNotTakenFromAnother) {
  // As on Windows, the language picks the block; an empty slot there stays empty.
  ScopedThreadLocale thread(1031);
  EXPECT_EQ(LoadString(module_, 301), u"");
  ScopedThreadLocale english(1033);
  EXPECT_EQ(LoadString(module_, 301), u"English only");
}

TEST_F(LanguageOrder, CutsToCapacityAndTerminates) {
  ScopedThreadLocale thread(1033);
  EXPECT_EQ(LoadString(module_, 301, 13), u"English only");
  EXPECT_EQ(LoadString(module_, 301, 8), u"English");
  EXPECT_EQ(LoadString(module_, 301, 1), u"");

  // A capacity of 0 hands out a read-only pointer to the text, which is not terminated.
  LPCWSTR text = nullptr;
  int length = LoadStringW(module_, 301, reinterpret_cast<LPWSTR>(&text), 0);
  ASSERT_EQ(length, 12);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::u16string(text, 12), u"English only");
}

TEST(StringTables, MissingTablesBlocksAndSlotsGiveNothing) {
  const std::vector<unsigned char> block = StringBlock({{12, u"text"}});
  const std::vector<unsigned char> cut(block.begin(), block.begin() + 30);  // slot 12 cut off
  const unsigned char data[] = {1, 2, 3};
  const EmbeddedResource withoutStrings[] = {
      {u"TXT", 0, nullptr, 206, 1046, data, data + sizeof data}};
  const EmbeddedResource withBlock19[] = {StringEntry(19, 1033, block)};
  const EmbeddedResource withCutBlock[] = {StringEntry(19, 1033, cut)};
  HINSTANCE noStrings = posix::MakeModule(withoutStrings, 1);
  HINSTANCE oneBlock = posix::MakeModule(withBlock19, 1);
  HINSTANCE cutBlock = posix::MakeModule(withCutBlock, 1);

  char16_t buffer[16] = u"untouched";
  SetLastError(0);
  EXPECT_EQ(LoadStringW(noStrings, 300, buffer, 16), 0);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
  EXPECT_EQ(buffer[0], u'\0');

  std::memcpy(buffer, u"untouched", sizeof u"untouched");
  EXPECT_EQ(LoadStringW(oneBlock, 700, buffer, 16), 0);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_EQ(buffer[0], u'\0');

  EXPECT_EQ(LoadString(oneBlock, 301), u"");  // an empty slot of a present block
  EXPECT_EQ(LoadString(oneBlock, 300), u"text");
  EXPECT_EQ(LoadString(cutBlock, 300), u"");  // a block cut short holds no text

  EXPECT_EQ(FindResourceW(noStrings, u"#206", u"txt") != nullptr, true);
  EXPECT_EQ(Bytes(noStrings, FindResourceW(noStrings, u"#206", u"TXT")), "\x01\x02\x03");
}

}  // namespace
