// The log file: levels, prefixes, number formats, flushing and the quiet
// handling of a file that cannot be opened.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "diag/log.h"

namespace fs = std::filesystem;
using namespace nebla::diag;

namespace {

class DiagLog : public ::testing::Test {
 protected:
  fs::path dir = fs::temp_directory_path() / ("nebla-log-" + std::to_string(::getpid()));
  fs::path file = dir / "Nebla.log";
  void SetUp() override {
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override {
    LogStream.close();
    LogStream.clear();
    LogLevel = 3;
    fs::remove_all(dir);
  }
  std::string contents() const {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
};

TEST_F(DiagLog, LinesHaveTheirPrefixAndNumberFormat) {
  openLog(file.c_str(), 3);
  logError("failed to set Displaymode - err number: ", static_cast<std::int32_t>(0x887601C2u));
  logErrorCode("failed to load Font - err number: ", 0xFFFFFFFFu);
  logWarning("failed to set Cooperative Level");
  logWarning("failed to create Palette - err number: ", -5);
  logInfo("lifetime : ", 71);
  logError("Could not lock FontBuffer");
  // Lines are flushed as they are written: readable before the stream closes.
  EXPECT_EQ(contents(),
            "    ERROR:failed to set Displaymode - err number: -2005532222\n"
            "    ERROR:failed to load Font - err number: 4294967295\n"
            "  WARNING:failed to set Cooperative Level\n"
            "  WARNING:failed to create Palette - err number: -5\n"
            "lifetime : 71\n"
            "    ERROR:Could not lock FontBuffer\n");
}

TEST_F(DiagLog, WarningsHeldBeforeTheLogOpensComeFirstAndOnce) {
  logWarningAtOpen("the stored text is refused (longer than 200 pages)");
  openLog(file.c_str(), 3);
  logInfo("started");
  EXPECT_EQ(contents(),
            "  WARNING:the stored text is refused (longer than 200 pages)\n"
            "started\n");
  openLog(file.c_str(), 3);
  logInfo("again");
  EXPECT_EQ(contents(), "again\n");
}

TEST_F(DiagLog, LevelsFilterBySeverity) {
  openLog(file.c_str(), 2);
  logInfo("new particlecount : ", 6);
  logWarning("w");
  logError("e");
  LogStream.flush();
  EXPECT_EQ(contents(), "  WARNING:w\n    ERROR:e\n");
  LogStream.close();
  openLog(file.c_str(), 1);
  logWarning("w");
  logError("only this");
  EXPECT_EQ(contents(), "    ERROR:only this\n");  // reopening emptied the file
}

TEST_F(DiagLog, LevelZeroCreatesNoFile) {
  openLog(file.c_str(), 0);
  logError("e", 1);
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(LogLevel, 0);
}

// A line known before the log opens heads the log, once.
TEST_F(DiagLog, LineKeptForTheOpenIsWrittenFirstAndOnce) {
  logInfoAtOpen("text: 2 pages from the program 'date'");
  openLog(file.c_str(), 3);
  logInfo("after");
  EXPECT_EQ(contents(), "text: 2 pages from the program 'date'\nafter\n");
  openLog(file.c_str(), 3);
  EXPECT_EQ(contents(), "");
}

TEST_F(DiagLog, StartEmptiesAnEarlierLog) {
  { std::ofstream(file) << "old content\n"; }
  openLog(file.c_str(), 3);
  LogStream.flush();
  EXPECT_EQ(contents(), "");
}

// A log that cannot be opened costs the file's lines only: errors still
// reach stderr, nothing throws, and the next log opened works in full.
TEST_F(DiagLog, UnopenableFileDropsLinesQuietly) {
  fs::path bad = dir / "missing-dir" / "Nebla.log";
  openLog(bad.c_str(), 3);
  ::testing::internal::CaptureStderr();
  logError("still on stderr", 7);
  logWarning("dropped");
  logInfo("dropped too");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "    ERROR:still on stderr7\n");
  EXPECT_FALSE(fs::exists(bad));
  openLog(file.c_str(), 3);
  logInfo("after a failed open");
  EXPECT_EQ(contents(), "after a failed open\n")
      << "a failed open must not leave the stream failing";
}

}  // namespace
