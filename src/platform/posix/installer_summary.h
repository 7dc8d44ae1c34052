// Test hook of the emulated installer's summary information.
#pragma once

#include <string>

#include "platform/platform.h"

namespace platform::posix {

// Called by MsiSummaryInfoGetPropertyW with each text value about to be returned; may change
// it. Tests use it to let a value grow between two calls, so that a second call with a
// buffer of the first call's size gets ERROR_MORE_DATA again. nullptr (the default): none.
using SummaryTextHook = void (*)(UINT property, std::u16string& value);
extern SummaryTextHook summaryTextHookForTesting;

}  // namespace platform::posix
