// Turning a message id into a message box.
#pragma once

#include "platform/platform.h"

// Shows message `id` in a modal box with no owner window and waits until it is closed.
// Shows nothing and looks nothing up when RunOptions.Quiet is set. Every message, shown
// (with caption, text and answer) or not, goes to the run's log. The thread's
// last-error code is taken first, so message 300 prints the code current on entry and the
// lookups cannot change it. Texts come from ModuleInstance in the thread's language; the
// message table gives each message its substitution, caption and style; an id without a
// row is shown as loaded under the caption "Error" with no icon. A substitution of any
// length is shown whole. The last-error code is left as it was on entry.
void ShowMessage(platform::UINT id);
