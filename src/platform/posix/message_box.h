// The message box of the emulated host: drawn on the terminal, answered by a person, by
// the dialog script (EMU_DIALOG_SCRIPT) or by the rule for a box nobody can see, and
// recorded in the dialog log (EMU_DIALOG_LOG).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace platform::posix {

// The buttons of a style's button group (its low four bits), left to right: IDOK,
// IDCANCEL, IDRETRY ... An unknown group has the one OK button.
std::vector<int> ButtonsOf(UINT style);

// The box as it is drawn: lines of UTF-8 text of equal width in columns, at most
// min(76, terminalColumns) wide (a narrower terminal still gets a box of 24 columns, or
// as wide as its buttons need).
// The caption, the icon of the style, the text wrapped to fit, and the buttons with the
// one at `selected` marked (and in reverse video when `highlight`).
std::vector<std::string> DrawMessageBox(std::u16string_view caption, std::u16string_view text,
                                        UINT style, int terminalColumns, std::size_t selected,
                                        bool highlight);

// One key pressed in an interactive box (a character or an escape sequence). Moves
// `selected` among `buttons` (arrows, Tab, Shift-Tab) and returns 0, or returns the
// answer: Enter or blank the selected button, the first letter of a button's label that
// button, Esc (or Ctrl-C) Cancel where the box has a Cancel button and OK where OK is its
// only one.
int AnswerKey(const std::vector<int>& buttons, std::size_t& selected, std::string_view key);

// The dialog log's line for one box, newline included:
// {"caption":"…","text":"…","style":327696,"answer":1}
std::string DialogLogLine(std::u16string_view caption, std::u16string_view text, UINT style,
                          int answer);

// Test hook: whether a descriptor is a terminal (isatty unless a test has swapped in
// another). Decides whether a person can answer and whether the box uses colours. A test
// restores the previous value when it ends.
using TerminalTest = bool (*)(int descriptor);
extern TerminalTest IsTerminal;

}  // namespace platform::posix
