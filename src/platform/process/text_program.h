// A text from a program's output, the way screensavers take one: a shell
// command run in the background, its output bounded in bytes and in time,
// and a plain reason when it gives no text.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <string>

namespace nebla::platform::process {

struct ProgramResult {
  bool ok = false;
  std::string output;   // everything it printed, when ok
  std::string failure;  // why there is no text, when not ok, e.g. "exited with status 3"
};

// Runs `shell -c command` with standard input from /dev/null, standard
// output read here and standard error passed through, in a process group of
// its own so that everything it starts can be ended with it. Not copyable:
// it owns a child process and a pipe.
class TextProgram {
 public:
  // maxBytes: more output is a failure; timeLimit: a run that has not ended
  // by then is killed. The shell is a parameter so that tests can make the
  // start fail.
  TextProgram(std::string command, std::size_t maxBytes, std::chrono::milliseconds timeLimit,
              std::string shell = "/bin/sh");
  TextProgram(const TextProgram&) = delete;
  TextProgram& operator=(const TextProgram&) = delete;

  // Kills and reaps a run still in progress.
  ~TextProgram();

  // Starts a run; does nothing while one is in progress. A program that
  // cannot be started is reported by the next poll, like any other failure.
  void start();

  // Never blocks. True exactly once per run, when it has ended, with its
  // result. A run ends when the shell exits (whatever it left running in
  // its group is killed then, and the output it had written is kept), when
  // it prints more than maxBytes (killed at once: "printed more than
  // 1 MiB"), or at the time limit (killed: "timed out after 10 s"). A shell
  // that ends without printing anything fails with "printed nothing"; one
  // that exits with a status other than 0 or is killed fails with "exited
  // with status 3" or "was killed by signal 9 (Killed)", whatever it
  // printed. No child is left unreaped and no descriptor left open.
  bool poll(ProgramResult& result);

  // Starts a run (unless one is in progress) and waits for its end.
  ProgramResult run();

  // True from start() until poll() has reported the run's end.
  bool running() const { return pid_ > 0 || !startFailure_.empty(); }

 private:
  void readAvailable();
  bool shellEnded();
  void killGroup();
  std::string overLimit() const;
  ProgramResult finish(std::string failure);
  void waitForOutput(std::chrono::steady_clock::time_point until);

  std::string command_;
  std::string shell_;
  std::size_t maxBytes_;
  std::chrono::milliseconds timeLimit_;
  pid_t pid_ = -1;
  int out_ = -1;
  bool endOfOutput_ = false;
  bool shellDone_ = false;  // the shell has ended and its group was killed
  std::string output_;
  std::string startFailure_;
  std::chrono::steady_clock::time_point deadline_;
};

// "1 MiB", "64 KiB" or "100 bytes", for the failure of a run over its limit.
std::string describeBytes(std::size_t bytes);

}  // namespace nebla::platform::process
