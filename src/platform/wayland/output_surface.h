// One output of the compositor and the wallpaper on it: the output's name
// and scale, a layer surface on its background layer covering all of it,
// the shared-memory buffers it is drawn into, and the frame callback that
// says when the compositor wants the next picture.
#pragma once

#include <wayland-client.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/wayland/picture.h"

struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;

namespace nebla::platform::wayland {

// The compositor's objects every output's surface is made with.
struct Globals {
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  zwlr_layer_shell_v1* layerShell = nullptr;
  zxdg_output_manager_v1* xdgOutputs = nullptr;
};

class OutputSurface {
 public:
  // Follows the output (bound by the caller, which hands it over) for its
  // name and scale; wanted is the one output name to draw on, empty for
  // every output.
  OutputSurface(const Globals& globals, std::uint32_t globalName, wl_output* output,
                std::string wanted);
  OutputSurface(const OutputSurface&) = delete;
  OutputSurface& operator=(const OutputSurface&) = delete;
  // Destroys the surface, the buffers and the output.
  ~OutputSurface();

  // The output's name from xdg-output, for compositors whose wl_output is
  // older than version 4 (which names it itself); for a manager bound after
  // the output.
  void watchXdgOutput(zxdg_output_manager_v1* manager);
  // Draws the picture if the compositor is ready for one and has not been
  // given this one (generation counts the pictures presented). Nothing is
  // drawn while a frame callback is outstanding: an output the compositor
  // does not show never calls back, and so is not drawn on.
  void draw(const Picture& picture, std::uint64_t generation);

  std::uint32_t globalName() const { return globalName_; }
  const std::string& name() const { return name_; }
  // The output's description is complete (its first done event came).
  bool described() const { return described_; }

 private:
  struct Buffer;
  friend struct OutputEvents;

  void settled();
  void showIfWanted();
  void configure(std::uint32_t serial, std::uint32_t width, std::uint32_t height);
  void closeSurface();
  Buffer* freeBuffer(int width, int height);
  std::unique_ptr<Buffer> makeBuffer(int width, int height);
  void dropBuffers();
  void frameDone();

  Globals globals_;
  std::uint32_t globalName_;
  wl_output* output_;
  zxdg_output_v1* xdgOutput_ = nullptr;
  std::string wanted_;
  std::string name_;
  int scale_ = 1;
  int pendingScale_ = 1;
  bool described_ = false;
  bool shown_ = false;  // a layer surface was made (it may since be closed)

  wl_surface* surface_ = nullptr;
  zwlr_layer_surface_v1* layer_ = nullptr;
  int width_ = 0;  // surface units, from the last configure
  int height_ = 0;
  bool configured_ = false;
  int bufferScale_ = 0;  // the scale the surface was last committed with
  wl_callback* frame_ = nullptr;
  std::uint64_t drawn_ = 0;  // the generation on the surface
  std::array<std::unique_ptr<Buffer>, 2> buffers_;
};

}  // namespace nebla::platform::wayland
