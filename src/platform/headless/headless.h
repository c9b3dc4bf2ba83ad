// The headless backend: a virtual clock, scripted input and presented frames
// handed to a callback. Tests and the capture tool run the program on it, so
// every run is the same, frame by frame.
//
// Time passes only when the program waits: when PeekMessageA finds nothing,
// the clock jumps to the earlier of the next timer tick and the next
// scripted event (1 ms when there is neither); during a busy wait on
// GetTickCount it moves 1 ms per reading.
//
// A run ends the way a user ends it, with Escape held down: after a chosen
// number of frame steps, at a virtual-time limit, or when no frame step can
// come any more because the script has ended with the program inactive, or
// has ended and the frame steps have stopped for another reason.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/backend.h"

namespace nebla::platform::headless {

// One presented picture, tightly packed (width * height bytes).
struct PresentedFrame {
  std::vector<BYTE> pixels;
  DWORD width = 0;
  DWORD height = 0;
  std::array<PALETTEENTRY, 256> palette{};
  bool fromFlip = false;
  DWORD time = 0;
};

using FrameCallback = std::function<void(const PresentedFrame&)>;

// Why Escape reads as held down.
enum class StopReason { None, Frames, TimeLimit, Inactive, Stalled, Requested };

// Virtual time without a frame step, after the script's last event, that
// counts as stalled.
constexpr DWORD kStallMs = 30000;

// Virtual time a scripted run may take when it sets no limit of its own
// (ten minutes): the capture tool and the page's replays stop there alike.
constexpr DWORD kScriptRunLimitMs = 600000;

class HeadlessBackend final : public Backend {
 public:
  // Back to clock 0, no script, nothing pending, keys up, counters 0, no
  // window or display; the options below are kept.
  void reset();

  // Input events to deliver at their times (times must not decrease).
  void setScript(std::vector<InputEvent> events);
  // After this many presented Flip frames, Escape reads as held down.
  void setEscapeAfterFlips(std::optional<std::uint32_t> flips);
  // After this much virtual time from the clock's start, Escape reads as
  // held down.
  void setTimeLimit(std::optional<DWORD> ms);
  // Once the script's events have all been handed out: with the focus lost
  // (by the script) Escape reads as held down at once; otherwise after
  // kStallMs without a frame step. Off by default, since tests drive the
  // program past the end of their scripts.
  void setStopWhenIdle(bool stop);
  // Escape reads as held down from now on.
  void stopNow() { stop(StopReason::Requested); }
  // From this much virtual time on, the session is ending (sessionEnding),
  // as when a screensaver is dismissed: the program ends at once.
  void setSessionEndAt(std::optional<DWORD> ms) { sessionEndAt_ = ms; }
  // Receives every presented frame (Flip or drawing on the screen).
  void setFrameCallback(FrameCallback callback);
  // Whether DirectDrawCreate finds a display (default yes).
  void setDisplayAvailable(bool available);
  // Whether SetDisplayMode can have its mode (default: any 8-bit mode).
  void setModeAvailable(bool available);
  // Sets the clock, e.g. close to the 2^32 wrap.
  void setTime(DWORD ms);

  std::uint32_t flipCount() const { return flips_; }
  // The first reason Escape was held for; None while it is not.
  StopReason stopReason() const { return stopReason_; }
  std::uint32_t presentCount() const { return presents_; }
  bool pointerVisible() const { return pointerVisible_; }
  bool windowOpen() const { return windows_ > 0; }
  const std::string& windowTitle() const { return windowTitle_; }
  bool displayOpen() const { return displayOpen_; }

  DWORD now() override;
  void idle(std::optional<DWORD> nextTimerDue) override;
  void busyWait() override;
  void takeInput(std::vector<InputEvent>& events) override;
  bool keyDown(int key) override;
  bool openDisplay() override;
  bool setDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel) override;
  void closeDisplay() override;
  void present(const Presentation& frame) override;
  void setPointerVisible(bool visible) override;
  void windowCreated(const WindowInfo& info) override;
  void windowDestroyed() override;
  bool sessionEnding() override { return sessionEndAt_ && elapsed_ >= *sessionEndAt_; }

 private:
  void advanceTo(DWORD time);
  void checkStop();
  void stop(StopReason reason);

  DWORD clock_ = 0;
  std::vector<InputEvent> script_;
  std::size_t nextEvent_ = 0;     // first scripted event not yet due
  std::size_t nextDelivery_ = 0;  // first due event not yet handed out
  std::set<int> keysDown_;
  std::optional<std::uint32_t> escapeAfterFlips_;
  std::optional<DWORD> timeLimit_;
  std::optional<DWORD> sessionEndAt_;
  bool stopWhenIdle_ = false;
  StopReason stopReason_ = StopReason::None;
  DWORD elapsed_ = 0;  // virtual time since the clock's start
  DWORD lastFlipElapsed_ = 0;
  bool focusLost_ = false;  // as the script's focus events left it
  FrameCallback callback_;
  PresentedFrame presented_;
  bool displayAvailable_ = true;
  bool modeAvailable_ = true;
  std::uint32_t flips_ = 0;
  std::uint32_t presents_ = 0;
  bool pointerVisible_ = true;
  int windows_ = 0;
  std::string windowTitle_;
  bool displayOpen_ = false;
};

// Installs a fresh headless backend and a clean platform (faults cleared)
// for one test or one run, and puts both back when it ends.
class HeadlessSession {
 public:
  HeadlessSession();
  ~HeadlessSession();
  HeadlessSession(const HeadlessSession&) = delete;
  HeadlessSession& operator=(const HeadlessSession&) = delete;

  HeadlessBackend& backend() { return backend_; }

 private:
  HeadlessBackend backend_;
};

}  // namespace nebla::platform::headless
