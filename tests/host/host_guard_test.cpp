#include "host/host_guard.h"

#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/process_state.h"
#include "messages/message_catalogue.h"
#include "platform/posix/host.h"
#include "platform/posix/message_box.h"
#include "platform/posix/process_snapshot.h"
#include "support/dialog_log.h"
#include "support/named_process.h"
#include "support/scratch_dir.h"

namespace {

using platform::posix::ProcessListReader;
using platform::posix::ReadProcessList;
using testing_support::DialogRecord;
using testing_support::NamedProcess;
using testing_support::ReadDialogLog;
using testing_support::ScopedEnv;
using testing_support::ScratchDir;

constexpr unsigned long kGuardStyle = 0x50015;
constexpr int kAnswerRetry = 4;
constexpr int kAnswerCancel = 2;

const std::u16string kEnglishBoxText =
    u"The installer has detected that the following programs\nare running.\n\nVelmora\n\n"
    u"In order to complete installation, these programs must\nbe closed.\n";

// The process list as a test arranges it: before the Nth check (the Nth snapshot taken), the
// processes scheduled for it are ended, the way a user closes the host while the box is up;
// a check may also be made to find no list at all. Otherwise the real list is read, scoped
// (EMU_PROCESS_SCOPE) to the test's own directory, so that a "kyro.exe" that some other
// program on the machine runs at the same time cannot change the outcome.
struct CheckPlan {
  int Check;
  NamedProcess* EndBefore = nullptr;
  bool NoList = false;
};
std::vector<CheckPlan> plannedChecks;
int checksTaken = 0;

bool ReadPlannedProcessList(std::vector<platform::PROCESSENTRY32W>& entries) {
  ++checksTaken;
  bool noList = false;
  for (const CheckPlan& plan : plannedChecks) {
    if (plan.Check != checksTaken) continue;
    if (plan.EndBefore != nullptr) plan.EndBefore->End();
    noList = noList || plan.NoList;
  }
  if (noList) return false;
  return platform::posix::ReadProcFs(entries);
}

// Each test has its own directory for the programs it starts and its own dialog log, sees
// the English texts and a run without the quiet switch, and counts its process checks.
class HostGuard : public testing::Test {
 protected:
  HostGuard() {
    ModuleInstance = platform::posix::MainModule();
    RunOptions.Quiet = false;
    platform::SetThreadLocale(1033);
    plannedChecks.clear();
    checksTaken = 0;
    ReadProcessList = ReadPlannedProcessList;
  }
  ~HostGuard() override {
    ReadProcessList = savedReader_;
    plannedChecks.clear();
    ModuleInstance = savedModule_;
    RunOptions.Quiet = savedQuiet_;
    platform::SetThreadLocale(savedLocale_);
  }

  std::vector<DialogRecord> Boxes() const { return ReadDialogLog(log_); }

  // The emulated host keeps its place in a dialog script until the script's text changes;
  // empty entries, which it skips, make each script distinct so that it starts afresh.
  static std::string Script(const std::string& answers) {
    static int scriptsMade = 0;
    return answers + std::string(static_cast<std::size_t>(++scriptsMade), ',');
  }

  // Each box shown is the guard's English box, answered as `answers` lists.
  void ExpectGuardBoxes(const std::vector<int>& answers) const {
    std::vector<DialogRecord> boxes = Boxes();
    ASSERT_EQ(boxes.size(), answers.size());
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      EXPECT_EQ(boxes[i].Caption, u"Installation Error") << "box " << i;
      EXPECT_EQ(boxes[i].Text, kEnglishBoxText) << "box " << i;
      EXPECT_EQ(boxes[i].Style, kGuardStyle) << "box " << i;
      EXPECT_EQ(boxes[i].Answer, answers[i]) << "box " << i;
    }
  }

  ScratchDir scratch_;
  const std::string log_ = scratch_.Join("dialogs.log");
  ScopedEnv logEnv_{"EMU_DIALOG_LOG", log_};
  ScopedEnv scope_{testing_support::kProcessScopeVariable, scratch_.Path()};

 private:
  ProcessListReader savedReader_ = ReadProcessList;
  platform::HINSTANCE savedModule_ = ModuleInstance;
  bool savedQuiet_ = RunOptions.Quiet;
  platform::LCID savedLocale_ = platform::GetThreadLocale();
};

TEST_F(HostGuard, FindsAProcessByImageNameIgnoringCase) {
  // A name of this test's own, so that no other program on the machine answers for it.
  const std::string name = "kyro-guard-" + std::to_string(getpid()) + ".exe";
  const std::u16string wideName = platform::posix::FromUtf8(name);
  std::u16string upperName = wideName;
  for (char16_t& c : upperName) c = (c >= u'a' && c <= u'z') ? c - u'a' + u'A' : c;

  EXPECT_FALSE(IsProcessRunning(wideName.c_str()));
  {
    NamedProcess host(scratch_.Path(), name);
    EXPECT_TRUE(IsProcessRunning(wideName.c_str()));
    EXPECT_TRUE(IsProcessRunning(upperName.c_str()));
    EXPECT_FALSE(IsProcessRunning(wideName.substr(0, wideName.size() - 1).c_str()));
    EXPECT_FALSE(IsProcessRunning((wideName + u"x").c_str()));
    host.End();
    EXPECT_FALSE(IsProcessRunning(wideName.c_str()));
  }
  {
    // A process image whose own name is in capitals.
    std::string upper = platform::posix::ToUtf8(upperName);
    NamedProcess host(scratch_.Path(), upper);
    EXPECT_TRUE(IsProcessRunning(wideName.c_str()));
  }
}

TEST_F(HostGuard, TheSystemEntryNeverCounts) {
  ReadProcessList = [](std::vector<platform::PROCESSENTRY32W>& entries) {
    platform::PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    platform::posix::SetImageName(entry, u"kyro.exe");
    entries.push_back(entry);  // process id 0
    entry.th32ProcessID = 4;
    platform::posix::SetImageName(entry, u"other.exe");
    entries.push_back(entry);
    return true;
  };
  EXPECT_FALSE(IsProcessRunning(u"kyro.exe"));
  EXPECT_TRUE(IsProcessRunning(u"OTHER.EXE"));
}

TEST_F(HostGuard, AnEmptyProcessListHoldsNoHost) {
  // A list that was taken but holds nothing is not a list that could not be taken.
  ReadProcessList = [](std::vector<platform::PROCESSENTRY32W>&) { return true; };
  EXPECT_FALSE(IsProcessRunning(u"kyro.exe"));
}

TEST_F(HostGuard, NoHostMeansNoBox) {
  ScopedEnv script("EMU_DIALOG_SCRIPT", Script("cancel"));
  WatchedImageName[0] = u'\0';

  EXPECT_TRUE(ConfirmHostClosed());

  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(std::u16string(WatchedImageName), u"kyro.exe");
}

TEST_F(HostGuard, RetryWhileTheHostRunsAsksAgainUntilCancel) {
  // Quiet as well: the guard's box is not one the quiet switch silences.
  RunOptions.Quiet = true;
  ScopedEnv script("EMU_DIALOG_SCRIPT", Script("retry,retry,cancel"));
  NamedProcess host(scratch_.Path(), "kyro.exe");

  EXPECT_FALSE(ConfirmHostClosed());

  ExpectGuardBoxes({kAnswerRetry, kAnswerRetry, kAnswerCancel});
  EXPECT_EQ(checksTaken, 3);
}

TEST_F(HostGuard, ClosingTheBoxAnswersCancel) {
  // No script and no terminal to answer on: the box is closed unanswered.
  ScopedEnv script("EMU_DIALOG_SCRIPT", std::nullopt);
  const platform::posix::TerminalTest savedTerminalTest = platform::posix::IsTerminal;
  platform::posix::IsTerminal = [](int) { return false; };
  NamedProcess host(scratch_.Path(), "KYRO.EXE");

  bool closed = ConfirmHostClosed();

  platform::posix::IsTerminal = savedTerminalTest;
  EXPECT_FALSE(closed);
  ExpectGuardBoxes({kAnswerCancel});
}

TEST_F(HostGuard, RetryAfterTheHostEndedGoesOnWithoutAnotherBox) {
  ScopedEnv script("EMU_DIALOG_SCRIPT", Script("retry,cancel"));
  NamedProcess host(scratch_.Path(), "kyro.exe");
  plannedChecks = {{2, &host}};

  EXPECT_TRUE(ConfirmHostClosed());

  ExpectGuardBoxes({kAnswerRetry});
  EXPECT_EQ(checksTaken, 2);
}

TEST_F(HostGuard, EveryInstanceMustEnd) {
  ScopedEnv script("EMU_DIALOG_SCRIPT", Script("retry,retry,retry,cancel"));
  NamedProcess first(scratch_.Path(), "kyro.exe");
  NamedProcess second(scratch_.Path(), "kyro.exe");
  plannedChecks = {{2, &first}, {3, &second}};

  EXPECT_TRUE(ConfirmHostClosed());

  ExpectGuardBoxes({kAnswerRetry, kAnswerRetry});
}

TEST_F(HostGuard, AProcessListThatCannotBeTakenCountsAsARunningHost) {
  // Retry tries again; the second time the list is there and shows no host.
  {
    ScopedEnv script("EMU_DIALOG_SCRIPT", Script("retry,cancel"));
    plannedChecks = {{1, nullptr, true}, {2, nullptr, true}};
    EXPECT_TRUE(IsProcessRunning(u"no-such-program.exe"));

    EXPECT_TRUE(ConfirmHostClosed());
    ExpectGuardBoxes({kAnswerRetry});
  }
  // A list that never comes holds the run until the user cancels.
  {
    ScopedEnv script("EMU_DIALOG_SCRIPT", Script("retry,cancel"));
    ReadProcessList = [](std::vector<platform::PROCESSENTRY32W>&) { return false; };
    std::remove(log_.c_str());

    EXPECT_FALSE(ConfirmHostClosed());
    ExpectGuardBoxes({kAnswerRetry, kAnswerCancel});
  }
}

TEST_F(HostGuard, TheBoxSpeaksTheThreadsLanguage) {
  ScopedEnv script("EMU_DIALOG_SCRIPT", Script("cancel"));
  platform::SetThreadLocale(1031);
  std::u16string caption;
  std::u16string format;
  ASSERT_GT(LoadMessageText(ModuleInstance, 311, caption, 256), 0);
  ASSERT_GT(LoadMessageText(ModuleInstance, 315, format, 256), 0);
  ASSERT_NE(caption, u"Installation Error");
  std::u16string::size_type first = format.find(u"%s");
  std::u16string::size_type second = format.find(u"%s", first + 2);
  ASSERT_NE(second, std::u16string::npos);
  std::u16string expected = format.substr(0, first) + u"Velmora\n" +
                            format.substr(first + 2, second - first - 2) +
                            format.substr(second + 2);
  NamedProcess host(scratch_.Path(), "kyro.exe");

  EXPECT_FALSE(ConfirmHostClosed());

  std::vector<DialogRecord> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].Caption, caption);
  EXPECT_EQ(boxes[0].Text, expected);
}

TEST_F(HostGuard, TextsAreLoadedOncePerCall) {
  // The thread's language changes while the first box is up: a guard that loaded or
  // composed its texts again on a later pass would show the second box in German.
  ScopedEnv script("EMU_DIALOG_SCRIPT", Script("retry,cancel"));
  NamedProcess host(scratch_.Path(), "kyro.exe");
  ReadProcessList = [](std::vector<platform::PROCESSENTRY32W>& entries) {
    if (checksTaken == 1) platform::SetThreadLocale(1031);
    return ReadPlannedProcessList(entries);
  };

  EXPECT_FALSE(ConfirmHostClosed());

  ExpectGuardBoxes({kAnswerRetry, kAnswerCancel});
  EXPECT_EQ(platform::GetThreadLocale(), 1031u);
}

TEST_F(HostGuard, MissingTextsStillShowTheBox) {
  static const unsigned char nothing[] = "";
  static const platform::posix::EmbeddedResource noStrings[] = {
      {u"TXT", 0, nullptr, 206, 1046, nothing, nothing}};
  ModuleInstance = platform::posix::MakeModule(noStrings, 1);
  ScopedEnv script("EMU_DIALOG_SCRIPT", Script("retry,cancel"));
  NamedProcess host(scratch_.Path(), "kyro.exe");

  EXPECT_FALSE(ConfirmHostClosed());

  std::vector<DialogRecord> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  for (const DialogRecord& box : boxes) {
    EXPECT_EQ(box.Caption, u"");
    EXPECT_EQ(box.Text, u"");
    EXPECT_EQ(box.Style, kGuardStyle);
  }
}

}  // namespace
