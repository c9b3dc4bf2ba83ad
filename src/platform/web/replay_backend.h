// The backend for a replay in the page: a capture script played exactly as
// nebla-capture plays it (the headless backend's virtual clock, scripted
// input and end rules), its frames painted on the page's canvas, and the
// virtual clock held back to real time so that the session plays at its
// own pace. While the page is hidden the replay rests, and it goes on at
// the same pace when shown: the frames stay those of the capture tool.
// The viewer's input does not reach the program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/headless/frame_hash.h"
#include "platform/headless/headless.h"
#include "platform/web/canvas.h"
#include "platform/web/page_clock.h"

namespace nebla::platform::web {

class ReplayBackend final : public Backend {
 public:
  // canvasSelector as for WebBackend; script: the parsed events.
  ReplayBackend(std::string canvasSelector, std::vector<InputEvent> script);
  ReplayBackend(const ReplayBackend&) = delete;
  ReplayBackend& operator=(const ReplayBackend&) = delete;
  // Removes the listeners it added, and no others.
  ~ReplayBackend() override;

  // The hash over every frame presented so far, as nebla-capture --hash
  // computes it for the same script.
  const headless::FrameHash& hash() const { return hash_; }

  // The Backend operations (see platform/backend.h).
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

  void layOut() { canvas_.layOut(); }

 private:
  void pace();

  headless::HeadlessBackend headless_;
  headless::FrameHash hash_;
  Canvas canvas_;
  PageClock clock_;      // virtual time 0 is its 0
  double lastTurn_ = 0;  // when the browser last had its turn, on clock_
};

}  // namespace nebla::platform::web
