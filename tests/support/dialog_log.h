// Reading back the dialog log (EMU_DIALOG_LOG): one JSON line per message box shown,
// {"caption":"…","text":"…","style":327696,"answer":1}.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// One box as the log recorded it. The texts are given both as UTF-8 and as UTF-16.
struct DialogRecord {
  std::string CaptionUtf8;
  std::string TextUtf8;
  std::u16string Caption;
  std::u16string Text;
  unsigned long Style = 0;
  int Answer = 0;
};

// Parses one log line; std::nullopt when it is not exactly a record of the log's format
// (keys in order caption, text, style, answer; JSON string escapes decoded).
std::optional<DialogRecord> ParseDialogLine(const std::string& line);

// Every record of the log file at `path`, in order; empty when the file does not exist.
// A line that does not parse fails the calling test (ADD_FAILURE) and is skipped.
std::vector<DialogRecord> ReadDialogLog(const std::string& path);

}  // namespace testing_support
