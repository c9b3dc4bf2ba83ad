// The capture tool on a POSIX system: PNG files through libpng, ffmpeg as a
// child process behind a pipe, and the watchdog on SIGALRM.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "capture_options.h"
#include "host.h"
#include "platform/png/png_writer.h"
#include "platform/process/text_program.h"
#include "video_writer.h"

extern char** environ;

namespace nebla::tools {
namespace host {
namespace {

Pulse* watched = nullptr;
// Formatted before the alarm is set: the handler may only write it.
char stuckMessage[160];
int stuckMessageLength = 0;
// Whole seconds since the watchdog last saw a frame. It looks every second,
// so a run is given up between kStuckSeconds and a second more after its
// last frame.
volatile std::sig_atomic_t quietSeconds = 0;

void watchdog(int) {
  bool alive = watched->frames.exchange(0) != 0 || watched->writing.load();
  quietSeconds = alive ? 0 : quietSeconds + 1;
  if (quietSeconds >= static_cast<std::sig_atomic_t>(kStuckSeconds)) {
    ssize_t written = write(2, stuckMessage, static_cast<std::size_t>(stuckMessageLength));
    (void)written;
    std::_Exit(kExitGivenUp);
  }
  alarm(1);
}

}  // namespace

const bool kFilesBuilt = true;

bool writeFramePng(const std::string& path, const platform::headless::PresentedFrame& frame) {
  return platform::png::writePng(path, frame.pixels.data(), frame.width, frame.height,
                                 static_cast<std::int32_t>(frame.width), frame.palette.data());
}

void startWatchdog(Pulse& pulse) {
  watched = &pulse;
  stuckMessageLength = std::snprintf(
      stuckMessage, sizeof stuckMessage,
      "nebla-capture: no frame for %u s of real time: the program cannot end (a --fail rule?); "
      "giving up\n",
      kStuckSeconds);
  quietSeconds = 0;
  std::signal(SIGALRM, watchdog);
  alarm(1);
}

void stopWatchdog() { alarm(0); }

void ignoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

bool runTextProgram(const std::string& command, std::size_t maxBytes, std::string& output,
                    std::string& failure) {
  platform::process::ProgramResult result =
      platform::process::TextProgram(command, maxBytes, std::chrono::seconds(kTextProgramSeconds))
          .run();
  output = std::move(result.output);
  failure = std::move(result.failure);
  return result.ok;
}

}  // namespace host

// ffmpeg reads the pipe's other end as its standard input.
bool VideoWriter::startFfmpeg(std::vector<std::string> args) {
  args.insert(args.begin(), "ffmpeg");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // Both ends close on exec: ffmpeg gets the reading end as its standard
  // input only, and no other child inherits the writing end (which would
  // keep ffmpeg from ever seeing the end of its input).
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0)
    return fail(std::string("cannot make a pipe: ") + std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  int spawned = posix_spawnp(&child_, "ffmpeg", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[0]);
  if (spawned != 0) {
    child_ = -1;
    ::close(fds[1]);
    return fail(spawned == ENOENT ? "ffmpeg not found on PATH (scripts/install-deps installs it)"
                                  : std::string("cannot start ffmpeg: ") + std::strerror(spawned));
  }
  pipe_ = fds[1];
  return true;
}

// Every byte, or false (errno set) when the reader has gone.
bool VideoWriter::writeToFfmpeg(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(pipe_, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool VideoWriter::waitForFfmpeg() {
  ::close(pipe_);
  pipe_ = -1;
  int status = 0;
  while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
  }
  child_ = -1;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  return fail(WIFEXITED(status) ? "ffmpeg failed with status " + std::to_string(WEXITSTATUS(status))
                                : "ffmpeg was killed");
}

void VideoWriter::abandon() {
  if (pipe_ >= 0) ::close(pipe_);
  pipe_ = -1;
  if (child_ > 0) {
    ::kill(child_, SIGTERM);
    int status = 0;
    while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
    }
    child_ = -1;
    std::remove(temporary_.c_str());
  }
}

}  // namespace nebla::tools
