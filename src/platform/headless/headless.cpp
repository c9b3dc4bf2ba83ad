// The headless backend: virtual clock, scripted input, presented frames.
#include "platform/headless/headless.h"

#include <algorithm>
#include <cstring>

#include "platform/fault.h"
#include "platform/user.h"

namespace nebla::platform::headless {
namespace {

// Distance from now to a later time on the wrapping clock; times not after
// now have none.
std::optional<DWORD> ahead(DWORD now, DWORD time) {
  DWORD delta = time - now;
  if (delta == 0 || delta >= 0x80000000u) return std::nullopt;
  return delta;
}

}  // namespace

void HeadlessBackend::reset() {
  clock_ = 0;
  script_.clear();
  nextEvent_ = 0;
  nextDelivery_ = 0;
  keysDown_.clear();
  flips_ = 0;
  presents_ = 0;
  pointerVisible_ = true;
  windows_ = 0;
  windowTitle_.clear();
  displayOpen_ = false;
  stopReason_ = StopReason::None;
  elapsed_ = 0;
  lastFlipElapsed_ = 0;
  focusLost_ = false;
}

void HeadlessBackend::setScript(std::vector<InputEvent> events) {
  script_ = std::move(events);
  std::stable_sort(script_.begin(), script_.end(),
                   [](const InputEvent& a, const InputEvent& b) { return a.time < b.time; });
  nextEvent_ = 0;
  nextDelivery_ = 0;
  advanceTo(clock_);
}

void HeadlessBackend::setEscapeAfterFlips(std::optional<std::uint32_t> flips) {
  escapeAfterFlips_ = flips;
}

void HeadlessBackend::setTimeLimit(std::optional<DWORD> ms) { timeLimit_ = ms; }

void HeadlessBackend::setStopWhenIdle(bool stop) { stopWhenIdle_ = stop; }

void HeadlessBackend::setFrameCallback(FrameCallback callback) { callback_ = std::move(callback); }

void HeadlessBackend::setDisplayAvailable(bool available) { displayAvailable_ = available; }

void HeadlessBackend::setModeAvailable(bool available) { modeAvailable_ = available; }

// Moving the clock is not time passing: it counts towards no limit.
void HeadlessBackend::setTime(DWORD ms) {
  clock_ = ms;
  advanceTo(ms);
}

// Scripted events whose time has come press and release the keys at once;
// the program sees their messages when it next looks at the queue.
void HeadlessBackend::advanceTo(DWORD time) {
  elapsed_ += time - clock_;
  clock_ = time;
  while (nextEvent_ < script_.size() && script_[nextEvent_].time <= clock_) {
    const InputEvent& e = script_[nextEvent_++];
    using Kind = InputEvent::Kind;
    if (e.kind == Kind::KeyDown) keysDown_.insert(e.key);
    if (e.kind == Kind::KeyUp) keysDown_.erase(e.key);
    if (e.kind == Kind::LeftDown) keysDown_.insert(VK_LBUTTON);
    if (e.kind == Kind::LeftUp) keysDown_.erase(VK_LBUTTON);
    if (e.kind == Kind::RightDown) keysDown_.insert(VK_RBUTTON);
    if (e.kind == Kind::RightUp) keysDown_.erase(VK_RBUTTON);
    if (e.kind == Kind::FocusLost) focusLost_ = true;
    if (e.kind == Kind::FocusGained) focusLost_ = false;
  }
  checkStop();
}

void HeadlessBackend::stop(StopReason reason) {
  if (stopReason_ == StopReason::None) stopReason_ = reason;
}

// The focus events count once the program has been handed them.
void HeadlessBackend::checkStop() {
  if (escapeAfterFlips_ && flips_ >= *escapeAfterFlips_) stop(StopReason::Frames);
  if (timeLimit_ && elapsed_ >= *timeLimit_) stop(StopReason::TimeLimit);
  if (!stopWhenIdle_ || nextDelivery_ < script_.size()) return;
  if (focusLost_) stop(StopReason::Inactive);
  if (elapsed_ - lastFlipElapsed_ >= kStallMs) stop(StopReason::Stalled);
}

DWORD HeadlessBackend::now() { return clock_; }

void HeadlessBackend::idle(std::optional<DWORD> nextTimerDue) {
  std::optional<DWORD> step;
  if (nextTimerDue) step = ahead(clock_, *nextTimerDue);
  if (nextEvent_ < script_.size()) {
    std::optional<DWORD> toEvent = ahead(clock_, script_[nextEvent_].time);
    if (toEvent && (!step || *toEvent < *step)) step = toEvent;
  }
  advanceTo(clock_ + step.value_or(1));
}

void HeadlessBackend::busyWait() { advanceTo(clock_ + 1); }

void HeadlessBackend::takeInput(std::vector<InputEvent>& events) {
  for (; nextDelivery_ < nextEvent_; ++nextDelivery_) events.push_back(script_[nextDelivery_]);
  checkStop();
}

bool HeadlessBackend::keyDown(int key) {
  if (key == VK_ESCAPE) checkStop();
  if (key == VK_ESCAPE && stopReason_ != StopReason::None) return true;
  return keysDown_.contains(key);
}

bool HeadlessBackend::openDisplay() {
  displayOpen_ = displayAvailable_;
  return displayOpen_;
}

bool HeadlessBackend::setDisplayMode(DWORD /*width*/, DWORD /*height*/, DWORD bitsPerPixel) {
  return modeAvailable_ && bitsPerPixel == 8;
}

void HeadlessBackend::closeDisplay() { displayOpen_ = false; }

void HeadlessBackend::present(const Presentation& frame) {
  ++presents_;
  if (frame.fromFlip) {
    ++flips_;
    lastFlipElapsed_ = elapsed_;
    checkStop();
  }
  if (!callback_) return;
  // One frame record, reused: its pixel buffer keeps its size.
  PresentedFrame& out = presented_;
  out.width = frame.width;
  out.height = frame.height;
  out.fromFlip = frame.fromFlip;
  out.time = clock_;
  std::copy_n(frame.palette, out.palette.size(), out.palette.begin());
  out.pixels.resize(static_cast<std::size_t>(frame.width) * frame.height);
  for (DWORD y = 0; y < frame.height; ++y)
    std::memcpy(out.pixels.data() + static_cast<std::size_t>(y) * frame.width,
                frame.pixels + static_cast<std::size_t>(y) * frame.pitch, frame.width);
  callback_(out);
}

void HeadlessBackend::setPointerVisible(bool visible) { pointerVisible_ = visible; }

void HeadlessBackend::windowCreated(const WindowInfo& info) {
  ++windows_;
  windowTitle_ = info.title;
}

void HeadlessBackend::windowDestroyed() { windows_ = std::max(windows_ - 1, 0); }

HeadlessSession::HeadlessSession() {
  backend_.reset();
  setBackend(&backend_);
  resetPlatform();
  clearFaults();
}

HeadlessSession::~HeadlessSession() {
  resetPlatform();
  clearFaults();
  setBackend(nullptr);
}

}  // namespace nebla::platform::headless
