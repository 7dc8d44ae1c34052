#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/process_state.h"
#include "platform/posix/host.h"

namespace {

// Stands for a process started with `arguments` after the program path, then scans.
void Scan(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "/opt/spsetup/spsetup.exe");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  platform::posix::InitializeProcess(static_cast<int>(argv.size()), argv.data());
  ParseCommandLine();
}

struct ScanCase {
  const char* Name;
  std::vector<std::string> Arguments;
  bool Install, Quiet, Extract;
  std::u16string ExtractPath;
  bool PatchList;
  std::u16string PatchListPath;
  bool ProductList;
  std::u16string LogPath = u"";
};

class CommandLineScan : public testing::TestWithParam<ScanCase> {
 protected:
  void SetUp() override { RunOptions = RunOptionsRecord(); }
};

TEST_P(CommandLineScan, SetsTheOptions) {
  const ScanCase& c = GetParam();
  Scan(c.Arguments);
  EXPECT_EQ(RunOptions.InstallRequested, c.Install);
  EXPECT_EQ(RunOptions.Quiet, c.Quiet);
  EXPECT_EQ(RunOptions.ExtractRequested, c.Extract);
  EXPECT_EQ(RunOptions.ExtractPath, c.ExtractPath);
  EXPECT_EQ(RunOptions.PatchListRequested, c.PatchList);
  EXPECT_EQ(RunOptions.PatchListPath, c.PatchListPath);
  EXPECT_EQ(RunOptions.ProductListRequested, c.ProductList);
  EXPECT_EQ(RunOptions.LogPath, c.LogPath);
}

// Columns: install, quiet, extract, extract path, patch list, patch list path, product list,
// and the log path where a row has one.
INSTANTIATE_TEST_SUITE_P(
    Switches, CommandLineScan,
    testing::Values(
        ScanCase{"none", {}, true, false, false, u"", false, u"", false},
        ScanCase{"quiet", {"/q"}, true, true, false, u"", false, u"", false},
        ScanCase{"quietUpper", {"/Q"}, true, true, false, u"", false, u"", false},
        ScanCase{"extract", {"/e", "out.msp"}, false, false, true, u"out.msp", false, u"", false},
        ScanCase{
            "extractUpper", {"/E", "out.msp"}, false, false, true, u"out.msp", false, u"", false},
        ScanCase{"extractLast", {"/e"}, false, false, true, u"", false, u"", false},
        ScanCase{"patchListLast", {"/p"}, false, false, false, u"", true, u"", false},
        ScanCase{"extractTakesSwitchAsPath",
                 {"/e", "/p", "list.txt"},
                 false,
                 false,
                 true,
                 u"/p",
                 false,
                 u"",
                 false},
        ScanCase{
            "repeatedExtract", {"/e", "a", "/e", "b"}, false, false, true, u"b", false, u"", false},
        ScanCase{"finalExtractKeepsPath",
                 {"/e", "a", "/e"},
                 false,
                 false,
                 true,
                 u"a",
                 false,
                 u"",
                 false},
        ScanCase{"allModes",
                 {"/e", "a", "/p", "l.txt", "/i"},
                 false,
                 false,
                 true,
                 u"a",
                 true,
                 u"l.txt",
                 true},
        ScanCase{"productListStops", {"/i", "/e", "a"}, false, false, false, u"", false, u"", true},
        ScanCase{"quietAfterProductList", {"/i", "/q"}, false, false, false, u"", false, u"", true},
        ScanCase{"hyphen", {"-e", "a"}, true, false, false, u"", false, u"", false},
        ScanCase{"longerWord", {"/extract", "a"}, true, false, false, u"", false, u"", false},
        ScanCase{"letterOnly", {"e"}, true, false, false, u"", false, u"", false},
        // Only A to Z fold: a dotless capital I is not "/i".
        ScanCase{"nonAsciiFold", {"/\xC4\xB0"}, true, false, false, u"", false, u"", false},
        ScanCase{"pathWithSpaces",
                 {"/e", "C:\\Temp Files\\out \"x\".msp"},
                 false,
                 false,
                 true,
                 u"C:\\Temp Files\\out \"x\".msp",
                 false,
                 u"",
                 false},
        ScanCase{"unicodePath",
                 {"/p", "liste-\xC3\xA9t\xC3\xA9.txt"},
                 false,
                 false,
                 false,
                 u"",
                 true,
                 u"liste-\u00E9t\u00E9.txt",
                 false},
        // The log changes no mode, and its path is the next argument whatever it is.
        ScanCase{
            "log", {"/log", "run.log"}, true, false, false, u"", false, u"", false, u"run.log"},
        ScanCase{"logUpper",
                 {"/LoG", "run.log"},
                 true,
                 false,
                 false,
                 u"",
                 false,
                 u"",
                 false,
                 u"run.log"},
        ScanCase{"logLast", {"/log"}, true, false, false, u"", false, u"", false, u""},
        ScanCase{"finalLogKeepsPath",
                 {"/log", "a", "/log"},
                 true,
                 false,
                 false,
                 u"",
                 false,
                 u"",
                 false,
                 u"a"},
        ScanCase{"repeatedLog",
                 {"/log", "a", "/log", "b"},
                 true,
                 false,
                 false,
                 u"",
                 false,
                 u"",
                 false,
                 u"b"},
        ScanCase{"logTakesSwitchAsPath",
                 {"/log", "/q"},
                 true,
                 false,
                 false,
                 u"",
                 false,
                 u"",
                 false,
                 u"/q"},
        ScanCase{"extractTakesLogAsPath",
                 {"/e", "/log", "x"},
                 false,
                 false,
                 true,
                 u"/log",
                 false,
                 u"",
                 false,
                 u""},
        ScanCase{"logWithModesStopsAtProductList",
                 {"/q", "/log", "x", "/e", "a", "/i", "/log", "y"},
                 false,
                 true,
                 true,
                 u"a",
                 false,
                 u"",
                 true,
                 u"x"},
        ScanCase{
            "longerLogWord", {"/logfile", "x"}, true, false, false, u"", false, u"", false, u""}),
    [](const testing::TestParamInfo<ScanCase>& info) { return std::string(info.param.Name); });

TEST(CommandLineScanState, ProductListRequestIsNeverReset) {
  RunOptions = RunOptionsRecord();
  Scan({"/i"});
  ASSERT_TRUE(RunOptions.ProductListRequested);
  Scan({"/e", "out.msp"});
  EXPECT_TRUE(RunOptions.ProductListRequested);
  EXPECT_FALSE(RunOptions.InstallRequested);
}

TEST(CommandLineScanState, ResetsEarlierOptions) {
  RunOptions = RunOptionsRecord();
  Scan({"/q", "/e", "a", "/p", "b", "/log", "c"});
  Scan({});
  EXPECT_TRUE(RunOptions.InstallRequested);
  EXPECT_FALSE(RunOptions.Quiet);
  EXPECT_FALSE(RunOptions.ExtractRequested);
  EXPECT_TRUE(RunOptions.ExtractPath.empty());
  EXPECT_FALSE(RunOptions.PatchListRequested);
  EXPECT_TRUE(RunOptions.PatchListPath.empty());
  EXPECT_TRUE(RunOptions.LogPath.empty());
}

}  // namespace
