// The administrator's log of a run ("/log PATH"): one line per event, UTF-8, each
// "YYYY-MM-DD hh:mm:ss.mmm [process id] text" and a line break, appended to the file.
// Without an open log every operation here does nothing, so a log that cannot be opened
// or written leaves the run exactly as it is without one.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/platform.h"

// Opens the log at `path` (made absolute) for appending, creating it when missing. It is
// never reached through a link, only a file on a disk is taken, and other processes may
// read it and append to it meanwhile. Returns true when the log is open; false leaves
// none open. The thread's last-error code is kept.
bool OpenRunLog(const std::u16string& path);

// Closes the log; later lines are dropped. The entry point closes it when the run ends.
void CloseRunLog();

// The absolute path of the open log; empty when none is open.
const std::u16string& RunLogPath();

// Appends one line made of `parts` in one write, so that runs sharing the file interleave
// whole lines. Line breaks and other control characters inside the text are written as
// escapes ("\n", "\x1B"), so a line is always one line. A line that cannot be written
// closes the log for the rest of the run. The thread's last-error code is kept.
void LogLine(std::initializer_list<std::u16string_view> parts);

// The line of one message box that was shown: "message ID" (or "box" for one without a
// message id, 0), its caption and text in double quotes and the button that answered it.
void LogBox(platform::UINT id, std::u16string_view caption, std::u16string_view text, int answer);

// Decimal text of a number, and a text in double quotes, for composing lines.
std::u16string LogNumber(long long value);
std::u16string LogQuoted(std::u16string_view text);

// Asks the installer service, once per run and only while our log is open, for its verbose
// log beside ours: RunLogPath() with ".installer.log" appended, appended to and flushed per
// line. A link or directory at that name is left alone and the installer is not asked.
// The thread's last-error code is kept.
void EnableInstallerLog();
