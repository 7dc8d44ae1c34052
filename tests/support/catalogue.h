// The executable's own message texts, for comparing with what a user saw.
#pragma once

#include <string>

namespace testing_support {

// The text of string `id` of the executable's catalogue as loaded under thread language
// `language`, with `substitution` in place of its first "%s" and its first "%d", as the
// user sees it. The calling thread's locale is left as it was.
std::u16string Catalogue(unsigned id, unsigned language, const std::u16string& substitution = u"");

}  // namespace testing_support
