// Looking up one text of the string tables by id, in the calling thread's language.
#pragma once

#include <string>

#include "platform/platform.h"

// Loads text `id` of `instance`'s string tables, in the language of the calling thread's
// locale (with the string lookup's fallback order), into `text`, which is always replaced.
// At most `capacity` - 1 characters are kept (`capacity` counts the terminator; callers
// pass kMessageTextCapacity). Returns the number of characters stored; 0, with `text`
// empty, when the id has no text or `capacity` is below 1.
int LoadMessageText(platform::HINSTANCE instance, platform::UINT id, std::u16string& text,
                    int capacity);
