// The text program: its output kept whole, every way it can fail told
// plainly, hanging programs and what they started killed at the limit, and
// no child or descriptor left behind.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/process/text_program.h"

namespace nebla::platform::process {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr std::size_t kLimit = 1 << 20;

std::size_t openDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// No child of this process, running or unreaped.
bool noChildren() { return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD; }

// A process that is not running any more: gone, or a zombie that is not
// ours (its new parent reaps it).
bool ended(pid_t pid) {
  for (int i = 0; i < 200; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    if (line.substr(line.rfind(')') + 2, 1) == "Z") return true;
    std::this_thread::sleep_for(milliseconds(10));
  }
  return false;
}

pid_t pidIn(const fs::path& file) {
  std::ifstream in(file);
  pid_t pid = 0;
  in >> pid;
  return pid;
}

class TextProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("nebla-process-" + std::to_string(getpid()));
    fs::create_directories(dir_);
    descriptors_ = openDescriptors();
  }
  void TearDown() override {
    EXPECT_EQ(openDescriptors(), descriptors_) << "a descriptor was left open";
    EXPECT_TRUE(noChildren()) << "a child was left unreaped";
    fs::remove_all(dir_);
  }
  fs::path dir_;
  std::size_t descriptors_ = 0;
};

TEST_F(TextProgramTest, KeepsWhatTheProgramPrinted) {
  ProgramResult result =
      TextProgram("printf 'hello\\nworld\\n'", kLimit, milliseconds(10000)).run();
  EXPECT_TRUE(result.ok) << result.failure;
  EXPECT_EQ(result.output, "hello\nworld\n");
}

TEST_F(TextProgramTest, TellsWhyAProgramGaveNoText) {
  struct Case {
    const char* command;
    const char* failure;
  };
  for (Case c : {Case{"echo partial; exit 3", "exited with status 3"},
                 Case{"echo partial; kill -9 $$", "was killed by signal 9 (Killed)"},
                 Case{"true", "printed nothing"},
                 // Standard input is empty rather than the caller's.
                 Case{"cat", "printed nothing"}}) {
    ProgramResult result = TextProgram(c.command, kLimit, milliseconds(10000)).run();
    EXPECT_FALSE(result.ok) << c.command;
    EXPECT_EQ(result.failure, c.failure) << c.command;
    EXPECT_EQ(result.output, "") << c.command;
  }
}

TEST_F(TextProgramTest, KillsAHangingProgramAndWhatItStartedAtTheLimit) {
  fs::path pidFile = dir_ / "sleeper";
  auto begin = std::chrono::steady_clock::now();
  ProgramResult result =
      TextProgram("sleep 60 & echo $! > '" + pidFile.string() + "'; echo hi; wait", kLimit,
                  milliseconds(300))
          .run();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30));
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.failure, "timed out after 0.3 s");
  pid_t sleeper = pidIn(pidFile);
  ASSERT_GT(sleeper, 0);
  EXPECT_TRUE(ended(sleeper)) << "the program's own child still runs";
}

// A shell that ends while something it started still holds the pipe open
// is done: that is killed and the text is what the shell printed.
TEST_F(TextProgramTest, EndsWithTheShellAndKillsWhatItLeftRunning) {
  fs::path pidFile = dir_ / "sleeper";
  auto begin = std::chrono::steady_clock::now();
  ProgramResult result = TextProgram("sleep 60 & echo $! > '" + pidFile.string() + "'; echo hi",
                                     kLimit, milliseconds(20000))
                             .run();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(15));
  EXPECT_TRUE(result.ok) << result.failure;
  EXPECT_EQ(result.output, "hi\n");
  EXPECT_TRUE(ended(pidIn(pidFile)));
}

TEST_F(TextProgramTest, RefusesMoreThanTheLimitButNotTheLimitItself) {
  ProgramResult over = TextProgram("yes", 1000, milliseconds(10000)).run();
  EXPECT_FALSE(over.ok);
  EXPECT_EQ(over.failure, "printed more than 1000 bytes");
  ProgramResult full =
      TextProgram("head -c 2048 /dev/zero | tr '\\0' a", 2048, milliseconds(10000)).run();
  EXPECT_TRUE(full.ok) << full.failure;
  EXPECT_EQ(full.output, std::string(2048, 'a'));
  EXPECT_EQ(describeBytes(std::size_t{1} << 20), "1 MiB");
}

TEST_F(TextProgramTest, ToldWhenTheShellCannotStart) {
  ProgramResult result =
      TextProgram("echo hi", kLimit, milliseconds(10000), "/nonexistent/sh").run();
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.failure, "cannot be started: /nonexistent/sh: No such file or directory");
}

// The frame loop's use: start, poll every frame without waiting, start
// again for the next text; a start during a run changes nothing.
TEST_F(TextProgramTest, PollsWithoutWaitingAndRunsAgain) {
  fs::path count = dir_ / "count";
  TextProgram program(
      "sleep 0.2; echo x >> '" + count.string() + "'; wc -l < '" + count.string() + "'", kLimit,
      milliseconds(10000));
  ProgramResult result;
  EXPECT_FALSE(program.poll(result));
  for (int run = 1; run <= 2; ++run) {
    program.start();
    auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(program.poll(result));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, milliseconds(150));
    program.start();
    int polls = 0;
    while (!program.poll(result)) {
      ++polls;
      std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_GT(polls, 0);
    EXPECT_TRUE(result.ok) << result.failure;
    EXPECT_EQ(result.output, std::to_string(run) + "\n");
    EXPECT_FALSE(program.poll(result));
    EXPECT_FALSE(program.running());
  }
}

// A program still running when its owner goes is killed and reaped.
TEST_F(TextProgramTest, EndsARunInProgressWhenDestroyed) {
  {
    TextProgram program("sleep 60", kLimit, milliseconds(60000));
    program.start();
    EXPECT_TRUE(program.running());
  }
}

}  // namespace
}  // namespace nebla::platform::process
