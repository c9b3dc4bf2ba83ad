// An output's wallpaper surface: the layer-shell set-up, the compositor's
// events about the output and the surface, and drawing into wl_shm
// buffers.
#include "platform/wayland/output_surface.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wlr-layer-shell-unstable-v1-client-protocol.h>
#include <xdg-output-unstable-v1-client-protocol.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace nebla::platform::wayland {

// A buffer in memory shared with the compositor, which holds it from the
// commit that shows it until it sends release.
struct OutputSurface::Buffer {
  wl_buffer* buffer = nullptr;
  std::uint32_t* pixels = nullptr;
  std::size_t bytes = 0;
  int width = 0;
  int height = 0;
  bool busy = false;

  ~Buffer() {
    if (buffer != nullptr) wl_buffer_destroy(buffer);
    if (pixels != nullptr) munmap(pixels, bytes);
  }
};

namespace {

void onRelease(void* data, wl_buffer*) { *static_cast<bool*>(data) = false; }
const wl_buffer_listener kBufferListener = {onRelease};

// A file of the given size in memory only, for the compositor to map.
int sharedFile(std::size_t bytes) {
  int fd = memfd_create("nebla-wallpaper", MFD_CLOEXEC);
  if (fd < 0) return -1;
  if (ftruncate(fd, static_cast<off_t>(bytes)) == 0) return fd;
  close(fd);
  return -1;
}

}  // namespace

// The listeners' entry points into the output's private side.
struct OutputEvents {
  static OutputSurface& of(void* data) { return *static_cast<OutputSurface*>(data); }
  static void geometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*,
                       const char*, int32_t) {}
  static void mode(void*, wl_output*, uint32_t, int32_t, int32_t, int32_t) {}
  static void done(void* data, wl_output*) { of(data).settled(); }
  static void scale(void* data, wl_output*, int32_t factor) { of(data).pendingScale_ = factor; }
  static void name(void* data, wl_output*, const char* text) { of(data).name_ = text; }
  static void description(void*, wl_output*, const char*) {}

  static void xdgPosition(void*, zxdg_output_v1*, int32_t, int32_t) {}
  static void xdgSize(void*, zxdg_output_v1*, int32_t, int32_t) {}
  static void xdgDone(void*, zxdg_output_v1*) {}
  static void xdgName(void* data, zxdg_output_v1*, const char* text) {
    OutputSurface& output = of(data);
    if (!output.name_.empty()) return;
    output.name_ = text;
    if (output.described_) output.showIfWanted();
  }
  static void xdgDescription(void*, zxdg_output_v1*, const char*) {}

  static void configure(void* data, zwlr_layer_surface_v1*, uint32_t serial, uint32_t width,
                        uint32_t height) {
    of(data).configure(serial, width, height);
  }
  static void closed(void* data, zwlr_layer_surface_v1*) { of(data).closeSurface(); }
  static void frame(void* data, wl_callback*, uint32_t) { of(data).frameDone(); }
};

namespace {

const wl_output_listener kOutputListener = {OutputEvents::geometry, OutputEvents::mode,
                                            OutputEvents::done,     OutputEvents::scale,
                                            OutputEvents::name,     OutputEvents::description};
const zxdg_output_v1_listener kXdgOutputListener = {
    OutputEvents::xdgPosition, OutputEvents::xdgSize, OutputEvents::xdgDone, OutputEvents::xdgName,
    OutputEvents::xdgDescription};
const zwlr_layer_surface_v1_listener kLayerListener = {OutputEvents::configure,
                                                       OutputEvents::closed};
const wl_callback_listener kFrameListener = {OutputEvents::frame};

}  // namespace

OutputSurface::OutputSurface(const Globals& globals, std::uint32_t globalName, wl_output* output,
                             std::string wanted)
    : globals_(globals), globalName_(globalName), output_(output), wanted_(std::move(wanted)) {
  wl_output_add_listener(output_, &kOutputListener, this);
  if (globals_.xdgOutputs != nullptr) watchXdgOutput(globals_.xdgOutputs);
}

OutputSurface::~OutputSurface() {
  closeSurface();
  if (xdgOutput_ != nullptr) zxdg_output_v1_destroy(xdgOutput_);
  if (wl_output_get_version(output_) >= WL_OUTPUT_RELEASE_SINCE_VERSION)
    wl_output_release(output_);
  else
    wl_output_destroy(output_);
}

void OutputSurface::watchXdgOutput(zxdg_output_manager_v1* manager) {
  if (xdgOutput_ != nullptr) return;
  xdgOutput_ = zxdg_output_manager_v1_get_xdg_output(manager, output_);
  zxdg_output_v1_add_listener(xdgOutput_, &kXdgOutputListener, this);
}

// The output's properties arrive as a batch closed by done: a new scale
// takes effect then, and the first batch makes the output known.
void OutputSurface::settled() {
  described_ = true;
  if (pendingScale_ != scale_) {
    scale_ = pendingScale_;
    drawn_ = 0;
  }
  showIfWanted();
}

// The whole output, under every window, no room taken from other layers'
// surfaces, no keyboard focus and no pointer input (an empty input region).
void OutputSurface::showIfWanted() {
  if (shown_ || (!wanted_.empty() && name_ != wanted_)) return;
  shown_ = true;
  surface_ = wl_compositor_create_surface(globals_.compositor);
  wl_region* nothing = wl_compositor_create_region(globals_.compositor);
  wl_surface_set_input_region(surface_, nothing);
  wl_region_destroy(nothing);
  layer_ = zwlr_layer_shell_v1_get_layer_surface(globals_.layerShell, surface_, output_,
                                                 ZWLR_LAYER_SHELL_V1_LAYER_BACKGROUND, "wallpaper");
  zwlr_layer_surface_v1_set_anchor(
      layer_, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                  ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
  zwlr_layer_surface_v1_set_size(layer_, 0, 0);
  zwlr_layer_surface_v1_set_exclusive_zone(layer_, -1);
  zwlr_layer_surface_v1_set_keyboard_interactivity(
      layer_, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
  zwlr_layer_surface_v1_add_listener(layer_, &kLayerListener, this);
  wl_surface_commit(surface_);
}

void OutputSurface::configure(std::uint32_t serial, std::uint32_t width, std::uint32_t height) {
  zwlr_layer_surface_v1_ack_configure(layer_, serial);
  if (static_cast<int>(width) != width_ || static_cast<int>(height) != height_) drawn_ = 0;
  width_ = static_cast<int>(width);
  height_ = static_cast<int>(height);
  configured_ = true;
}

// The compositor took the surface away for good (its output is going); a
// new one is not asked for, since the output goes with it.
void OutputSurface::closeSurface() {
  if (frame_ != nullptr) wl_callback_destroy(frame_);
  frame_ = nullptr;
  if (layer_ != nullptr) zwlr_layer_surface_v1_destroy(layer_);
  layer_ = nullptr;
  if (surface_ != nullptr) wl_surface_destroy(surface_);
  surface_ = nullptr;
  configured_ = false;
  dropBuffers();
}

void OutputSurface::dropBuffers() {
  for (auto& b : buffers_) b.reset();
}

void OutputSurface::frameDone() {
  wl_callback_destroy(frame_);
  frame_ = nullptr;
}

// A buffer of this size the compositor is not holding; buffers of an old
// size are dropped. Null when both are held, or on failure.
OutputSurface::Buffer* OutputSurface::freeBuffer(int width, int height) {
  for (auto& b : buffers_)
    if (b && (b->width != width || b->height != height)) b.reset();
  for (auto& b : buffers_)
    if (b && !b->busy) return b.get();
  for (auto& b : buffers_)
    if (!b) return (b = makeBuffer(width, height)).get();
  return nullptr;
}

// Null after telling why, when the system has no memory to share.
std::unique_ptr<OutputSurface::Buffer> OutputSurface::makeBuffer(int width, int height) {
  auto made = std::make_unique<Buffer>();
  made->width = width;
  made->height = height;
  made->bytes = static_cast<std::size_t>(width) * height * 4;
  int fd = sharedFile(made->bytes);
  void* memory =
      fd < 0 ? MAP_FAILED : mmap(nullptr, made->bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (memory == MAP_FAILED) {
    std::fprintf(stderr, "nebla: cannot make a %dx%d wallpaper buffer: %s\n", width, height,
                 std::strerror(errno));
    if (fd >= 0) close(fd);
    return nullptr;
  }
  made->pixels = static_cast<std::uint32_t*>(memory);
  wl_shm_pool* pool = wl_shm_create_pool(globals_.shm, fd, static_cast<int32_t>(made->bytes));
  made->buffer =
      wl_shm_pool_create_buffer(pool, 0, width, height, width * 4, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  wl_buffer_add_listener(made->buffer, &kBufferListener, &made->busy);
  return made;
}

void OutputSurface::draw(const Picture& picture, std::uint64_t generation) {
  if (!configured_ || frame_ != nullptr || picture.empty() || drawn_ == generation) return;
  BufferSize size = bufferFor(width_, height_, scale_);
  if (size.width <= 0 || size.height <= 0) return;
  Buffer* buffer = freeBuffer(size.width, size.height);
  if (buffer == nullptr) return;
  drawPicture(picture, buffer->pixels, size.width, size.height, size.width);
  if (bufferScale_ != scale_) wl_surface_set_buffer_scale(surface_, scale_);
  bufferScale_ = scale_;
  wl_surface_attach(surface_, buffer->buffer, 0, 0);
  wl_surface_damage_buffer(surface_, 0, 0, size.width, size.height);
  frame_ = wl_surface_frame(surface_);
  wl_callback_add_listener(frame_, &kFrameListener, this);
  wl_surface_commit(surface_);
  buffer->busy = true;
  drawn_ = generation;
}

}  // namespace nebla::platform::wayland
