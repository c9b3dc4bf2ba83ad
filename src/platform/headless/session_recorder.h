// Writes a session's input as a script while it happens, for the window's
// and the capture tool's --record and the page's recording: replayed with
// the capture tool, it shows the same session.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "platform/backend.h"

namespace nebla::platform::headless {

class SessionRecorder {
 public:
  // Told once, with the system's reason, when a line cannot be written;
  // nothing more is written after that.
  using FailureReport = std::function<void(const std::string& reason)>;
  // Takes the script's text a piece at a time; false when it cannot.
  using Sink = std::function<bool(const std::string& text)>;

  SessionRecorder() = default;
  ~SessionRecorder();
  SessionRecorder(const SessionRecorder&) = delete;
  SessionRecorder& operator=(const SessionRecorder&) = delete;

  // Creates (or empties) the file and writes its heading; false with the
  // system's reason in error when it cannot.
  bool open(const std::string& path, std::string& error);
  // Hands the heading and then every line to sink instead of a file; false
  // when the sink refuses the heading.
  bool start(Sink sink);
  void setFailureReport(FailureReport report) { report_ = std::move(report); }

  // Appends the event as one flushed line, so a crash loses nothing. Keys
  // that scripts cannot name are left out, and a time earlier than the
  // last one written is written as that one, since scripts never go back.
  void record(const InputEvent& event);

  // Lines written so far, the heading not counted.
  std::size_t events() const { return events_; }

 private:
  void fail();

  std::FILE* file_ = nullptr;
  Sink sink_;
  FailureReport report_;
  DWORD lastTime_ = 0;
  std::size_t events_ = 0;
};

}  // namespace nebla::platform::headless
