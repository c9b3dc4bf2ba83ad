// Palette conversion and scaled drawing, through an SDL renderer or
// straight into the window surface.
#include "platform/sdl/presenter.h"

#include <SDL_opengl.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace nebla::platform::sdl {
namespace {

// OpenGL drawn by the processor (as under a virtual X server) is slower
// than the presenter's own pixel loop; its renderer names itself.
bool softwareOpenGl() {
  using GetString = const GLubyte*(GLAPIENTRY*)(GLenum);
  auto getString = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
  const GLubyte* name = getString != nullptr ? getString(GL_RENDERER) : nullptr;
  if (name == nullptr) return false;
  const char* text = reinterpret_cast<const char*>(name);
  for (const char* soft : {"llvmpipe", "softpipe", "swrast", "Software Rasterizer"})
    if (std::strstr(text, soft) != nullptr) return true;
  return false;
}

// Whether this renderer draws with graphics hardware. A renderer that the
// user names through SDL_RENDER_DRIVER is always taken as it is.
bool hardwareRenderer(SDL_Renderer* renderer) {
  if (SDL_GetHint(SDL_HINT_RENDER_DRIVER) != nullptr) return true;
  SDL_RendererInfo info{};
  if (SDL_GetRendererInfo(renderer, &info) != 0 || (info.flags & SDL_RENDERER_ACCELERATED) == 0)
    return false;
  return std::strncmp(info.name, "opengl", 6) != 0 || !softwareOpenGl();
}

// One picture row from one image row: whole multiples repeat each pixel,
// other widths pick the nearest image column.
void paintRow(const BYTE* in, int width, const std::array<Uint32, 256>& colours, Uint32* out,
              int outWidth) {
  if (outWidth % width == 0) {
    int factor = outWidth / width;
    for (int x = 0; x < width; ++x, out += factor) std::fill_n(out, factor, colours[in[x]]);
    return;
  }
  for (int x = 0; x < outWidth; ++x) out[x] = colours[in[x * width / outWidth]];
}

// Rows of the picture rectangle that fall on the same image row are the
// same pixels: painted once, then copied. With the image as painted before,
// only rows that differ from it are painted; the result is the bands of
// the surface that changed.
std::vector<SDL_Rect> paintNearest(const std::vector<BYTE>& image, const std::vector<BYTE>* before,
                                   int width, int height, const std::array<Uint32, 256>& colours,
                                   SDL_Surface* surface, const Rect& picture) {
  std::vector<SDL_Rect> changed;
  auto* base = static_cast<Uint8*>(surface->pixels);
  int lastRow = -1;
  bool lastPainted = false;
  const Uint32* lastOut = nullptr;
  for (int y = 0; y < picture.h; ++y) {
    auto* out = reinterpret_cast<Uint32*>(base + static_cast<std::ptrdiff_t>(picture.y + y) *
                                                     surface->pitch) +
                picture.x;
    int row = y * height / picture.h;
    const BYTE* in = image.data() + static_cast<std::size_t>(row) * width;
    if (row != lastRow) {
      lastRow = row;
      lastPainted =
          before == nullptr || std::memcmp(in, before->data() + (in - image.data()), width) != 0;
      if (lastPainted) paintRow(in, width, colours, out, picture.w);
      lastOut = out;
    } else if (lastPainted) {
      std::memcpy(out, lastOut, static_cast<std::size_t>(picture.w) * 4);
    }
    if (!lastPainted) continue;
    if (!changed.empty() && changed.back().y + changed.back().h == picture.y + y)
      ++changed.back().h;
    else
      changed.push_back({picture.x, picture.y + y, picture.w, 1});
  }
  return changed;
}

// Black wherever no picture lies: four bars around one picture, the whole
// surface under several (the pictures are painted over it).
void fillBars(SDL_Surface* surface, const std::vector<Rect>& pictures, Uint32 black) {
  if (pictures.size() != 1) {
    SDL_FillRect(surface, nullptr, black);
    return;
  }
  const Rect& picture = pictures.front();
  SDL_Rect bars[] = {
      {0, 0, surface->w, picture.y},
      {0, picture.y + picture.h, surface->w, surface->h - picture.y - picture.h},
      {0, picture.y, picture.x, picture.h},
      {picture.x + picture.w, picture.y, surface->w - picture.x - picture.w, picture.h}};
  for (const SDL_Rect& bar : bars)
    if (bar.w > 0 && bar.h > 0) SDL_FillRect(surface, &bar, black);
}

}  // namespace

Presenter::~Presenter() { close(); }

bool Presenter::open(SDL_Window* window, bool software) {
  if (renderer_ != nullptr || surfaceMode_) return true;
  window_ = window;
  if (software) {
    if (openSurface()) return true;
    renderer_ = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
    return renderer_ != nullptr;
  }
  renderer_ = SDL_CreateRenderer(window, -1, 0);
  if (renderer_ != nullptr && hardwareRenderer(renderer_)) return true;
  if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
  renderer_ = nullptr;
  if (openSurface()) return true;
  renderer_ = SDL_CreateRenderer(window, -1, 0);
  return renderer_ != nullptr;
}

// The window surface is sent to the X server through shared memory rather
// than through OpenGL, and its pixels must be four bytes each.
bool Presenter::openSurface() {
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SDL_Surface* surface = SDL_GetWindowSurface(window_);
  surfaceMode_ = surface != nullptr && surface->format->BytesPerPixel == 4;
  return surfaceMode_;
}

bool Presenter::setImageSize(int width, int height) {
  if ((renderer_ == nullptr && !surfaceMode_) || width <= 0 || height <= 0) return false;
  dropTextures();
  if (renderer_ != nullptr) {
    frame_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                               width, height);
    if (frame_ == nullptr) return false;
  }
  width_ = width;
  height_ = height;
  pixels_.assign(static_cast<std::size_t>(width) * height, 0);
  hasFrame_ = false;
  return true;
}

void Presenter::dropTextures() {
  if (scaled_ != nullptr) SDL_DestroyTexture(scaled_);
  if (frame_ != nullptr) SDL_DestroyTexture(frame_);
  scaled_ = nullptr;
  frame_ = nullptr;
  scaledFactor_ = 0;
}

void Presenter::close() {
  dropTextures();
  if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
  renderer_ = nullptr;
  surfaceMode_ = false;
  shownSurface_ = nullptr;
  width_ = 0;
  height_ = 0;
  hasFrame_ = false;
}

void Presenter::setMonitors(std::vector<Rect> monitors) {
  monitors_ = std::move(monitors);
  shownSurface_ = nullptr;
}

// A surface of another size than the mode (none is presented) is drawn
// into the top-left corner of the kept frame.
void Presenter::keep(const Presentation& frame) {
  if (width_ == 0) return;
  std::copy_n(frame.palette, palette_.size(), palette_.begin());
  auto rows = static_cast<int>(std::min<DWORD>(frame.height, static_cast<DWORD>(height_)));
  auto bytes = static_cast<std::size_t>(std::min<DWORD>(frame.width, static_cast<DWORD>(width_)));
  for (int y = 0; y < rows; ++y)
    std::memcpy(pixels_.data() + static_cast<std::size_t>(y) * width_,
                frame.pixels + static_cast<std::ptrdiff_t>(y) * frame.pitch, bytes);
  hasFrame_ = true;
}

void Presenter::show(const Presentation& frame) {
  keep(frame);
  if (width_ == 0) return;
  if (surfaceMode_)
    drawOnSurface(false);
  else if (renderer_ != nullptr)
    drawWithRenderer();
}

void Presenter::redraw() {
  if (surfaceMode_)
    drawOnSurface(true);
  else if (renderer_ != nullptr)
    drawWithRenderer();
}

Rect Presenter::pictureIn(int windowWidth, int windowHeight) const {
  int w = width_ > 0 ? width_ : 640;
  int h = height_ > 0 ? height_ : 480;
  if (surfaceMode_) return fitWholeMultiple(windowWidth, windowHeight, w, h);
  return fitImage(windowWidth, windowHeight, w, h).picture;
}

// Where the kept frame goes on the window surface: whole multiples, once
// or on each monitor.
std::vector<Rect> Presenter::picturesIn(int outputWidth, int outputHeight) const {
  if (!hasFrame_) return {};
  if (monitors_.empty()) return {fitWholeMultiple(outputWidth, outputHeight, width_, height_)};
  return picturesOnMonitors(monitors_, outputWidth, outputHeight, width_, height_);
}

std::array<Uint32, 256> Presenter::colours(const SDL_PixelFormat* format) const {
  std::array<Uint32, 256> out{};
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = SDL_MapRGB(format, palette_[i].peRed, palette_[i].peGreen, palette_[i].peBlue);
  return out;
}

// Whether the window surface still holds the last painted frame: a resize
// replaces the surface, a palette change every colour.
bool Presenter::surfaceCurrent(const SDL_Surface* surface) const {
  return surface == shownSurface_ && surface->w == shownWidth_ && surface->h == shownHeight_ &&
         shownPalette_ == palette_ && shownPixels_.size() == pixels_.size();
}

// Most of a frame is the unchanged text layer: only image rows that differ
// from the painted ones are painted and sent to the screen.
void Presenter::drawOnSurface(bool whole) {
  SDL_Surface* surface = SDL_GetWindowSurface(window_);
  if (surface == nullptr || surface->format->BytesPerPixel != 4) return;
  whole = whole || !surfaceCurrent(surface);
  std::vector<Rect> pictures = picturesIn(surface->w, surface->h);
  if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return;
  if (whole) fillBars(surface, pictures, SDL_MapRGB(surface->format, 0, 0, 0));
  std::vector<SDL_Rect> changed;
  std::array<Uint32, 256> colourOf = colours(surface->format);
  for (const Rect& picture : pictures) {
    if (picture.w <= 0 || picture.h <= 0) continue;
    std::vector<SDL_Rect> bands = paintNearest(pixels_, whole ? nullptr : &shownPixels_, width_,
                                               height_, colourOf, surface, picture);
    changed.insert(changed.end(), bands.begin(), bands.end());
  }
  if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  if (whole)
    SDL_UpdateWindowSurface(window_);
  else if (!changed.empty())
    SDL_UpdateWindowSurfaceRects(window_, changed.data(), static_cast<int>(changed.size()));
  shownPixels_ = pixels_;
  shownPalette_ = palette_;
  shownSurface_ = surface;
  shownWidth_ = surface->w;
  shownHeight_ = surface->h;
}

bool Presenter::upload() {
  std::array<Uint32, 256> argb{};
  for (std::size_t i = 0; i < argb.size(); ++i)
    argb[i] = 0xFF000000u | (Uint32{palette_[i].peRed} << 16) | (Uint32{palette_[i].peGreen} << 8) |
              palette_[i].peBlue;
  void* memory = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(frame_, nullptr, &memory, &pitch) != 0) return false;
  for (int y = 0; y < height_; ++y) {
    auto* out = reinterpret_cast<Uint32*>(static_cast<Uint8*>(memory) +
                                          static_cast<std::ptrdiff_t>(y) * pitch);
    const BYTE* in = pixels_.data() + static_cast<std::size_t>(y) * width_;
    for (int x = 0; x < width_; ++x) out[x] = argb[in[x]];
  }
  SDL_UnlockTexture(frame_);
  return true;
}

// On several monitors each picture is the frame at a whole multiple, drawn
// sharp; one picture alone fills the window as the window's own does.
void Presenter::drawWithRenderer() {
  int outputWidth = 0;
  int outputHeight = 0;
  SDL_Texture* picture = nullptr;
  std::vector<Rect> targets;
  if (hasFrame_ && upload() &&
      SDL_GetRendererOutputSize(renderer_, &outputWidth, &outputHeight) == 0) {
    if (monitors_.empty()) {
      Viewport v = fitImage(outputWidth, outputHeight, width_, height_);
      targets.push_back(v.picture);
      picture = prepare(v, v.picture.w > width_);
    } else {
      targets = picturesOnMonitors(monitors_, outputWidth, outputHeight, width_, height_);
      SDL_SetTextureScaleMode(frame_, SDL_ScaleModeNearest);
      picture = frame_;
    }
  }
  SDL_SetRenderTarget(renderer_, nullptr);
  SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
  SDL_RenderClear(renderer_);
  for (const Rect& t : picture != nullptr ? targets : std::vector<Rect>{}) {
    SDL_Rect target{t.x, t.y, t.w, t.h};
    SDL_RenderCopy(renderer_, picture, nullptr, &target);
  }
  SDL_RenderPresent(renderer_);
}

// The texture to stretch onto the picture rectangle: the frame itself at a
// whole scale, or, for a larger picture, the frame enlarged by the next
// whole factor above the fit, which the smoothing step then shrinks a
// little (edges soften by at most one pixel; a picture smaller than the
// image is smoothed directly). If the enlarged copy cannot be made the
// frame is stretched directly, uneven but visible.
SDL_Texture* Presenter::prepare(const Viewport& v, bool enlarged) {
  if (v.exact || !enlarged) {
    SDL_SetTextureScaleMode(frame_, v.exact ? SDL_ScaleModeNearest : SDL_ScaleModeLinear);
    return frame_;
  }
  SDL_SetTextureScaleMode(frame_, SDL_ScaleModeNearest);
  SDL_Texture* scaled = wholeScaleTexture(v.wholeScale + 1);
  if (scaled == nullptr || SDL_SetRenderTarget(renderer_, scaled) != 0) return frame_;
  SDL_RenderCopy(renderer_, frame_, nullptr, nullptr);
  return scaled;
}

// Made again only when the whole scale changes, i.e. on a window resize.
SDL_Texture* Presenter::wholeScaleTexture(int factor) {
  if (scaled_ != nullptr && scaledFactor_ == factor) return scaled_;
  if (scaled_ != nullptr) SDL_DestroyTexture(scaled_);
  scaled_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_TARGET,
                              width_ * factor, height_ * factor);
  scaledFactor_ = scaled_ != nullptr ? factor : 0;
  if (scaled_ != nullptr) SDL_SetTextureScaleMode(scaled_, SDL_ScaleModeLinear);
  return scaled_;
}

}  // namespace nebla::platform::sdl
