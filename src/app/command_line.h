// The command-line scan.
#pragma once

// Reads the process command line into RunOptions: "/q", "/e PATH", "/p PATH", "/log PATH"
// and "/i", each matched whole and ignoring the case of A-Z only; anything else is skipped,
// and the scan stops at "/i". The argument after "/e", "/p" or "/log" is its path whatever it
// looks like, a later one replacing an earlier; "/log" as the last argument is ignored.
// ProductListRequested is only ever set, never reset. Cannot fail: a command line that does not
// split leaves the default install selected.
void ParseCommandLine();
