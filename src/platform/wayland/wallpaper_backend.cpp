// The live wallpaper's connection to the compositor: its globals, the
// outputs as they come and go, the wait for events between frame steps,
// and the end signals.
#include "platform/wayland/wallpaper_backend.h"

#include <poll.h>
#include <wayland-client.h>
#include <wlr-layer-shell-unstable-v1-client-protocol.h>
#include <xdg-output-unstable-v1-client-protocol.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "platform/process/end_signals.h"

namespace nebla::platform::wayland {
namespace {

long long monotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

template <typename T>
T* bind(wl_registry* registry, std::uint32_t name, const wl_interface& interface,
        std::uint32_t offered, std::uint32_t highest) {
  return static_cast<T*>(wl_registry_bind(registry, name, &interface, std::min(offered, highest)));
}

}  // namespace

struct RegistryEvents {
  static void global(void* data, wl_registry*, uint32_t name, const char* interface,
                     uint32_t version) {
    static_cast<WallpaperBackend*>(data)->announce(name, interface, version);
  }
  static void remove(void* data, wl_registry*, uint32_t name) {
    static_cast<WallpaperBackend*>(data)->withdraw(name);
  }
};

namespace {
const wl_registry_listener kRegistryListener = {RegistryEvents::global, RegistryEvents::remove};
}  // namespace

// SDL is not used here, so its signal handlers are no concern.
WallpaperBackend::WallpaperBackend(std::string output)
    : wanted_(std::move(output)), startMs_(monotonicMs()) {
  process::catchEndSignals();
}

WallpaperBackend::~WallpaperBackend() {
  outputs_.clear();
  if (globals_.xdgOutputs != nullptr) zxdg_output_manager_v1_destroy(globals_.xdgOutputs);
  // The shell's destroy request came with version 3; an older one is only
  // forgotten.
  if (globals_.layerShell != nullptr && zwlr_layer_shell_v1_get_version(globals_.layerShell) >=
                                            ZWLR_LAYER_SHELL_V1_DESTROY_SINCE_VERSION)
    zwlr_layer_shell_v1_destroy(globals_.layerShell);
  else if (globals_.layerShell != nullptr)
    wl_proxy_destroy(reinterpret_cast<wl_proxy*>(globals_.layerShell));
  if (globals_.shm != nullptr) wl_shm_destroy(globals_.shm);
  if (globals_.compositor != nullptr) wl_compositor_destroy(globals_.compositor);
  if (registry_ != nullptr) wl_registry_destroy(registry_);
  if (display_ != nullptr) wl_display_disconnect(display_);
}

// Two round trips: the first brings the globals, the second what the
// outputs bound in the first tell of themselves (name, scale, done).
WallpaperBackend::Start WallpaperBackend::start(std::string& why) {
  display_ = wl_display_connect(nullptr);
  if (display_ == nullptr) {
    why = std::strerror(errno);
    return Start::NoCompositor;
  }
  registry_ = wl_display_get_registry(display_);
  wl_registry_add_listener(registry_, &kRegistryListener, this);
  if (wl_display_roundtrip(display_) < 0 || wl_display_roundtrip(display_) < 0) {
    why = std::strerror(wl_display_get_error(display_));
    return Start::NoCompositor;
  }
  if (globals_.layerShell == nullptr) {
    why =
        "the compositor does not offer the layer-shell protocol (zwlr_layer_shell_v1), as "
        "GNOME's does not";
    return Start::NoLayerShell;
  }
  if (globals_.compositor == nullptr || globals_.shm == nullptr) {
    why = "the compositor offers no wl_compositor of version 4 or no wl_shm";
    return Start::NoCompositor;
  }
  return Start::Ready;
}

// Outputs are followed as soon as the globals they need are bound; those
// announced before the xdg-output manager learn their names from it
// afterwards.
void WallpaperBackend::announce(std::uint32_t name, const char* interface, std::uint32_t version) {
  std::string_view which = interface;
  if (which == wl_compositor_interface.name && version >= 4) {
    globals_.compositor = bind<wl_compositor>(registry_, name, wl_compositor_interface, version, 4);
  } else if (which == wl_shm_interface.name) {
    globals_.shm = bind<wl_shm>(registry_, name, wl_shm_interface, version, 1);
  } else if (which == zwlr_layer_shell_v1_interface.name) {
    globals_.layerShell =
        bind<zwlr_layer_shell_v1>(registry_, name, zwlr_layer_shell_v1_interface, version, 4);
  } else if (which == zxdg_output_manager_v1_interface.name) {
    globals_.xdgOutputs =
        bind<zxdg_output_manager_v1>(registry_, name, zxdg_output_manager_v1_interface, version, 3);
    for (auto& output : outputs_) output->watchXdgOutput(globals_.xdgOutputs);
  } else if (which == wl_output_interface.name) {
    auto* output = bind<wl_output>(registry_, name, wl_output_interface, version, 4);
    outputs_.push_back(std::make_unique<OutputSurface>(globals_, name, output, wanted_));
  }
}

void WallpaperBackend::withdraw(std::uint32_t name) {
  std::erase_if(outputs_, [name](const auto& o) { return o->globalName() == name; });
}

std::vector<std::string> WallpaperBackend::outputNames() const {
  std::vector<std::string> names;
  for (const auto& output : outputs_)
    if (!output->name().empty()) names.push_back(output->name());
  return names;
}

bool WallpaperBackend::hasOutput(const std::string& name) const {
  auto names = outputNames();
  return std::find(names.begin(), names.end(), name) != names.end();
}

DWORD WallpaperBackend::now() { return static_cast<DWORD>(monotonicMs() - startMs_); }

void WallpaperBackend::idle(std::optional<DWORD> nextTimerDue) {
  constexpr std::int32_t kLongestWait = 50;
  std::int32_t wait = kLongestWait;
  if (nextTimerDue) wait = std::min(wait, static_cast<std::int32_t>(*nextTimerDue - now()));
  pump(std::max(wait, 0));
}

void WallpaperBackend::busyWait() { pump(1); }

// Nothing the compositor sends is input for the program.
void WallpaperBackend::takeInput(std::vector<InputEvent>&) { pump(0); }

bool WallpaperBackend::keyDown(int) { return false; }

// Waits up to timeoutMs for the compositor, handles what it sent, and
// gives every output that is ready the newest picture.
void WallpaperBackend::pump(int timeoutMs) {
  if (gone_ || display_ == nullptr) return;
  if (!exchange(timeoutMs)) return lose();
  drawAll();
  if (wl_display_flush(display_) < 0 && errno != EAGAIN) lose();
}

// libwayland's way for a program with a loop of its own: claim the read,
// send what is queued, wait, read, then handle. False when the connection
// is broken.
bool WallpaperBackend::exchange(int timeoutMs) {
  while (wl_display_prepare_read(display_) != 0)
    if (wl_display_dispatch_pending(display_) < 0) return false;
  if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
    wl_display_cancel_read(display_);
    return false;
  }
  pollfd waiting{wl_display_get_fd(display_), POLLIN, 0};
  if (poll(&waiting, 1, timeoutMs) > 0) {
    if (wl_display_read_events(display_) < 0) return false;
  } else {
    wl_display_cancel_read(display_);
  }
  return wl_display_dispatch_pending(display_) >= 0;
}

void WallpaperBackend::drawAll() {
  for (auto& output : outputs_) output->draw(picture_, generation_);
}

// The compositor ended (or ended the connection): the wallpaper has
// nowhere left to be, which is an ordinary end.
void WallpaperBackend::lose() {
  if (gone_) return;
  gone_ = true;
  int error = wl_display_get_error(display_);
  std::string why = error == 0 || error == EPIPE || error == ECONNRESET
                        ? "the Wayland compositor closed the connection; ending"
                        : "the connection to the Wayland compositor failed: " +
                              std::string(std::strerror(error)) + "; ending";
  std::fprintf(stderr, "nebla: %s\n", why.c_str());
  if (endReport_) endReport_(why);
}

void WallpaperBackend::setEndReport(std::function<void(const std::string&)> report) {
  endReport_ = std::move(report);
}

bool WallpaperBackend::sessionEnding() { return process::endSignalled() || gone_; }

bool WallpaperBackend::openDisplay() { return display_ != nullptr && !gone_; }

bool WallpaperBackend::setDisplayMode(DWORD, DWORD, DWORD bitsPerPixel) {
  return bitsPerPixel == 8;
}

void WallpaperBackend::closeDisplay() {}

void WallpaperBackend::present(const Presentation& frame) {
  picture_.take(frame);
  ++generation_;
  if (gone_ || display_ == nullptr) return;
  drawAll();
  if (wl_display_flush(display_) < 0 && errno != EAGAIN) lose();
}

void WallpaperBackend::setPointerVisible(bool) {}
void WallpaperBackend::windowCreated(const WindowInfo&) {}
void WallpaperBackend::windowDestroyed() {}

}  // namespace nebla::platform::wayland
