#include "platform/posix/message_box.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/host.h"
#include "platform/posix/terminal_width.h"
#include "support/dialog_log.h"
#include "support/scratch_dir.h"

using namespace platform;
using testing_support::ReadDialogLog;
using testing_support::ScopedEnv;
using testing_support::ScratchDir;

namespace {

constexpr UINT kGuardStyle = MB_RETRYCANCEL | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST;
constexpr UINT kErrorStyle = MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST;

// Every test sees standard input as no terminal, so no box waits for a person.
class MessageBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = posix::IsTerminal;
    posix::IsTerminal = [](int) { return false; };
  }
  void TearDown() override { posix::IsTerminal = saved_; }

  ScratchDir scratch_;
  ScopedEnv log_{"EMU_DIALOG_LOG", scratch_.Join("dialogs.jsonl")};
  posix::TerminalTest saved_ = nullptr;
};

TEST_F(MessageBoxTest, ScriptAnswersBoxesWithMoreThanOneButtonInTurn) {
  ScopedEnv script("EMU_DIALOG_SCRIPT", "retry, RETRY,cancel");
  EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", kGuardStyle), IDRETRY);
  EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", kErrorStyle), IDOK);  // takes no answer
  EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", kGuardStyle), IDRETRY);
  EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", kGuardStyle), IDCANCEL);
  EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", kGuardStyle), IDCANCEL);  // used up
  std::vector<testing_support::DialogRecord> records =
      ReadDialogLog(scratch_.Join("dialogs.jsonl"));
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[0].Answer, IDRETRY);
  EXPECT_EQ(records[1].Answer, IDOK);
  EXPECT_EQ(records[4].Answer, IDCANCEL);
}

TEST_F(MessageBoxTest, ScriptWordsMatchTheBoxButtons) {
  {
    ScopedEnv script("EMU_DIALOG_SCRIPT", "yes,ok,no");
    EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", MB_YESNO), IDYES);
    EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", MB_OKCANCEL), IDOK);
    EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", MB_RETRYCANCEL), IDCANCEL);  // "no" fits not
  }
  // Another script starts from its beginning.
  ScopedEnv script("EMU_DIALOG_SCRIPT", "yes");
  EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", MB_YESNO), IDYES);
  ScopedEnv empty("EMU_DIALOG_SCRIPT", "");
  EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", MB_YESNO), IDCANCEL);
}

TEST_F(MessageBoxTest, WithNobodyToAnswerOkBoxesSayOkAndOthersCancel) {
  ScopedEnv script("EMU_DIALOG_SCRIPT", std::nullopt);
  EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", kErrorStyle), IDOK);
  EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", kGuardStyle), IDCANCEL);
  EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", MB_YESNO), IDCANCEL);
}

TEST_F(MessageBoxTest, LogLineIsExactAndKeepsTheTextAsGiven) {
  ScopedEnv script("EMU_DIALOG_SCRIPT", "cancel");
  std::u16string text =
      u"Programs \"running\":\n\nC:\\kyro\\kyro.exe\tVelmora\x01 — "
      u"日本語のテキストが十分に長い行になるまで続きます。"
      u"The installer has detected that the following programs are running and must be closed.";
  EXPECT_EQ(MessageBoxW(nullptr, text.c_str(), u"Installation Error", kGuardStyle), IDCANCEL);
  MessageBoxW(nullptr, nullptr, nullptr, 0);
  std::optional<std::string> log = scratch_.ReadFile("dialogs.jsonl");
  ASSERT_TRUE(log);
  EXPECT_EQ(
      *log,
      "{\"caption\":\"Installation Error\",\"text\":\"Programs \\\"running\\\":\\n\\n"
      "C:\\\\kyro\\\\kyro.exe\\tVelmora\\u0001 — 日本語のテキストが十分に長い行になるまで続きます。"
      "The installer has detected that the following programs are running and must be "
      "closed.\",\"style\":327701,\"answer\":2}\n"
      "{\"caption\":\"Error\",\"text\":\"\",\"style\":0,\"answer\":1}\n");
  std::vector<testing_support::DialogRecord> records =
      ReadDialogLog(scratch_.Join("dialogs.jsonl"));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].Text, text);
  EXPECT_EQ(records[0].Style, 0x50015u);
}

TEST_F(MessageBoxTest, ProcessesLoggingAtOnceNeverInterleave) {
  ScopedEnv script("EMU_DIALOG_SCRIPT", std::nullopt);
  std::u16string text(4000, u'é');
  std::vector<pid_t> children;
  for (int child = 0; child < 4; ++child) {
    pid_t pid = ::fork();
    if (pid == 0) {
      for (int i = 0; i < 40; ++i) MessageBoxW(nullptr, text.c_str(), u"c", kErrorStyle);
      ::_exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) ::waitpid(pid, nullptr, 0);
  std::vector<testing_support::DialogRecord> records =
      ReadDialogLog(scratch_.Join("dialogs.jsonl"));
  ASSERT_EQ(records.size(), 160u);
  for (const auto& record : records) EXPECT_EQ(record.Text, text);
}

int Columns(const std::string& line) {
  std::string plain;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\x1b') {
      while (i < line.size() && line[i] != 'm') ++i;
      continue;
    }
    plain += line[i];
  }
  return posix::TextColumns(posix::FromUtf8(plain));
}

TEST(DrawMessageBox, BorderStaysStraightInEveryScript) {
  const std::u16string texts[] = {
      u"A problem prevented the service pack from being installed. Contact your system "
      u"administrator. \n\n Error Code: -2147024891",
      u"Das Service Pack konnte nicht installiert werden, weil das erwartete Norvane-Produkt "
      u"auf Ihrem Computer nicht gefunden wurde.\nStellen Sie sicher, dass Sie das richtige "
      u"Service Pack für das Produkt verwenden.",
      u"インストーラーは、次のプログラムが実行中であることを検出しました。\n\nVelmora\n"
      u"インストールを完了するには、これらのプログラムを終了する必要があります。",
      u"服务包无法安装，因为在您的计算机上找不到预期的 Norvane "
      u"产品。请确保您使用的是适用于该产品的正确服务包。",
      u"서비스 팩을 설치하지 못했습니다. 시스템 관리자에게 문의하십시오.",
      u"Combining: e\u0301te\u0301 cafe\u0301 — zero\u200Dwidth 👍🏽 done",
      u"Averyveryveryveryveryveryveryveryveryveryveryveryveryveryveryveryveryverylongword",
  };
  for (int columns : {80, 40, 200, 10}) {
    for (const std::u16string& text : texts) {
      std::vector<std::string> lines =
          posix::DrawMessageBox(u"Installation Error", text, kGuardStyle, columns, 1, true);
      ASSERT_GE(lines.size(), 7u);
      int width = Columns(lines[0]);
      // At most 76 columns and the terminal's width, but never narrower than the buttons
      // ("[ Retry ]  < Cancel >" and the border: 25 columns).
      EXPECT_LE(width, std::max(25, std::min(76, columns)));
      for (const std::string& line : lines) {
        EXPECT_EQ(Columns(line), width) << line;
      }
      // Nothing of the text is lost to the wrapping.
      std::u16string shown;
      for (std::size_t i = 3; i + 3 < lines.size(); ++i) shown += posix::FromUtf8(lines[i]);
      for (char16_t c : text) {
        if (c != u' ' && c != u'\n') {
          EXPECT_NE(shown.find(c), std::u16string::npos) << posix::ToUtf8(text);
        }
      }
    }
  }
}

TEST(DrawMessageBox, ShowsCaptionIconAndButtons) {
  std::vector<std::string> lines =
      posix::DrawMessageBox(u"Installation Error", u"text", kGuardStyle, 80, 0, false);
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  EXPECT_NE(all.find("Installation Error"), std::string::npos);
  EXPECT_NE(all.find("(X)  text"), std::string::npos);
  EXPECT_NE(all.find("< Retry >  [ Cancel ]"), std::string::npos);
  struct Row {
    UINT Style;
    const char* Icon;
    const char* Buttons;
  };
  const Row rows[] = {
      {MB_OK | MB_ICONINFORMATION, "(i)", "< OK >"},
      {MB_OKCANCEL | MB_ICONQUESTION, "(?)", "< OK >  [ Cancel ]"},
      {MB_YESNO | MB_ICONWARNING | 0x100, "(!)", "[ Yes ]  < No >"},
  };
  for (const Row& row : rows) {
    std::size_t selected = (row.Style & 0x100) != 0 ? 1 : 0;
    std::string box;
    for (const std::string& line :
         posix::DrawMessageBox(u"c", u"t", row.Style, 80, selected, false)) {
      box += line;
    }
    EXPECT_NE(box.find(row.Icon), std::string::npos) << row.Style;
    EXPECT_NE(box.find(row.Buttons), std::string::npos) << row.Style;
  }
}

TEST(CharacterColumns, WideNarrowAndZeroWidth) {
  struct Row {
    char32_t Character;
    int Columns;
  };
  const Row rows[] = {
      {U'a', 1},    {U'é', 1},    {U'Ж', 1},   {U'日', 2},  {U'の', 2},
      {U'。', 2},   {U'한', 2},   {U'Ａ', 2},  {U'ｱ', 1},   {U'\u3000', 2},
      {0x1F600, 2}, {0x20000, 2}, {0x0301, 0}, {0x200D, 0}, {0x200B, 0},
      {0xFE0F, 0},  {0x1160, 0},  {0x1100, 2}, {0x0E31, 0}, {U'─', 1},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(posix::CharacterColumns(row.Character), row.Columns)
        << std::hex << static_cast<unsigned>(row.Character);
  }
  EXPECT_EQ(posix::TextColumns(u"日本語abc"), 9);
  EXPECT_EQ(posix::TextColumns(u"e\u0301\U0001F600"), 3);
}

TEST(WrapText, BreaksAtBlanksOrBetweenWideCharacters) {
  using Lines = std::vector<std::u16string>;
  EXPECT_EQ(posix::WrapText(u"aaa bbb ccc", 7), (Lines{u"aaa bbb", u"ccc"}));
  EXPECT_EQ(posix::WrapText(u"aaa  bbb", 4), (Lines{u"aaa", u"bbb"}));
  EXPECT_EQ(posix::WrapText(u"abcdefghij", 4), (Lines{u"abcd", u"efgh", u"ij"}));
  EXPECT_EQ(posix::WrapText(u"{AAAA-BBBB};{CCCC-DDDD}", 14),
            (Lines{u"{AAAA-BBBB};", u"{CCCC-DDDD}"}));
  EXPECT_EQ(posix::WrapText(u"Error Code: -2147024891", 16),
            (Lines{u"Error Code:", u"-2147024891"}));
  EXPECT_EQ(posix::WrapText(u" \n\n Error Code: 5", 20), (Lines{u"", u"", u" Error Code: 5"}));
  EXPECT_EQ(posix::WrapText(u"日本語のテキスト", 6), (Lines{u"日本語", u"のテキ", u"スト"}));
  // Closing punctuation does not begin a line; it takes its character along.
  EXPECT_EQ(posix::WrapText(u"日本語。次", 6), (Lines{u"日本", u"語。次"}));
  // A combining mark stays with its letter.
  EXPECT_EQ(posix::WrapText(u"abce\u0301fg", 4), (Lines{u"abce\u0301", u"fg"}));
  // Control characters cannot reach the terminal.
  EXPECT_EQ(posix::WrapText(u"a\x1b[2Jb\r", 10), (Lines{u"a\uFFFD[2Jb"}));
}

TEST(AnswerKey, KeysOfAPerson) {
  std::vector<int> retryCancel = posix::ButtonsOf(MB_RETRYCANCEL);
  std::size_t selected = 0;
  EXPECT_EQ(posix::AnswerKey(retryCancel, selected, "\r"), IDRETRY);
  EXPECT_EQ(posix::AnswerKey(retryCancel, selected, "\t"), 0);
  EXPECT_EQ(selected, 1u);
  EXPECT_EQ(posix::AnswerKey(retryCancel, selected, "\r"), IDCANCEL);
  EXPECT_EQ(posix::AnswerKey(retryCancel, selected, "\x1b[C"), 0);  // right arrow wraps
  EXPECT_EQ(selected, 0u);
  EXPECT_EQ(posix::AnswerKey(retryCancel, selected, "\x1b[D"), 0);
  EXPECT_EQ(selected, 1u);
  EXPECT_EQ(posix::AnswerKey(retryCancel, selected, "r"), IDRETRY);
  EXPECT_EQ(posix::AnswerKey(retryCancel, selected, "C"), IDCANCEL);
  EXPECT_EQ(posix::AnswerKey(retryCancel, selected, "\x1b"), IDCANCEL);
  EXPECT_EQ(posix::AnswerKey(retryCancel, selected, "x"), 0);
  std::vector<int> ok = posix::ButtonsOf(MB_OK);
  selected = 0;
  EXPECT_EQ(posix::AnswerKey(ok, selected, "\x1b"), IDOK);
  std::vector<int> yesNo = posix::ButtonsOf(MB_YESNO);
  EXPECT_EQ(posix::AnswerKey(yesNo, selected, "\x1b"), 0);  // no Cancel to answer
  EXPECT_EQ(posix::AnswerKey(yesNo, selected, "n"), IDNO);
}

}  // namespace
