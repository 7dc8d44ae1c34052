// The patch-list mode through the built executable, as an administrator runs it, alone or
// several at once against one list.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/host.h"
#include "products/patch_targets.h"
#include "support/dialog_log.h"
#include "support/program_run.h"
#include "support/scratch_dir.h"

namespace {

using testing_support::DialogRecord;
using testing_support::ProgramResult;
using testing_support::ReadDialogLog;
using testing_support::RunProgram;
using testing_support::ScratchDir;

const std::string kCaption = "Installation Error";
const std::string kText310 =
    "You must supply a patch list with the command line to install this service pack "
    "installation.";

bool Exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

// The one block a run appends: the shipped note between its separator and line end.
std::string ShippedBlock() {
  return "*****\r\n" +
         testing_support::FileContent(std::string(SPSETUP_SOURCE_DIR) + "/resources/notes206.txt") +
         "\r\n";
}

class PatchListMode : public testing::Test {
 protected:
  std::vector<std::pair<std::string, std::string>> Environment(const std::string& log) {
    return {{"TMP", temp.Path()}, {"EMU_DIALOG_LOG", log}, {"EMU_USER_LCID", "1033"}};
  }
  ProgramResult Run(const std::vector<std::string>& arguments) {
    return RunProgram(SPSETUP_EXE, arguments, Environment(scratch.Join("dialogs.log")),
                      scratch.Path());
  }
  std::vector<DialogRecord> Boxes() { return ReadDialogLog(scratch.Join("dialogs.log")); }

  ScratchDir scratch;
  ScratchDir temp;
  const std::string block = ShippedBlock();
};

TEST_F(PatchListMode, TwoRunsLeaveTwoBlocksAfterTheExistingContent) {
  ASSERT_GT(block.size(), 9u);
  scratch.WriteFile("list.txt", "an older list\r\n");
  for (int run = 0; run < 2; ++run) {
    ProgramResult result = Run({"/p", "list.txt"});
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
  }
  EXPECT_EQ(testing_support::FileContent(scratch.Join("list.txt")),
            "an older list\r\n" + block + block);
  EXPECT_TRUE(Boxes().empty());
}

// Windows names: the same list in another case or with a trailing dot is the same file, and
// a name Windows refuses is reported, with nothing made.
TEST_F(PatchListMode, ANameInAnotherCaseAppendsToTheSameList) {
  for (const char* name : {"List.txt", "LIST.TXT", "list.txt. "}) {
    ProgramResult result = Run({"/p", name});
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
  }
  EXPECT_EQ(testing_support::EntryNames(scratch.Path()), std::vector<std::string>{"List.txt"});
  EXPECT_EQ(testing_support::FileContent(scratch.Join("List.txt")), block + block + block);
  EXPECT_TRUE(Boxes().empty());

  EXPECT_EQ(Run({"/p", "a|b.txt"}).ExitCode, 0);
  EXPECT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(testing_support::EntryNames(scratch.Path()),
            (std::vector<std::string>{"List.txt", "dialogs.log"}));
}

TEST_F(PatchListMode, WithoutANameTheListIsNamedFromThePackagesFirstTarget) {
  std::u16string targets;
  ASSERT_TRUE(ReadPatchTargets(platform::posix::FromUtf8(SPSETUP_SAMPLE_PACKAGE), targets));
  std::string list = platform::posix::ToUtf8(targets);
  ASSERT_TRUE(list.size() > 14 && list[0] == '{' && list[9] == '-') << list;
  std::string name = "patchlist" + list.substr(10, 4) + ".txt";

  for (const char* flag : {"/p", "/P"}) {
    ProgramResult result = Run({flag});
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
  }
  EXPECT_EQ(testing_support::FileContent(scratch.Join(name)), block + block);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(PatchListMode, AnUnwritablePlaceShows310AndCreatesNothing) {
  scratch.WriteFile("plain-file", "x");
  for (const std::string& list : {scratch.Join("missing/list.txt"),
                                  scratch.Join("plain-file/list.txt"), std::string("/proc/list")}) {
    SCOPED_TRACE(list);
    ProgramResult result = Run({"/p", list});
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    EXPECT_FALSE(Exists(list));
  }
  std::vector<DialogRecord> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  for (const DialogRecord& box : boxes) {
    EXPECT_EQ(box.CaptionUtf8, kCaption);
    EXPECT_EQ(box.TextUtf8, kText310);
  }

  ASSERT_EQ(Run({"/q", "/p", scratch.Join("missing/list.txt")}).ExitCode, 0);
  EXPECT_EQ(Boxes().size(), 3u);
}

TEST_F(PatchListMode, AListHeldOpenForWritingElsewhereIsLeftAloneWith310) {
  scratch.WriteFile("list.txt", "held\r\n");
  {
    platform::ScopedKernelHandle holder(platform::CreateFileW(
        scratch.JoinW("list.txt").c_str(), platform::GENERIC_READ | platform::GENERIC_WRITE,
        platform::FILE_SHARE_READ, nullptr, platform::OPEN_EXISTING,
        platform::FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    ASSERT_EQ(Run({"/p", "list.txt"}).ExitCode, 0);
    EXPECT_EQ(testing_support::FileContent(scratch.Join("list.txt")), "held\r\n");
    std::vector<DialogRecord> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].TextUtf8, kText310);
  }
  ASSERT_EQ(Run({"/p", "list.txt"}).ExitCode, 0);
  EXPECT_EQ(testing_support::FileContent(scratch.Join("list.txt")), "held\r\n" + block);
  EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(PatchListMode, RunsStartedTogetherEachAppendAWholeBlockOrShow310) {
  constexpr int kRuns = 8;
  // One shell starts the runs a moment apart, in the background, and waits for them all;
  // each run has its own dialog log, so its outcome can be told. The test holds the list
  // open, as a run does, while the first runs start and lets it go part way through, so
  // that some runs are likely refused and the others append.
  std::string script = "cd '" + scratch.Path() + "' && export TMP='" + temp.Path() +
                       "' EMU_USER_LCID=1033 EMU_DIALOG_SCRIPT=ok; ";
  for (int run = 0; run < kRuns; ++run) {
    script += "EMU_DIALOG_LOG='" + scratch.Join("dialogs" + std::to_string(run) + ".log") + "' '" +
              SPSETUP_EXE + "' /p list.txt </dev/null >/dev/null 2>&1 & sleep 0.05; ";
  }
  script += "wait";

  platform::ScopedKernelHandle holder(platform::CreateFileW(
      scratch.JoinW("list.txt").c_str(), platform::GENERIC_READ | platform::GENERIC_WRITE,
      platform::FILE_SHARE_READ, nullptr, platform::OPEN_ALWAYS, platform::FILE_ATTRIBUTE_NORMAL,
      nullptr));
  ASSERT_TRUE(holder);
  const char* argv[] = {"sh", "-c", script.c_str(), nullptr};
  pid_t shell = -1;
  ASSERT_EQ(posix_spawn(&shell, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  holder.Reset();
  int status = 0;
  ASSERT_EQ(waitpid(shell, &status, 0), shell);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  int refused = 0;
  for (int run = 0; run < kRuns; ++run) {
    std::vector<DialogRecord> boxes =
        ReadDialogLog(scratch.Join("dialogs" + std::to_string(run) + ".log"));
    ASSERT_LE(boxes.size(), 1u) << "run " << run;
    if (boxes.size() == 1) {
      EXPECT_EQ(boxes[0].TextUtf8, kText310);
      ++refused;
    }
  }
  // The list is nothing but whole blocks, one per run that was not refused.
  std::string list = testing_support::FileContent(scratch.Join("list.txt"));
  std::string expected;
  for (int appended = 0; appended < kRuns - refused; ++appended) expected += block;
  EXPECT_EQ(list.size() % block.size(), 0u);
  EXPECT_EQ(list, expected) << refused << " runs refused";
}

TEST_F(PatchListMode, AFileSizeLimitReachedHalfWayLeavesTheListAsItWas) {
  // 1024 bytes allowed. The shell ignores the signal that the limit raises, and so does
  // the run it starts, whose write then fails.
  auto runWithLimit = [&](const std::string& list) {
    std::string script =
        std::string("trap '' XFSZ; ulimit -f 2; exec '") + SPSETUP_EXE + "' /p " + list;
    ProgramResult result = RunProgram("/bin/sh", {"-c", script},
                                      Environment(scratch.Join("dialogs.log")), scratch.Path());
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
  };
  // A short list has room for the block: the run writes under the limit.
  ASSERT_LT(10 + block.size(), 1024u);
  scratch.WriteFile("short.txt", "0123456789");
  runWithLimit("short.txt");
  EXPECT_EQ(testing_support::FileContent(scratch.Join("short.txt")), "0123456789" + block);

  // A list of 1000 bytes takes the separator, and the limit stops the note half way.
  std::string before = std::string(998, 'x') + "\r\n";
  ASSERT_GT(before.size() + block.size(), 1024u);
  scratch.WriteFile("list.txt", before);
  runWithLimit("list.txt");
  EXPECT_EQ(testing_support::FileContent(scratch.Join("list.txt")), before);
  EXPECT_TRUE(Boxes().empty());
}

}  // namespace
