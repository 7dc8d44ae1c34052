#include "messages/message_box.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "app/process_state.h"
#include "log/run_log.h"
#include "messages/message_catalogue.h"
#include "messages/message_ids.h"

namespace {

using platform::DWORD;
using platform::UINT;

// What a message's placeholder receives.
enum class Substitution {
  None,           // the text is shown as loaded, a '%' included
  LastErrorCode,  // %d: the last-error code taken on entry, as a signed 32-bit number
  ProductName,    // %s: ProductNameForMessages
};

struct MessageRow {
  UINT Message;
  Substitution Fill;
  UINT Caption;
  UINT Style;
};

constexpr UINT kStyleError = platform::MB_OK | platform::MB_ICONERROR | platform::MB_SETFOREGROUND |
                             platform::MB_TOPMOST;  // 0x50010
constexpr UINT kStyleInformation = platform::MB_OK | platform::MB_ICONINFORMATION |
                                   platform::MB_SETFOREGROUND | platform::MB_TOPMOST;  // 0x50040
constexpr UINT kStylePlain =
    platform::MB_OK | platform::MB_SETFOREGROUND | platform::MB_TOPMOST;  // 0x50000

// The message table: every message with handling of its own.
constexpr MessageRow kMessageTable[] = {
    {kMessageInstallFailed, Substitution::LastErrorCode, kCaptionInstallError, kStyleError},
    {kMessageInstallSucceeded, Substitution::None, kCaptionInstallSucceeded, kStyleInformation},
    {kMessageUpToDate, Substitution::ProductName, kCaptionInstallUnnecessary, kStyleError},
    {kMessageNoTargetProduct, Substitution::None, kCaptionInstallError, kStyleError},
    {kMessageVersionNotApplicable, Substitution::ProductName, kCaptionInstallError, kStyleError},
    {kMessageBadCommandLine, Substitution::None, kCaptionInstallError, kStyleError},
    {kMessagePatchListFailed, Substitution::None, kCaptionInstallError, kStyleError},
    {kMessageWithoutText, Substitution::None, kCaptionInstallError, kStyleError},
};

// The caption of a message without a row; fixed, not from the string tables.
constexpr char16_t kFallbackCaption[] = u"Error";

// Room the text buffer keeps beyond the loaded text for the substitution; a longer one
// grows the buffer rather than being cut.
constexpr std::size_t kSubstitutionSpare = 512;

const MessageRow* FindRow(UINT id) {
  for (const MessageRow& row : kMessageTable) {
    if (row.Message == id) return &row;
  }
  return nullptr;
}

std::u16string SignedDecimal(DWORD code) {
  std::string digits = std::to_string(static_cast<std::int32_t>(code));
  return std::u16string(digits.begin(), digits.end());
}

// Formats `format` as wsprintfW would with the one argument of `fill`: "%%" is a '%', the
// first %d or %s takes the argument (a code for %d, a text for %s), a conversion without a
// matching argument prints nothing, and any other '%' sequence stays as written. The result
// grows to whatever length the argument needs.
std::u16string Substitute(std::u16string_view format, Substitution fill, DWORD code) {
  std::u16string text;
  text.reserve(format.size() + kSubstitutionSpare);
  bool argumentUsed = false;
  for (std::size_t i = 0; i < format.size(); ++i) {
    char16_t c = format[i];
    if (c != u'%' || i + 1 == format.size()) {
      text.push_back(c);
      continue;
    }
    char16_t conversion = format[i + 1];
    if (conversion == u'%') {
      text.push_back(u'%');
      ++i;
    } else if (conversion == u'd' || conversion == u's') {
      if (!argumentUsed) {
        if (conversion == u'd' && fill == Substitution::LastErrorCode) {
          text += SignedDecimal(code);
        } else if (conversion == u's' && fill == Substitution::ProductName) {
          text += ProductNameForMessages;
        }
        argumentUsed = true;
      }
      ++i;
    } else {
      text.push_back(c);
    }
  }
  return text;
}

}  // namespace

void ShowMessage(UINT id) {
  // 1. The quiet switch silences every message before anything is looked up; the log
  // keeps the id and the code it would have printed.
  if (RunOptions.Quiet) {
    const MessageRow* row = FindRow(id);
    if (row != nullptr && row->Fill == Substitution::LastErrorCode) {
      LogLine({u"message ", LogNumber(id), u" not shown (quiet run); error code ",
               SignedDecimal(platform::GetLastError())});
    } else {
      LogLine({u"message ", LogNumber(id), u" not shown (quiet run)"});
    }
    return;
  }

  // 2. The code message 300 prints: the lookups below may change the thread's code.
  DWORD code = platform::GetLastError();

  // 3. Defaults for an id without a row.
  std::u16string message;
  std::u16string caption = kFallbackCaption;
  UINT style = kStylePlain;

  // 4. The message text in the thread's language.
  LoadMessageText(ModuleInstance, id, message, kMessageTextCapacity);

  // 5-6. The row's substitution, caption and style.
  std::u16string text = message;
  if (const MessageRow* row = FindRow(id)) {
    if (row->Fill != Substitution::None) text = Substitute(message, row->Fill, code);
    LoadMessageText(ModuleInstance, row->Caption, caption, kMessageTextCapacity);
    style = row->Style;
  }

  // 7. The box, modal and without owner; its answer is only logged.
  int answer = platform::MessageBoxW(nullptr, text.c_str(), caption.c_str(), style);
  LogBox(id, caption, text, answer);

  // 8. The caller finds the code as it left it.
  platform::SetLastError(code);
}
