// Shows the program's 8-bit screen in the SDL window: through the palette
// of the moment, scaled with its aspect kept, black bars around it and
// sharp pixels. Keeps the last frame, so it can be drawn again when the
// window changes and saved when the user asks for a screenshot.
//
// With graphics hardware the picture goes through an SDL renderer and
// fills the window (nearest-neighbour to the whole multiple just above the
// fit, then smoothed to the final size). Without it (a software renderer or a software OpenGL) the
// presenter writes whole-multiple pixels straight into the window surface,
// which costs a fraction of the processor time.
#pragma once

#include <SDL.h>

#include <array>
#include <vector>

#include "platform/backend.h"
#include "platform/viewport.h"

namespace nebla::platform::sdl {

class Presenter {
 public:
  Presenter() = default;
  Presenter(const Presenter&) = delete;
  Presenter& operator=(const Presenter&) = delete;
  ~Presenter();

  // DirectDrawCreate: a way to draw into the window; false if none. With
  // software, no graphics hardware is tried: the root window takes no
  // OpenGL context, and another program's window is not given one.
  bool open(SDL_Window* window, bool software = false);
  // SetDisplayMode: the size of the picture the program will present.
  bool setImageSize(int width, int height);
  // Release of the DirectDraw object, and the window going away.
  void close();

  // The monitors the window spans, in window pixels, for one picture on
  // each at its own whole multiple (see picturesOnMonitors); empty, as at
  // the start: one picture over the whole window. Takes effect with the
  // next drawing, which paints the whole window.
  void setMonitors(std::vector<Rect> monitors);

  // Every Flip, palette change or drawing on the screen: shows it at once.
  void show(const Presentation& frame);
  // Keeps the frame as show() does without drawing it: nobody can see the
  // window now, and redraw() shows the frame kept last.
  void keep(const Presentation& frame);
  // The window was resized, exposed or switched in or out of full screen.
  void redraw();

  // Where the picture lies in a window of this size (window coordinates),
  // for mapping the pointer onto the image.
  Rect pictureIn(int windowWidth, int windowHeight) const;

  bool hasFrame() const { return hasFrame_; }
  int imageWidth() const { return width_; }
  int imageHeight() const { return height_; }
  const std::vector<BYTE>& pixels() const { return pixels_; }  // width x height
  const std::array<PALETTEENTRY, 256>& palette() const { return palette_; }

 private:
  bool openSurface();
  std::vector<Rect> picturesIn(int outputWidth, int outputHeight) const;
  std::array<Uint32, 256> colours(const SDL_PixelFormat* format) const;
  void drawWithRenderer();
  void drawOnSurface(bool whole);
  bool surfaceCurrent(const SDL_Surface* surface) const;
  bool upload();
  SDL_Texture* prepare(const Viewport& v, bool enlarged);
  SDL_Texture* wholeScaleTexture(int factor);
  void dropTextures();

  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  bool surfaceMode_ = false;
  SDL_Texture* frame_ = nullptr;   // the image at its own size
  SDL_Texture* scaled_ = nullptr;  // the image at a whole multiple of its size
  int scaledFactor_ = 0;
  int width_ = 0;
  int height_ = 0;
  std::vector<BYTE> pixels_;
  std::array<PALETTEENTRY, 256> palette_{};
  bool hasFrame_ = false;
  std::vector<Rect> monitors_;
  // What the window surface holds, so a frame repaints only changed rows.
  std::vector<BYTE> shownPixels_;
  std::array<PALETTEENTRY, 256> shownPalette_{};
  const SDL_Surface* shownSurface_ = nullptr;
  int shownWidth_ = 0;
  int shownHeight_ = 0;
};

}  // namespace nebla::platform::sdl
