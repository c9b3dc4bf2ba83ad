// Recording input as a script, one flushed line an event.
#include "platform/headless/session_recorder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/headless/script.h"

namespace nebla::platform::headless {

SessionRecorder::~SessionRecorder() {
  if (file_ != nullptr) std::fclose(file_);
}

bool SessionRecorder::open(const std::string& path, std::string& error) {
  file_ = std::fopen(path.c_str(), "w");
  if (file_ == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  if (!start([this](const std::string& text) {
        return std::fputs(text.c_str(), file_) != EOF && std::fflush(file_) == 0;
      })) {
    error = std::strerror(errno);
    std::fclose(file_);
    file_ = nullptr;
    return false;
  }
  return true;
}

bool SessionRecorder::start(Sink sink) {
  const char heading[] =
      "# Nebla session: milliseconds since the program started, then the event.\n"
      "# Replay it with: nebla-capture --script FILE\n";
  if (!sink(heading)) return false;
  sink_ = std::move(sink);
  return true;
}

void SessionRecorder::record(const InputEvent& event) {
  if (!sink_) return;
  InputEvent e = event;
  e.time = std::max(e.time, lastTime_);
  std::string line = formatScriptEvent(e);
  if (line.empty()) return;
  line += '\n';
  if (!sink_(line)) {
    fail();
    return;
  }
  lastTime_ = e.time;
  ++events_;
}

void SessionRecorder::fail() {
  std::string reason = std::strerror(errno);
  sink_ = nullptr;
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  if (report_) report_(reason);
}

}  // namespace nebla::platform::headless
