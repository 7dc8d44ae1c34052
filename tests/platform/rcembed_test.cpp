// rcembed, the tool that embeds the resource script into the posix build, on input that is
// not what it expects: one clear line naming the file and the place, a non-zero exit, at
// once (a loop or an abort would show here as a hang or a signal).
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/program_run.h"
#include "support/scratch_dir.h"

namespace {

using testing_support::ProgramResult;
using testing_support::RunProgram;
using testing_support::ScratchDir;

ProgramResult Embed(const ScratchDir& scratch, const std::string& script) {
  return RunProgram(SPSETUP_RCEMBED, {"--asm", scratch.Join("out.s"), "--table",
                                      scratch.Join("out.cpp"), scratch.Join(script)});
}

TEST(Rcembed, AnIncludeThatIsNoRegularFileIsAnErrorAtItsLine) {
  ScratchDir scratch;
  ASSERT_EQ(mkfifo(scratch.Join("pipe.h").c_str(), 0600), 0);
  struct Case {
    std::string Include;
    std::string Expected;
  };
  for (const Case& c : {Case{"\".\"", "cannot find included file \".\""},
                        Case{"\"pipe.h\"", "cannot find included file \"pipe.h\""},
                        Case{"<.>", "cannot find included file <.>"}}) {
    SCOPED_TRACE(c.Include);
    scratch.WriteFile("app.rc", "// resources\n#include " + c.Include + "\n");
    ProgramResult result = Embed(scratch, "app.rc");
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_NE(result.Output.find(scratch.Join("app.rc") + ":2: " + c.Expected), std::string::npos)
        << result.Output;
    EXPECT_EQ(testing_support::EntryNames(scratch.Path()),
              (std::vector<std::string>{"app.rc", "pipe.h"}));
  }
}

TEST(Rcembed, ACompiledResourceFileWithEntriesOfNoSizeIsRefused) {
  ScratchDir scratch;
  scratch.WriteFile("app.rc", "STRINGTABLE\nBEGIN\n  1 \"a\"\nEND\n");
  struct Case {
    std::string Bytes;
    std::string Expected;
  };
  // An entry of header and data size 0 (a 32-byte zero file), and one whose header is too
  // small for the names it holds.
  std::string small(32, '\0');
  small[4] = 28;
  small[8] = 'A';
  for (const Case& c : {Case{std::string(32, '\0'), "entry at byte 0: header size 0"},
                        Case{small, "entry at byte 0: names run past the header"}}) {
    scratch.WriteFile("compiled.res", c.Bytes);
    ProgramResult result = RunProgram(
        SPSETUP_RCEMBED, {"--compare-res", scratch.Join("compiled.res"), scratch.Join("app.rc")});
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_NE(result.Output.find(scratch.Join("compiled.res") + ": " + c.Expected),
              std::string::npos)
        << result.Output;
  }
}

// A file that is regular but cannot be read (/proc/self/mem gives an input/output error),
// macros that each name the one before twice, doubling the work at every level whether they
// yield tokens or not, and a script that uses such a macro too often: one line each, not an
// abort from inside a stream, memory run out or a run without end.
TEST(Rcembed, AnUnreadableFileOrAScriptWithoutBoundIsAnError) {
  ScratchDir scratch;
  auto doubling = [](const std::string& first, int levels) {
    std::string script = "#define M0" + first + "\n";
    for (int level = 1; level <= levels; ++level) {
      const std::string before = "M" + std::to_string(level - 1);
      script += "#define M" + std::to_string(level) + " " + before + " " + before + "\n";
    }
    return script;
  };
  // 130 uses of a macro of 2,048 tokens, each use within its bound.
  std::string manyUses = doubling(" 1", 11) + "STRINGTABLE {\n";
  for (int use = 0; use < 130; ++use) manyUses += "M11 ";
  manyUses += "\n}\n";
  const std::string tooMuch = "macro M30 expands to more than 10000 tokens";
  struct Case {
    std::string Script;
    std::string Expected;
  };
  for (const Case& c : {
           Case{"#include \"/proc/self/mem\"\n", "rcembed: cannot read /proc/self/mem: "},
           Case{"1 ICON \"/proc/self/mem\"\n", "rcembed: cannot read /proc/self/mem: "},
           Case{doubling(" 1", 30) + "STRINGTABLE { M30 \"x\" }\n", "app.rc:32: " + tooMuch},
           Case{doubling("", 30) + "M30\n", "app.rc:32: " + tooMuch},
           Case{manyUses, "app.rc:14: the script expands to more than 250000 tokens or 4 MiB"},
       }) {
    SCOPED_TRACE(c.Expected);
    scratch.WriteFile("app.rc", c.Script);
    ProgramResult result = Embed(scratch, "app.rc");
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_NE(result.Output.find(c.Expected), std::string::npos) << result.Output;
    EXPECT_EQ(testing_support::EntryNames(scratch.Path()), (std::vector<std::string>{"app.rc"}));
  }
  // A compiled resource file that is a directory.
  scratch.WriteFile("app.rc", "STRINGTABLE\nBEGIN\n  1 \"a\"\nEND\n");
  ProgramResult result =
      RunProgram(SPSETUP_RCEMBED, {"--compare-res", scratch.Path(), scratch.Join("app.rc")});
  EXPECT_EQ(result.ExitCode, 1);
  EXPECT_NE(result.Output.find("rcembed: cannot read " + scratch.Path() + ": Is a directory"),
            std::string::npos)
      << result.Output;
}

}  // namespace
