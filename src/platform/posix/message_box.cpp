#include "platform/posix/message_box.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "platform/posix/host.h"
#include "platform/posix/process_snapshot.h"
#include "platform/posix/terminal_width.h"

namespace platform {
namespace posix {

TerminalTest IsTerminal = [](int descriptor) { return ::isatty(descriptor) == 1; };

namespace {

constexpr int kIdAbort = 3;
constexpr int kIdIgnore = 5;
constexpr int kIdTryAgain = 10;
constexpr int kIdContinue = 11;
constexpr UINT kButtonGroupMask = 0xF;
constexpr UINT kIconMask = 0xF0;
constexpr UINT kDefaultButtonMask = 0xF00;
constexpr int kWidestBox = 76;
constexpr int kNarrowestBox = 24;

struct ButtonName {
  int Id;
  const char16_t* Label;
  const char* ScriptWord;
};

constexpr ButtonName kButtonNames[] = {
    {IDOK, u"OK", "ok"},
    {IDCANCEL, u"Cancel", "cancel"},
    {kIdAbort, u"Abort", "abort"},
    {IDRETRY, u"Retry", "retry"},
    {kIdIgnore, u"Ignore", "ignore"},
    {IDYES, u"Yes", "yes"},
    {IDNO, u"No", "no"},
    {kIdTryAgain, u"Try Again", "tryagain"},
    {kIdContinue, u"Continue", "continue"},
};

const ButtonName& NameOf(int id) {
  for (const ButtonName& name : kButtonNames) {
    if (name.Id == id) return name;
  }
  return kButtonNames[0];
}

bool Has(const std::vector<int>& buttons, int id) {
  return std::find(buttons.begin(), buttons.end(), id) != buttons.end();
}

std::u16string IconOf(UINT style) {
  switch (style & kIconMask) {
    case MB_ICONERROR:
      return u"(X)";
    case MB_ICONQUESTION:
      return u"(?)";
    case MB_ICONWARNING:
      return u"(!)";
    case MB_ICONINFORMATION:
      return u"(i)";
    default:
      return u"";
  }
}

std::size_t DefaultButton(UINT style, std::size_t count) {
  std::size_t index = (style & kDefaultButtonMask) >> 8;
  return index < count ? index : 0;
}

// The answer given when nobody can answer: the box is closed.
int ClosedAnswer(const std::vector<int>& buttons) {
  return buttons.size() == 1 && buttons[0] == IDOK ? IDOK : IDCANCEL;
}

// ---------------------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------------------

std::u16string Repeat(std::u16string_view piece, int times) {
  std::u16string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

std::u16string PadTo(std::u16string text, int columns) {
  int used = TextColumns(text);
  if (used < columns) text.append(static_cast<std::size_t>(columns - used), u' ');
  return text;
}

std::u16string ButtonLabel(int id, bool selected) {
  std::u16string label = NameOf(id).Label;
  return selected ? u"< " + label + u" >" : u"[ " + label + u" ]";
}

// ---------------------------------------------------------------------------------------
// Answers
// ---------------------------------------------------------------------------------------

// The script's position is process-wide: each box that takes an answer moves it on. A
// script changed in the environment (a new test, a new scenario) starts from its
// beginning.
std::mutex scriptLock;
std::string scriptSeen;
std::size_t scriptPosition = 0;

std::string NextScriptWord(const std::string& script) {
  std::lock_guard<std::mutex> guard(scriptLock);
  if (script != scriptSeen) {
    scriptSeen = script;
    scriptPosition = 0;
  }
  while (scriptPosition < script.size()) {
    std::size_t end = script.find(',', scriptPosition);
    if (end == std::string::npos) end = script.size();
    std::string word = script.substr(scriptPosition, end - scriptPosition);
    scriptPosition = end + 1;
    std::size_t first = word.find_first_not_of(" \t");
    if (first == std::string::npos) continue;
    std::string trimmed = word.substr(first, word.find_last_not_of(" \t") + 1 - first);
    for (char& c : trimmed) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return trimmed;
  }
  return std::string();
}

int ScriptAnswer(const std::string& script, const std::vector<int>& buttons) {
  // A box with only OK takes no answer from the script.
  if (buttons.size() == 1 && buttons[0] == IDOK) return IDOK;
  std::string word = NextScriptWord(script);
  // "end NAME": the user closes an application before answering.
  while (word.rfind("end ", 0) == 0) {
    EndProcessesNamed(FromUtf8(word.substr(4)));
    word = NextScriptWord(script);
  }
  if (word.empty()) return IDCANCEL;  // used up
  for (const ButtonName& name : kButtonNames) {
    if (word == name.ScriptWord && Has(buttons, name.Id)) return name.Id;
  }
  std::fprintf(stderr, "EMU_DIALOG_SCRIPT: \"%s\" is no button of this box; it is closed\n",
               word.c_str());
  return IDCANCEL;
}

void WriteAll(int descriptor, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t step = ::write(descriptor, text.data() + done, text.size() - done);
    if (step < 0 && errno == EINTR) continue;
    if (step <= 0) return;
    done += static_cast<std::size_t>(step);
  }
}

// The terminal of standard input in raw mode for as long as the holder lives: keys come
// one by one, unechoed, and Ctrl-C reaches the box instead of ending the process with the
// terminal left raw.
class RawTerminal {
 public:
  RawTerminal() {
    if (::tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios raw = saved_;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | IXON);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;
  ~RawTerminal() {
    if (active_) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }

 private:
  termios saved_{};
  bool active_ = false;
};

// The next key as its bytes: one character (all bytes of a UTF-8 sequence), or an escape
// sequence; a lone Esc is the Esc key. Empty at the end of input.
std::string ReadKey() {
  auto readByte = [](int timeoutMs, char& c) {
    if (timeoutMs >= 0) {
      pollfd wait{STDIN_FILENO, POLLIN, 0};
      if (::poll(&wait, 1, timeoutMs) <= 0) return false;
    }
    for (;;) {
      ssize_t got = ::read(STDIN_FILENO, &c, 1);
      if (got < 0 && errno == EINTR) continue;
      return got == 1;
    }
  };
  std::string key;
  char c = 0;
  if (!readByte(-1, c)) return key;
  key += c;
  if (c == '\x1b') {
    if (!readByte(50, c)) return key;
    key += c;
    if (c != '[' && c != 'O') return key;
    // Parameters, then one final byte in @ .. ~.
    while (readByte(50, c)) {
      key += c;
      if (c >= '@' && c <= '~') break;
    }
    return key;
  }
  unsigned char lead = static_cast<unsigned char>(c);
  int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
  for (int k = 0; k < extra && readByte(50, c); ++k) key += c;
  return key;
}

std::string JsonString(std::u16string_view text) {
  std::string utf8 = ToUtf8(text);
  std::string out = "\"";
  for (char c : utf8) {
    unsigned char byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (byte < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", byte);
          out += escape;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

// Appends the line in one write to a file opened for appending, so that boxes of
// processes running at once never interleave within a line.
void AppendToDialogLog(const std::string& line) {
  const char* path = std::getenv("EMU_DIALOG_LOG");
  if (path == nullptr || *path == '\0') return;
  ScopedFileDescriptor log(
      ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644));
  if (!log) {
    std::fprintf(stderr, "EMU_DIALOG_LOG: cannot open %s\n", path);
    return;
  }
  WriteAll(log.Get(), line);
}

}  // namespace

std::vector<int> ButtonsOf(UINT style) {
  switch (style & kButtonGroupMask) {
    case MB_OKCANCEL:
      return {IDOK, IDCANCEL};
    case 0x2:  // abort, retry, ignore
      return {kIdAbort, IDRETRY, kIdIgnore};
    case 0x3:  // yes, no, cancel
      return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
      return {IDYES, IDNO};
    case MB_RETRYCANCEL:
      return {IDRETRY, IDCANCEL};
    case 0x6:  // cancel, try again, continue
      return {IDCANCEL, kIdTryAgain, kIdContinue};
    default:
      return {IDOK};
  }
}

std::vector<std::string> DrawMessageBox(std::u16string_view caption, std::u16string_view text,
                                        UINT style, int terminalColumns, std::size_t selected,
                                        bool highlight) {
  // 1. The widest the box may be, and what its parts need.
  std::vector<int> buttons = ButtonsOf(style);
  std::u16string buttonRow;
  std::vector<std::pair<std::size_t, std::size_t>> buttonSpans;  // for the highlight
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    if (i > 0) buttonRow += u"  ";
    std::u16string label = ButtonLabel(buttons[i], i == selected);
    buttonSpans.emplace_back(buttonRow.size(), label.size());
    buttonRow += label;
  }
  // A terminal narrower than the buttons still gets them all: it wraps the border.
  int widest =
      std::max({kNarrowestBox, std::min(kWidestBox, terminalColumns), TextColumns(buttonRow) + 4});
  int inner = widest - 4;  // "│ " and " │"
  std::u16string icon = IconOf(style);
  int iconColumns = icon.empty() ? 0 : TextColumns(icon) + 2;
  std::vector<std::u16string> captionLines = WrapText(caption, inner);
  std::vector<std::u16string> textLines = WrapText(text, inner - iconColumns);

  // 2. As wide as the widest part, within the bound.
  int content = TextColumns(buttonRow);
  for (const std::u16string& line : captionLines) content = std::max(content, TextColumns(line));
  for (const std::u16string& line : textLines) {
    content = std::max(content, iconColumns + TextColumns(line));
  }
  content = std::min(std::max(content, kNarrowestBox - 4), inner);

  // 3. The lines, each "│ " + content padded to the width + " │".
  std::vector<std::u16string> rows;
  auto row = [&](const std::u16string& body) {
    rows.push_back(u"│ " + PadTo(body, content) + u" │");
  };
  rows.push_back(u"┌" + Repeat(u"─", content + 2) + u"┐");
  for (const std::u16string& line : captionLines) row(line);
  rows.push_back(u"├" + Repeat(u"─", content + 2) + u"┤");
  row(u"");
  for (std::size_t i = 0; i < textLines.size(); ++i) {
    std::u16string lead = i == 0 ? icon + (icon.empty() ? u"" : u"  ")
                                 : std::u16string(static_cast<std::size_t>(iconColumns), u' ');
    row(lead + textLines[i]);
  }
  row(u"");
  int buttonColumns = TextColumns(buttonRow);
  std::size_t indent = static_cast<std::size_t>((content - buttonColumns) / 2);
  row(std::u16string(indent, u' ') + buttonRow);
  rows.push_back(u"└" + Repeat(u"─", content + 2) + u"┘");

  std::vector<std::string> lines;
  for (const std::u16string& line : rows) lines.push_back(ToUtf8(line));
  if (highlight && selected < buttons.size()) {
    // Reverse video over the selected button, by its place in the button row.
    std::string& buttonLine = lines[lines.size() - 2];
    std::u16string before =
        u"│ " + std::u16string(indent, u' ') + buttonRow.substr(0, buttonSpans[selected].first);
    std::size_t start = ToUtf8(before).size();
    std::size_t length =
        ToUtf8(buttonRow.substr(buttonSpans[selected].first, buttonSpans[selected].second)).size();
    buttonLine.insert(start + length, "\x1b[0m");
    buttonLine.insert(start, "\x1b[7m");
  }
  return lines;
}

int AnswerKey(const std::vector<int>& buttons, std::size_t& selected, std::string_view key) {
  if (buttons.empty()) return IDCANCEL;
  if (key == "\r" || key == "\n" || key == " ")
    return buttons[std::min(selected, buttons.size() - 1)];
  bool escape = key == "\x1b" || key == "\x03";
  if (escape) {
    if (Has(buttons, IDCANCEL)) return IDCANCEL;
    if (buttons.size() == 1) return buttons[0];
    return 0;  // a Yes/No box cannot be dismissed, as on Windows
  }
  if (key == "\t" || key == "\x1b[C" || key == "\x1b[B" || key == "\x1bOC" || key == "\x1bOB") {
    selected = (selected + 1) % buttons.size();
    return 0;
  }
  if (key == "\x1b[Z" || key == "\x1b[D" || key == "\x1b[A" || key == "\x1bOD" || key == "\x1bOA") {
    selected = (selected + buttons.size() - 1) % buttons.size();
    return 0;
  }
  if (key.size() == 1 && std::isalpha(static_cast<unsigned char>(key[0]))) {
    char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(key[0])));
    for (int id : buttons) {
      if (static_cast<char>(std::tolower(NameOf(id).Label[0])) == letter) return id;
    }
  }
  return 0;
}

std::string DialogLogLine(std::u16string_view caption, std::u16string_view text, UINT style,
                          int answer) {
  return "{\"caption\":" + JsonString(caption) + ",\"text\":" + JsonString(text) +
         ",\"style\":" + std::to_string(style) + ",\"answer\":" + std::to_string(answer) + "}\n";
}

}  // namespace posix

int MessageBoxW(HWND /*owner*/, LPCWSTR text, LPCWSTR caption, UINT type) {
  // 1. The box: Windows shows "Error" for a box without caption.
  std::u16string_view boxText = text == nullptr ? u"" : text;
  std::u16string_view boxCaption = caption == nullptr ? u"Error" : caption;
  std::vector<int> buttons = posix::ButtonsOf(type);
  std::size_t selected = posix::DefaultButton(type, buttons.size());

  // 2. Who answers: the script, else a person at the terminal, else nobody.
  const char* script = std::getenv("EMU_DIALOG_SCRIPT");
  bool interactive = script == nullptr && posix::IsTerminal(STDIN_FILENO);

  // 3. Draw it on the terminal (standard error, so standard output stays the program's).
  int output = STDERR_FILENO;
  posix::ScopedFileDescriptor ownTerminal;
  if (interactive && !posix::IsTerminal(STDERR_FILENO)) {
    ownTerminal.Reset(::open("/dev/tty", O_WRONLY | O_CLOEXEC | O_NOCTTY));
    if (ownTerminal) output = ownTerminal.Get();
  }
  bool highlight = posix::IsTerminal(output);
  std::vector<std::string> lines = posix::DrawMessageBox(
      boxCaption, boxText, type, posix::TerminalColumns(output), selected, highlight);
  std::string drawing;
  for (const std::string& line : lines) drawing += line + "\n";
  posix::WriteAll(output, drawing);

  // 4. The answer.
  int answer;
  if (script != nullptr) {
    answer = posix::ScriptAnswer(script, buttons);
  } else if (interactive) {
    posix::RawTerminal raw;
    answer = 0;
    while (answer == 0) {
      std::string key = posix::ReadKey();
      if (key.empty()) {
        answer = posix::ClosedAnswer(buttons);
        break;
      }
      std::size_t before = selected;
      answer = posix::AnswerKey(buttons, selected, key);
      if (answer == 0 && selected != before) {
        // Redraw the button row in place: it is the last line but one.
        std::vector<std::string> redrawn = posix::DrawMessageBox(
            boxCaption, boxText, type, posix::TerminalColumns(output), selected, highlight);
        posix::WriteAll(output, "\x1b[2A\r" + redrawn[redrawn.size() - 2] + "\x1b[2B\r");
      }
    }
  } else {
    answer = posix::ClosedAnswer(buttons);
  }
  if (!interactive) {
    posix::WriteAll(output, "  -> " + posix::ToUtf8(posix::NameOf(answer).Label) + "\n");
  }

  // 5. The record of what the user saw and answered. A box that was answered leaves the
  //    thread's last-error code at 0, as the Windows executable's boxes do under Wine (a
  //    message 300 that follows a box prints 0 there); the drawing and the log's own file
  //    work must not show through.
  posix::AppendToDialogLog(posix::DialogLogLine(boxCaption, boxText, type, answer));
  SetLastError(ERROR_SUCCESS);
  return answer;
}

}  // namespace platform
