// The ids of the executable's string table: messages shown through ShowMessage, the
// captions of their boxes, and the texts other operations load. An id never changes
// meaning; one that goes out of use stays here, commented, and is never reused.
#pragma once

#include "platform/platform.h"

// Messages, each with its row in the message table of ShowMessage.
// "A problem prevented the service pack from being installed ... Error Code: %d".
inline constexpr platform::UINT kMessageInstallFailed = 300;
// "The service pack has been successfully installed."
inline constexpr platform::UINT kMessageInstallSucceeded = 301;
// "Your version of %s is up-to-date ...": the product needs no patch.
inline constexpr platform::UINT kMessageUpToDate = 306;
// No target product of the patch is installed.
inline constexpr platform::UINT kMessageNoTargetProduct = 307;
// The installed version of %s is not one that the patch applies to.
inline constexpr platform::UINT kMessageVersionNotApplicable = 308;
// The command line is incorrect. Has a row, but no operation requests it.
inline constexpr platform::UINT kMessageBadCommandLine = 309;
// The patch list file cannot be written, or there are no deployment notes.
inline constexpr platform::UINT kMessagePatchListFailed = 310;
// Has a row but no text in any language; no operation requests it.
inline constexpr platform::UINT kMessageWithoutText = 314;

// Captions of message boxes.
// "Installation Error": the failures, and the running-application guard's box.
inline constexpr platform::UINT kCaptionInstallError = 311;
// "Installation Successful".
inline constexpr platform::UINT kCaptionInstallSucceeded = 312;
// "Installation Unnecessary".
inline constexpr platform::UINT kCaptionInstallUnnecessary = 313;

// Texts used outside message boxes of ShowMessage.
// The guard's box text: two %s, the program list and an empty tail.
inline constexpr platform::UINT kTextProgramsRunning = 315;
// Appended to the patch command line: the applications to close before the install.
inline constexpr platform::UINT kTextCloseApplications = 316;
// The version the patch produces (English table only).
inline constexpr platform::UINT kTextTargetVersion = 700;
// The versions the patch applies to (English table only).
inline constexpr platform::UINT kTextApplicableVersions = 900;

// The capacity every caller passes to LoadMessageText, terminator included.
inline constexpr int kMessageTextCapacity = 256;
