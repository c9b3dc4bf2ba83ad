// Writes a session's input as a script while it happens, for the window's
// and the capture tool's --record: replayed with the capture tool, it shows
// the same session.
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

  SessionRecorder() = default;
  ~SessionRecorder();
  SessionRecorder(const SessionRecorder&) = delete;
  SessionRecorder& operator=(const SessionRecorder&) = delete;

  // Creates (or empties) the file and writes its heading; false with the
  // system's reason in error when it cannot.
  bool open(const std::string& path, std::string& error);
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
  FailureReport report_;
  DWORD lastTime_ = 0;
  std::size_t events_ = 0;
};

}  // namespace nebla::platform::headless
