// The log of a run: where it is opened, what one line looks like, and that a log which
// cannot be opened or written takes nothing from the run.
#include "log/run_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <sstream>

#include "support/scratch_dir.h"
#include "support/write_failure.h"

namespace {

using testing_support::ScratchDir;

class RunLog : public testing::Test {
 protected:
  ~RunLog() override { CloseRunLog(); }

  // The lines of `name` without their time stamp and process id, each checked for them.
  std::vector<std::string> Lines(const std::string& name) {
    static const std::regex kStamp(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \[)" +
                                   std::to_string(getpid()) + R"(\] )");
    std::vector<std::string> lines;
    std::istringstream in(scratch.ReadFile(name).value_or(""));
    for (std::string line; std::getline(in, line);) {
      EXPECT_FALSE(line.empty() || line.back() != '\r') << "no CR LF: " << line;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::smatch stamp;
      EXPECT_TRUE(std::regex_search(line, stamp, kStamp)) << line;
      lines.push_back(stamp.empty() ? line : stamp.suffix().str());
    }
    return lines;
  }

  ScratchDir scratch;
};

TEST_F(RunLog, AppendsWholeLinesToWhatIsThere) {
  scratch.WriteFile("run.log", "an earlier run\r\n");
  ASSERT_TRUE(OpenRunLog(scratch.JoinW("run.log")));
  EXPECT_EQ(RunLogPath(), scratch.JoinW("run.log"));
  LogLine({u"one ", LogQuoted(u"two"), u" ", LogNumber(-3)});
  LogLine({u"\u00DCberarbeitung \u65E5\u672C \U0001F600"});
  CloseRunLog();
  std::string content = *scratch.ReadFile("run.log");
  EXPECT_EQ(content.rfind("an earlier run\r\n", 0), 0u);
  scratch.WriteFile("rest", content.substr(16));
  EXPECT_EQ(Lines("rest"),
            (std::vector<std::string>{"one \"two\" -3",
                                      "\xC3\x9C"
                                      "berarbeitung \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"}));
}

TEST_F(RunLog, ALineStaysOneLine) {
  ASSERT_TRUE(OpenRunLog(scratch.JoinW("run.log")));
  LogLine({u"Velmora\n\r\x1B\ttab", std::u16string(1, u'\xD800'), u"end"});
  EXPECT_EQ(Lines("run.log"), std::vector<std::string>{"Velmora\\n\\r\\x1B\ttab\xEF\xBF\xBD"
                                                       "end"});
}

TEST_F(RunLog, KeepsTheLastErrorCode) {
  ASSERT_TRUE(OpenRunLog(scratch.JoinW("run.log")));
  platform::SetLastError(1642);
  LogLine({u"a line"});
  EnableInstallerLog();
  EXPECT_EQ(platform::GetLastError(), 1642u);
  CloseRunLog();
  platform::SetLastError(1603);
  EXPECT_FALSE(OpenRunLog(scratch.JoinW("missing/run.log")));
  EXPECT_EQ(platform::GetLastError(), 1603u);
}

// Nothing is opened, created or written through what the path names when it is no file
// of ours to append to.
TEST_F(RunLog, RefusesWhatIsNoPlainFile) {
  scratch.WriteFile("victim", "keep\n");
  ASSERT_EQ(symlink(scratch.Join("victim").c_str(), scratch.Join("link").c_str()), 0);
  ASSERT_EQ(symlink(scratch.Join("absent").c_str(), scratch.Join("dangling").c_str()), 0);
  ASSERT_EQ(mkfifo(scratch.Join("fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(scratch.Join("directory").c_str(), 0700), 0);
  for (const char* name : {"link", "dangling", "fifo", "directory", "missing/run.log"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(OpenRunLog(scratch.JoinW(name)));
    EXPECT_TRUE(RunLogPath().empty());
    LogLine({u"dropped"});
  }
  EXPECT_EQ(scratch.ReadFile("victim"), "keep\n");
  struct stat info {};
  EXPECT_NE(lstat(scratch.Join("absent").c_str(), &info), 0);
  EXPECT_NE(lstat(scratch.Join("missing").c_str(), &info), 0);
}

TEST_F(RunLog, AWriteThatFailsEndsTheLogAndNothingElse) {
  ASSERT_TRUE(OpenRunLog(scratch.JoinW("run.log")));
  LogLine({u"first"});
  {
    testing_support::ScopedWriteFailure full(10);
    platform::SetLastError(112);
    LogLine({u"a line longer than what fits"});
    EXPECT_EQ(platform::GetLastError(), 112u);
  }
  LogLine({u"after the disk had room again"});
  std::string content = *scratch.ReadFile("run.log");
  EXPECT_NE(content.find("first\r\n"), std::string::npos);
  EXPECT_EQ(content.find("after the disk"), std::string::npos);
}

TEST_F(RunLog, TheInstallerLogIsAskedForOnceAndNeverThroughALink) {
  ASSERT_EQ(symlink(scratch.Join("victim").c_str(), scratch.Join("run.log.installer.log").c_str()),
            0);
  ASSERT_TRUE(OpenRunLog(scratch.JoinW("run.log")));
  EnableInstallerLog();
  EnableInstallerLog();
  std::vector<std::string> lines = Lines("run.log");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("is a link or a directory"), std::string::npos) << lines[0];
  struct stat info {};
  EXPECT_NE(lstat(scratch.Join("victim").c_str(), &info), 0) << "created through the link";
}

}  // namespace
