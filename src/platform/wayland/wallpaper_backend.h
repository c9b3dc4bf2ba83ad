// The backend for a live wallpaper on a Wayland compositor with the
// layer-shell protocol: the picture on the background layer of every
// output (or of one named output), following outputs as they come and go
// and each output's size and scale. The frame steps go on at the program's
// own pace; each output is drawn when its frame callback has come back, so
// an output the compositor does not show is not drawn on. No keyboard,
// pointer or close request is read. SIGTERM, SIGINT or the compositor going
// away end the program's session, and the program ends at once.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/wayland/output_surface.h"
#include "platform/wayland/picture.h"

struct wl_display;
struct wl_registry;

namespace nebla::platform::wayland {

class WallpaperBackend final : public Backend {
 public:
  // Draws on the output named output, or on every output if it is empty.
  // Installs the handlers of SIGTERM and SIGINT, so make it before the
  // program starts.
  explicit WallpaperBackend(std::string output);
  WallpaperBackend(const WallpaperBackend&) = delete;
  WallpaperBackend& operator=(const WallpaperBackend&) = delete;
  ~WallpaperBackend() override;

  enum class Start {
    Ready,
    NoCompositor,  // WAYLAND_DISPLAY names no compositor that answers
    NoLayerShell,  // the compositor cannot show layer surfaces (GNOME)
  };
  // Connects to the compositor WAYLAND_DISPLAY names and learns its outputs.
  // Anything but Ready leaves the backend unusable; why tells the reason.
  Start start(std::string& why);
  // Called once, with the reason, when the compositor ends the connection
  // or it fails; the reason also goes to standard error.
  void setEndReport(std::function<void(const std::string&)> report);
  // The names of the outputs the compositor has now.
  std::vector<std::string> outputNames() const;
  // Whether an output of this name is there now.
  bool hasOutput(const std::string& name) const;

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
  // An end signal came, or the compositor is gone.
  bool sessionEnding() override;

 private:
  friend struct RegistryEvents;

  void announce(std::uint32_t name, const char* interface, std::uint32_t version);
  void withdraw(std::uint32_t name);
  void pump(int timeoutMs);
  bool exchange(int timeoutMs);
  void drawAll();
  void lose();

  std::string wanted_;
  wl_display* display_ = nullptr;
  wl_registry* registry_ = nullptr;
  Globals globals_;
  std::vector<std::unique_ptr<OutputSurface>> outputs_;
  Picture picture_;
  std::uint64_t generation_ = 0;  // pictures presented so far
  bool gone_ = false;
  std::function<void(const std::string&)> endReport_;
  long long startMs_ = 0;
};

}  // namespace nebla::platform::wayland
