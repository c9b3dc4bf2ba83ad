// The capture tool on a POSIX system: PNG files through libpng, ffmpeg as a
// child process behind a pipe, and the watchdog on SIGALRM.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "host.h"
#include "platform/png/png_writer.h"
#include "video_writer.h"

extern char** environ;

namespace nebla::tools {
namespace host {
namespace {

constexpr unsigned kStuckSeconds = 10;
std::atomic<std::uint32_t>* watched = nullptr;

void watchdog(int) {
  if (watched->exchange(0) != 0) {
    alarm(kStuckSeconds);
    return;
  }
  const char message[] =
      "nebla-capture: no frame for 10 s of real time: the program cannot end (a --fail rule?); "
      "giving up\n";
  ssize_t written = write(2, message, sizeof message - 1);
  (void)written;
  std::_Exit(4);
}

}  // namespace

const bool kFilesBuilt = true;

bool writeFramePng(const std::string& path, const platform::headless::PresentedFrame& frame) {
  return platform::png::writePng(path, frame.pixels.data(), frame.width, frame.height,
                                 static_cast<std::int32_t>(frame.width), frame.palette.data());
}

void startWatchdog(std::atomic<std::uint32_t>& framesSince) {
  watched = &framesSince;
  std::signal(SIGALRM, watchdog);
  alarm(kStuckSeconds);
}

void stopWatchdog() { alarm(0); }

}  // namespace host

// ffmpeg reads the pipe's other end as its standard input.
bool VideoWriter::startFfmpeg(std::vector<std::string> args, std::string& error) {
  args.insert(args.begin(), "ffmpeg");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int fds[2];
  if (::pipe(fds) != 0) {
    error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return false;
  }
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
    error = spawned == ENOENT ? "ffmpeg not found on PATH (scripts/install-deps installs it)"
                              : std::string("cannot start ffmpeg: ") + std::strerror(spawned);
    return false;
  }
  pipe_ = fds[1];
  ::fcntl(pipe_, F_SETFD, FD_CLOEXEC);
  // A reader that stops is an error to report, not a reason to die.
  std::signal(SIGPIPE, SIG_IGN);
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

bool VideoWriter::waitForFfmpeg(std::string& error) {
  ::close(pipe_);
  pipe_ = -1;
  int status = 0;
  while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
  }
  child_ = -1;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  error = WIFEXITED(status) ? "ffmpeg failed with status " + std::to_string(WEXITSTATUS(status))
                            : "ffmpeg was killed";
  return false;
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
