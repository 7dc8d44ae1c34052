// How text takes up a terminal: columns per character, line wrapping, the terminal's
// width. The message box lays out its text with these.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform::posix {

// Columns a code point takes: 0 for combining marks, joiners and other format
// characters; 2 for East Asian wide and full-width characters; else 1.
int CharacterColumns(char32_t c);

// Columns of a UTF-16 text, surrogate pairs joined into one character.
int TextColumns(std::u16string_view text);

// Splits `text` into lines of at most `columns` columns: at each '\n' (a '\r' is dropped),
// and where a line is too long at the last blank that fits, after a ";" "," "-" "/" or
// backslash inside a word, or between two characters where one is East Asian wide (never
// before closing punctuation such as "、" or "。"),
// or, for a word longer than a line, between any two characters. The blanks at a break
// vanish; the leading blanks of a line of the text stay. A combining mark stays with its
// base character. Tabs become a blank and other control characters U+FFFD, so that
// nothing in the text can steer the terminal.
std::vector<std::u16string> WrapText(std::u16string_view text, int columns);

// The width of the terminal: COLUMNS when it holds a positive number, else what the
// terminal on `descriptor` reports, else 80.
int TerminalColumns(int descriptor);

}  // namespace platform::posix
