#include "payload/patch_list.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <list>
#include <optional>
#include <string>
#include <vector>

#include "app/process_state.h"
#include "messages/message_ids.h"
#include "platform/posix/files.h"
#include "platform/posix/host.h"
#include "products/patch_targets.h"
#include "support/dialog_log.h"
#include "support/scratch_dir.h"

namespace {

using platform::posix::EmbeddedResource;
using testing_support::DialogRecord;
using testing_support::ReadDialogLog;
using testing_support::ScopedEnv;
using testing_support::ScratchDir;

const std::string kNoteA =
    "ProductCode={6F0C2A51-5B2E-4D7A-9C3E-0A1B2C3D4E51}\r\nPatchTitle=First note\r\n";
const std::string kNoteB = "ProductCode={A3D91E07-7C44-4B19-8E2F-3C5D6E7F8091}\r\nPatchSize=7\r\n";
const std::string kNoteC = "PatchTitle=Never reached\r\n";

std::string Block(const std::string& note) { return "*****\r\n" + note + "\r\n"; }

std::string Utf8(const std::u16string& text) { return platform::posix::ToUtf8(text); }

bool Exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

// A note resource for a module of the test's own.
struct Note {
  platform::WORD Id;
  const std::string* Bytes;  // null: an empty resource
};

// The executable's own resources (texts, package) with the "TXT" notes replaced by
// `notes`. `package`: the executable's own when not given, none when null, else these
// bytes. The table lives as long as the process, as the module does.
platform::HINSTANCE ModuleWithNotes(const std::vector<Note>& notes,
                                    std::optional<const std::string*> package = std::nullopt) {
  static std::list<std::vector<EmbeddedResource>> tables;
  std::vector<EmbeddedResource>* table = &tables.emplace_back();
  for (std::size_t i = 0; i < spsetup_embedded_resource_count; ++i) {
    const EmbeddedResource& resource = spsetup_embedded_resources[i];
    std::u16string type = resource.TypeName != nullptr ? resource.TypeName : u"";
    if (type == u"TXT" || (type == u"MSP" && package)) continue;
    table->push_back(resource);
  }
  if (package && *package != nullptr) {
    const auto* bytes = reinterpret_cast<const unsigned char*>((*package)->data());
    table->push_back({u"MSP", 0, u"IDR_MSP", 0, 1046, bytes, bytes + (*package)->size()});
  }
  for (const Note& note : notes) {
    const auto* begin = reinterpret_cast<const unsigned char*>(
        note.Bytes != nullptr ? note.Bytes->data() : kNoteA.data());
    const auto* end = note.Bytes != nullptr ? begin + note.Bytes->size() : begin;
    table->push_back({u"TXT", 0, nullptr, note.Id, 1046, begin, end});
  }
  return platform::posix::MakeModule(table->data(), table->size());
}

// The text of string `id` as ShowMessage loads it, in the thread's language.
std::string Text(platform::UINT id) {
  char16_t buffer[256];
  platform::LoadStringW(ModuleInstance, id, buffer, 256);
  return Utf8(buffer);
}

class PatchList : public testing::Test {
 protected:
  void SetUp() override {
    ModuleInstance = ModuleWithNotes({{206, &kNoteA}});
    RunOptions.Quiet = false;
  }
  void TearDown() override {
    ModuleInstance = nullptr;
    RunOptions.Quiet = false;
  }

  // The boxes shown so far, as text ids: 310 and 300 are told apart by their texts.
  std::vector<std::string> Boxes() {
    std::vector<std::string> texts;
    for (const DialogRecord& box : ReadDialogLog(scratch.Join("dialogs.log"))) {
      EXPECT_EQ(box.CaptionUtf8, Text(kCaptionInstallError));
      texts.push_back(box.TextUtf8);
    }
    return texts;
  }

  std::string ReadList(const std::string& name = "list.txt") {
    return scratch.ReadFile(name).value_or("<missing>");
  }

  ScratchDir scratch;
  ScratchDir temp;
  ScopedEnv tmp{"TMP", temp.Path()};
  ScopedEnv log{"EMU_DIALOG_LOG", scratch.Join("dialogs.log")};
  ScopedEnv script{"EMU_DIALOG_SCRIPT", "ok"};
};

TEST_F(PatchList, EachRunAppendsItsBlocksAfterWhatIsThere) {
  scratch.WriteFile("list.txt", "kept as it was\r\n");
  std::u16string path = scratch.JoinW("list.txt");
  ASSERT_TRUE(WritePatchList(path));
  EXPECT_EQ(path, scratch.JoinW("list.txt"));
  EXPECT_EQ(ReadList(), "kept as it was\r\n" + Block(kNoteA));

  ModuleInstance = ModuleWithNotes({{206, &kNoteB}});
  ASSERT_TRUE(WritePatchList(path));
  EXPECT_EQ(ReadList(), "kept as it was\r\n" + Block(kNoteA) + Block(kNoteB));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(PatchList, CopiesNotesInIdOrderUntilTheFirstMissingId) {
  ModuleInstance =
      ModuleWithNotes({{208, &kNoteC}, {207, &kNoteB}, {206, &kNoteA}, {210, &kNoteC}});
  std::u16string path = scratch.JoinW("list.txt");
  ASSERT_TRUE(WritePatchList(path));
  EXPECT_EQ(ReadList(), Block(kNoteA) + Block(kNoteB) + Block(kNoteC));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(PatchList, WithoutTheFirstNoteTheFileIsCreatedEmptyAndMessage310Shown) {
  ModuleInstance = ModuleWithNotes({{207, &kNoteB}});
  std::u16string path = scratch.JoinW("list.txt");
  EXPECT_TRUE(WritePatchList(path));
  EXPECT_EQ(ReadList(), "");
  EXPECT_EQ(Boxes(), std::vector<std::string>{Text(kMessagePatchListFailed)});
}

TEST_F(PatchList, AnEmptyNoteEndsTheCopyingWithMessage300AndKeepsEarlierBlocks) {
  ModuleInstance = ModuleWithNotes({{206, &kNoteA}, {207, nullptr}, {208, &kNoteC}});
  std::u16string path = scratch.JoinW("list.txt");
  EXPECT_TRUE(WritePatchList(path));
  EXPECT_EQ(ReadList(), Block(kNoteA));
  std::vector<std::string> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  // Message 300 with the code the failing resource call left, whatever it is.
  std::string text300 = Text(kMessageInstallFailed);
  EXPECT_EQ(boxes[0].substr(0, text300.find("%d")), text300.substr(0, text300.find("%d")));
}

TEST_F(PatchList, AListInAPlaceThatCannotBeWrittenShows310AndCreatesNothing) {
  scratch.WriteFile("plain-file", "");
  ASSERT_EQ(mkdir(scratch.Join("a-directory").c_str(), 0755), 0);
  for (const char* name : {"missing/list.txt", "plain-file/list.txt", "a-directory"}) {
    SCOPED_TRACE(name);
    std::u16string path = scratch.JoinW(name);
    EXPECT_FALSE(WritePatchList(path));
    EXPECT_EQ(path, scratch.JoinW(name));
  }
  EXPECT_FALSE(Exists(scratch.Join("missing")));
  EXPECT_EQ(ReadList("plain-file"), "");
  EXPECT_EQ(Boxes(), std::vector<std::string>(3, Text(kMessagePatchListFailed)));
}

TEST_F(PatchList, QuietRunsShowNothingButStillFail) {
  RunOptions.Quiet = true;
  std::u16string path = scratch.JoinW("missing/list.txt");
  EXPECT_FALSE(WritePatchList(path));
  ModuleInstance = ModuleWithNotes({});
  path = scratch.JoinW("list.txt");
  EXPECT_TRUE(WritePatchList(path));
  EXPECT_TRUE(Boxes().empty());
}

// A disk that fills up after `budget` more bytes: the write that reaches the limit takes
// what fits and fails; the writes after it go through again (space was freed).
long long writeBudget = -1;

ssize_t WriteUntilFull(int descriptor, const void* data, std::size_t count) {
  if (writeBudget < 0) return ::write(descriptor, data, count);
  if (writeBudget == 0) {
    writeBudget = -1;
    errno = ENOSPC;
    return -1;
  }
  std::size_t taken = std::min<std::size_t>(count, static_cast<std::size_t>(writeBudget));
  ssize_t written = ::write(descriptor, data, taken);
  if (written > 0) writeBudget -= written;
  return written;
}

TEST_F(PatchList, ABlockWhoseWriteFailsIsCutOffAndTheNextNoteStillLands) {
  ModuleInstance = ModuleWithNotes({{206, &kNoteA}, {207, &kNoteB}});
  const std::string before = "an older block\r\n";
  const long long separator = 7, note = static_cast<long long>(kNoteA.size());
  // Where the disk fills: in or after the separator, in or after the note, in the line end.
  const long long budgets[] = {
      0, 3, separator, separator + 10, separator + note, separator + note + 1};
  platform::posix::WriteCall previous = platform::posix::FileWriteCall;
  for (long long budget : budgets) {
    SCOPED_TRACE(budget);
    scratch.WriteFile("list.txt", before);
    writeBudget = budget;
    platform::posix::FileWriteCall = WriteUntilFull;
    std::u16string path = scratch.JoinW("list.txt");
    bool result = WritePatchList(path);
    platform::posix::FileWriteCall = previous;
    EXPECT_TRUE(result);
    EXPECT_EQ(writeBudget, -1) << "the disk never filled";
    EXPECT_EQ(ReadList(), before + Block(kNoteB));
  }
  EXPECT_TRUE(Boxes().empty());
}

TEST(PatchListName, TakesFourCharactersAfterTheFirstDashOfWhatFollowsTheFirstColon) {
  struct Case {
    std::u16string Targets;
    std::u16string Name;
  };
  const Case cases[] = {
      {u"{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE};{11111111-2222-3333-4444-555555555555}",
       u"patchlistBBBB.txt"},
      {u"", u"patchlist.txt"},
      {u"ABCD-EF", u"patchlistEF.txt"},
      {u"ABCD-", u"patchlist.txt"},
      {u"ABCDEFGH", u"patchlistABCD.txt"},
      {u"AB", u"patchlistAB.txt"},
      {u"x:{AAAAAAAA-BBBB-CCCC}", u"patchlistBBBB.txt"},
      {u"pre-fix:{AAAAAAAA-1234-CCCC}", u"patchlist1234.txt"},
      {u"a:b:c-defgh", u"patchlistdefg.txt"},
      {u"ab:cdefgh", u"patchlistcdef.txt"},
      {u"ab-cd:", u"patchlist.txt"},
      {u";{AAAAAAAA-BBBB}", u"patchlistBBBB.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.Targets));
    EXPECT_EQ(Utf8(PatchListNameFromTargets(c.Targets)), Utf8(c.Name));
  }
}

// The default name, in the current directory: from the embedded package's target list, or
// "patchlist.txt" when the list cannot be read.
class DefaultPatchListName : public PatchList {
 protected:
  void SetUp() override {
    PatchList::SetUp();
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(scratch.Path().c_str()), 0);
  }
  void TearDown() override {
    EXPECT_EQ(chdir(previous), 0);
    PatchList::TearDown();
  }
  char previous[4096];
};

TEST_F(DefaultPatchListName, ComesFromTheSecondGroupOfThePackagesFirstCode) {
  std::u16string targets;
  ASSERT_TRUE(ReadPatchTargets(platform::posix::FromUtf8(SPSETUP_SAMPLE_PACKAGE), targets));
  std::string list = Utf8(targets);
  ASSERT_EQ(list.substr(0, 1), "{") << list;
  std::string secondGroup = list.substr(10, 4);  // {AAAAAAAA-BBBB-...
  ASSERT_EQ(list[9], '-');

  std::u16string path;
  ASSERT_TRUE(WritePatchList(path));
  EXPECT_EQ(Utf8(path), "patchlist" + secondGroup + ".txt");
  EXPECT_EQ(ReadList(Utf8(path)), Block(kNoteA));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(DefaultPatchListName, IsPatchlistTxtWhenThePackageOrItsListCannotBeRead) {
  // No package at all, then a package resource that is no installer package.
  static const std::string notAPackage = "not an installer package";
  platform::HINSTANCE withoutPackage = ModuleWithNotes({{206, &kNoteA}}, nullptr);
  platform::HINSTANCE badPackage = ModuleWithNotes({{206, &kNoteA}}, &notAPackage);

  for (platform::HINSTANCE module : {withoutPackage, badPackage}) {
    ModuleInstance = module;
    std::u16string path;
    ASSERT_TRUE(WritePatchList(path));
    EXPECT_EQ(Utf8(path), "patchlist.txt");
  }
  EXPECT_EQ(ReadList("patchlist.txt"), Block(kNoteA) + Block(kNoteA));
  EXPECT_TRUE(Boxes().empty());
}

}  // namespace
