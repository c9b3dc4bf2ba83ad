// The text program's run: posix_spawn into a process group of its own, a
// non-blocking pipe for its output, and waitid to see the shell end without
// reaping it, so that its group id stays reserved until the group is killed.
#include "platform/process/text_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

extern char** environ;

namespace nebla::platform::process {

namespace {

using Clock = std::chrono::steady_clock;

// The child starts with every signal at its default and none blocked,
// whatever this process ignores or blocks: a program that writes to a
// closed pipe must end, not spin.
bool prepareSpawn(posix_spawnattr_t& attr, posix_spawn_file_actions_t& actions, int writeEnd) {
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  return posix_spawnattr_setflags(&attr, flags) == 0 && posix_spawnattr_setpgroup(&attr, 0) == 0 &&
         posix_spawnattr_setsigmask(&attr, &none) == 0 &&
         posix_spawnattr_setsigdefault(&attr, &all) == 0 &&
         posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
         posix_spawn_file_actions_adddup2(&actions, writeEnd, 1) == 0 &&
         posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0;
}

// posix_spawn's own error number: 0 when the shell runs as pid.
int spawnShell(const std::string& shell, const std::string& command, int writeEnd, pid_t& pid) {
  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  if (posix_spawnattr_init(&attr) != 0) return ENOMEM;
  if (posix_spawn_file_actions_init(&actions) != 0) {
    posix_spawnattr_destroy(&attr);
    return ENOMEM;
  }
  std::string dashC = "-c";
  char* argv[] = {const_cast<char*>(shell.c_str()), dashC.data(),
                  const_cast<char*>(command.c_str()), nullptr};
  int error = prepareSpawn(attr, actions, writeEnd)
                  ? posix_spawn(&pid, shell.c_str(), &actions, &attr, argv, environ)
                  : ENOMEM;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return error;
}

std::string describeSeconds(std::chrono::milliseconds limit) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", static_cast<double>(limit.count()) / 1000.0);
  return text;
}

// Why a shell that ended gave no text, from its wait status; empty when it
// exited with 0.
std::string describeStatus(int status) {
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
    return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) {
    const char* name = strsignal(WTERMSIG(status));
    return "was killed by signal " + std::to_string(WTERMSIG(status)) +
           (name != nullptr ? std::string(" (") + name + ")" : std::string());
  }
  return {};
}

}  // namespace

std::string describeBytes(std::size_t bytes) {
  constexpr std::size_t kKiB = 1024;
  if (bytes != 0 && bytes % (kKiB * kKiB) == 0)
    return std::to_string(bytes / (kKiB * kKiB)) + " MiB";
  if (bytes != 0 && bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KiB";
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

TextProgram::TextProgram(std::string command, std::size_t maxBytes,
                         std::chrono::milliseconds timeLimit, std::string shell)
    : command_(std::move(command)),
      shell_(std::move(shell)),
      maxBytes_(maxBytes),
      timeLimit_(timeLimit) {}

TextProgram::~TextProgram() {
  if (pid_ > 0) finish("stopped");
}

void TextProgram::start() {
  if (running()) return;
  output_.clear();
  endOfOutput_ = false;
  shellDone_ = false;
  deadline_ = Clock::now() + timeLimit_;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) {
    startFailure_ = std::string("cannot be started: ") + std::strerror(errno);
    return;
  }
  int error = spawnShell(shell_, command_, ends[1], pid_);
  close(ends[1]);
  if (error != 0) {
    close(ends[0]);
    pid_ = -1;
    startFailure_ = "cannot be started: " + shell_ + ": " + std::strerror(error);
    return;
  }
  out_ = ends[0];
  fcntl(out_, F_SETFL, fcntl(out_, F_GETFL) | O_NONBLOCK);
}

// Reads what the pipe holds now, keeping one byte past the limit so that a
// run over it is told from one that fills it exactly.
void TextProgram::readAvailable() {
  char buffer[16384];
  while (!endOfOutput_ && output_.size() <= maxBytes_) {
    ssize_t n = read(out_, buffer, sizeof buffer);
    if (n > 0) {
      output_.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(n),
                                                   maxBytes_ + 1 - output_.size()));
    } else if (n == 0 || errno != EINTR) {
      endOfOutput_ = n == 0 || errno != EAGAIN;
      return;
    }
  }
}

// Whether the shell has ended, seen without reaping it.
bool TextProgram::shellEnded() {
  siginfo_t info{};
  int done;
  do {
    done = waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
  } while (done != 0 && errno == EINTR);
  return done != 0 || info.si_pid != 0;
}

// The group's id is the shell's pid, which cannot be reused while the shell
// is unreaped; an empty group is not an error here.
void TextProgram::killGroup() { kill(-pid_, SIGKILL); }

void TextProgram::waitForOutput(Clock::time_point until) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
  // At the end of the output only the shell's end is awaited, which no
  // descriptor tells of: look again soon.
  int ms = static_cast<int>(
      std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, endOfOutput_ ? 5 : 50));
  pollfd watch{out_, POLLIN, 0};
  if (endOfOutput_)
    ::poll(nullptr, 0, ms);
  else
    ::poll(&watch, 1, ms);
}

ProgramResult TextProgram::finish(std::string failure) {
  killGroup();
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  close(out_);
  pid_ = -1;
  out_ = -1;
  if (failure.empty()) failure = describeStatus(status);
  if (failure.empty() && output_.empty()) failure = "printed nothing";
  ProgramResult result;
  result.ok = failure.empty();
  result.failure = std::move(failure);
  if (result.ok) result.output = std::move(output_);
  output_.clear();
  return result;
}

std::string TextProgram::overLimit() const {
  return output_.size() > maxBytes_ ? "printed more than " + describeBytes(maxBytes_) : "";
}

bool TextProgram::poll(ProgramResult& result) {
  if (!startFailure_.empty()) {
    result = ProgramResult{false, {}, std::move(startFailure_)};
    startFailure_.clear();
    return true;
  }
  if (pid_ <= 0) return false;
  readAvailable();
  if (!shellDone_ && shellEnded()) {
    // What it left running is killed; what it wrote before is read on to
    // the end of the output, which comes once the killed are gone.
    killGroup();
    shellDone_ = true;
    readAvailable();
  }
  bool late = Clock::now() >= deadline_;
  if (!overLimit().empty()) {
    result = finish(overLimit());
  } else if (shellDone_ && (endOfOutput_ || late)) {
    result = finish("");
  } else if (late) {
    result = finish("timed out after " + describeSeconds(timeLimit_));
  } else {
    return false;
  }
  return true;
}

ProgramResult TextProgram::run() {
  start();
  ProgramResult result;
  while (!poll(result)) waitForOutput(deadline_);
  return result;
}

}  // namespace nebla::platform::process
