#include "support/catalogue.h"

#include "messages/message_catalogue.h"
#include "platform/posix/host.h"

namespace testing_support {

std::u16string Catalogue(unsigned id, unsigned language, const std::u16string& substitution) {
  platform::LCID saved = platform::GetThreadLocale();
  platform::SetThreadLocale(language);
  std::u16string text;
  LoadMessageText(platform::posix::MainModule(), id, text, 256);
  platform::SetThreadLocale(saved);
  for (const char16_t* placeholder : {u"%s", u"%d"}) {
    std::size_t at = text.find(placeholder);
    if (at != std::u16string::npos) text.replace(at, 2, substitution);
  }
  return text;
}

}  // namespace testing_support
