// DirectDraw objects: the display, memory-backed 8-bit surfaces and
// palettes, with the locking, blitting and flipping rules of the platform.
#include "platform/ddraw.h"

#include <algorithm>
#include <cstring>

#include "platform/backend.h"
#include "platform/fault.h"
#include "platform/internal.h"

namespace nebla::platform {
namespace {

IDirectDrawSurface* visiblePrimary = nullptr;
std::vector<IDirectDraw*> liveDisplays;

constexpr DWORD kMaxSurfaceSide = 16384;

bool acceptedSize(DWORD size, DWORD programSize, std::size_t recordSize) {
  return size == programSize || size == recordSize;
}

bool validRect(const RECT& r, DWORD width, DWORD height) {
  return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom &&
         static_cast<DWORD>(r.right) <= width && static_cast<DWORD>(r.bottom) <= height;
}

// Rows are a multiple of 32 bytes with 32 to spare, so the pitch is never
// the width: code that confuses the two shows up at once.
LONG pitchFor(DWORD width) { return static_cast<LONG>((width + 31) / 32 * 32 + 32); }

template <typename T>
void eraseOne(std::vector<T*>& list, const void* item) {
  auto it = std::find(list.begin(), list.end(), item);
  if (it != list.end()) list.erase(it);
}

}  // namespace

IDirectDrawSurface* primarySurface() { return visiblePrimary; }

const PaletteEntries* paletteInEffect() {
  if (visiblePrimary == nullptr || visiblePrimary->palette() == nullptr) return nullptr;
  return &visiblePrimary->palette()->entries();
}

// ---- palette ----

IDirectDrawPalette::IDirectDrawPalette(IDirectDraw* owner, const PALETTEENTRY* entries)
    : owner_(owner) {
  std::copy(entries, entries + entries_.size(), entries_.begin());
}

IDirectDrawPalette::~IDirectDrawPalette() {
  if (owner_ != nullptr) owner_->forget(this);
}

ULONG IDirectDrawPalette::AddRef() {
  if (auto r = injectedFault<ULONG>("AddRef", refs_)) return *r;
  return ++refs_;
}

ULONG IDirectDrawPalette::Release() {
  if (auto r = injectedFault<ULONG>("Release", refs_)) return *r;
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

// ---- surface ----

IDirectDrawSurface::IDirectDrawSurface(IDirectDraw* owner, DWORD width, DWORD height, DWORD caps)
    : owner_(owner),
      width_(width),
      height_(height),
      pitch_(pitchFor(width)),
      caps_(caps),
      memory_(static_cast<std::size_t>(pitch_) * height) {}

IDirectDrawSurface::~IDirectDrawSurface() {
  if (owner_ != nullptr) owner_->forget(this);
  if (visiblePrimary == this) visiblePrimary = nullptr;
  if (dc_ != nullptr) destroySurfaceDC(dc_);
  dropLinks();
}

void IDirectDrawSurface::dropLinks() {
  if (palette_ != nullptr && --palette_->refs_ == 0) delete palette_;
  palette_ = nullptr;
  if (frontBuffer_ != nullptr) frontBuffer_->backBuffer_ = nullptr;
  frontBuffer_ = nullptr;
  IDirectDrawSurface* back = backBuffer_;
  backBuffer_ = nullptr;
  if (back != nullptr) {
    back->frontBuffer_ = nullptr;
    if (--back->refs_ == 0) delete back;
  }
}

HRESULT IDirectDrawSurface::Lock(RECT* rect, DDSURFACEDESC* desc, DWORD /*flags*/,
                                 HANDLE /*event*/) {
  if (auto r = injectedFault<HRESULT>("Lock", DDERR_GENERIC)) return *r;
  if (desc == nullptr || !acceptedSize(desc->dwSize, kSurfaceDescSize, sizeof(DDSURFACEDESC)))
    return DDERR_INVALIDPARAMS;
  if (busy()) return DDERR_SURFACEBUSY;
  std::size_t offset = 0;
  if (rect != nullptr) {
    if (!validRect(*rect, width_, height_)) return DDERR_INVALIDRECT;
    offset = static_cast<std::size_t>(rect->top) * pitch_ + rect->left;
  }
  DWORD size = desc->dwSize;
  *desc = DDSURFACEDESC{};
  desc->dwSize = size;
  desc->dwFlags =
      DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PITCH | DDSD_PIXELFORMAT | DDSD_LPSURFACE;
  desc->dwWidth = width_;
  desc->dwHeight = height_;
  desc->lPitch = pitch_;
  desc->lpSurface = memory_.data() + offset;
  desc->ddpfPixelFormat = {kPixelFormatSize, DDPF_PALETTEINDEXED8 | DDPF_RGB, 0, 8, 0, 0, 0, 0};
  desc->ddsCaps.dwCaps = caps_;
  locked_ = true;
  return DD_OK;
}

HRESULT IDirectDrawSurface::Unlock(void* /*rect*/) {
  if (auto r = injectedFault<HRESULT>("Unlock", DDERR_GENERIC)) return *r;
  if (!locked_) return DDERR_NOTLOCKED;
  locked_ = false;
  presentIfVisible();
  return DD_OK;
}

HRESULT IDirectDrawSurface::BltFast(DWORD x, DWORD y, IDirectDrawSurface* src, RECT* srcRect,
                                    DWORD trans) {
  if (auto r = injectedFault<HRESULT>("BltFast", DDERR_GENERIC)) return *r;
  if (src == nullptr) return DDERR_INVALIDPARAMS;
  if ((trans & ~DDBLTFAST_WAIT) != DDBLTFAST_NOCOLORKEY) return DDERR_UNSUPPORTED;
  if (busy() || src->busy()) return DDERR_SURFACEBUSY;
  RECT from = srcRect != nullptr
                  ? *srcRect
                  : RECT{0, 0, static_cast<LONG>(src->width_), static_cast<LONG>(src->height_)};
  if (!validRect(from, src->width_, src->height_)) return DDERR_INVALIDRECT;
  if (x >= width_ || y >= height_) return DD_OK;
  std::size_t w = std::min<std::size_t>(from.right - from.left, width_ - x);
  std::size_t h = std::min<std::size_t>(from.bottom - from.top, height_ - y);
  // Within one surface, copying downwards must start at the bottom row.
  bool bottomUp = src == this && static_cast<LONG>(y) > from.top;
  for (std::size_t i = 0; i < h; ++i) {
    std::size_t row = bottomUp ? h - 1 - i : i;
    const BYTE* in = src->memory_.data() + (from.top + row) * src->pitch_ + from.left;
    std::memmove(memory_.data() + (y + row) * pitch_ + x, in, w);
  }
  presentIfVisible();
  return DD_OK;
}

HRESULT IDirectDrawSurface::Blt(RECT* dst, IDirectDrawSurface* /*src*/, RECT* /*srcRect*/,
                                DWORD flags, DDBLTFX* fx) {
  if (auto r = injectedFault<HRESULT>("Blt", DDERR_GENERIC)) return *r;
  if ((flags & DDBLT_COLORFILL) == 0) return DDERR_UNSUPPORTED;
  if (fx == nullptr || !acceptedSize(fx->dwSize, kBltFxSize, sizeof(DDBLTFX)))
    return DDERR_INVALIDPARAMS;
  if (busy()) return DDERR_SURFACEBUSY;
  RECT area =
      dst != nullptr ? *dst : RECT{0, 0, static_cast<LONG>(width_), static_cast<LONG>(height_)};
  if (!validRect(area, width_, height_)) return DDERR_INVALIDRECT;
  auto value = static_cast<BYTE>(fx->dwFillColor);
  for (LONG row = area.top; row < area.bottom; ++row)
    std::memset(memory_.data() + static_cast<std::size_t>(row) * pitch_ + area.left, value,
                static_cast<std::size_t>(area.right - area.left));
  presentIfVisible();
  return DD_OK;
}

HRESULT IDirectDrawSurface::Flip(IDirectDrawSurface* target, DWORD /*flags*/) {
  if (auto r = injectedFault<HRESULT>("Flip", DDERR_GENERIC)) return *r;
  if (!isPrimary() || backBuffer_ == nullptr) return DDERR_NOTFLIPPABLE;
  if (target != nullptr && target != backBuffer_) return DDERR_INVALIDPARAMS;
  if (busy() || backBuffer_->busy()) return DDERR_SURFACEBUSY;
  memory_.swap(backBuffer_->memory_);
  present(true);
  return DD_OK;
}

HRESULT IDirectDrawSurface::GetAttachedSurface(DDSCAPS* caps, IDirectDrawSurface** out) {
  if (auto r = injectedFault<HRESULT>("GetAttachedSurface", DDERR_GENERIC)) {
    if (out != nullptr) *out = nullptr;
    return *r;
  }
  if (caps == nullptr || out == nullptr) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  if (backBuffer_ == nullptr || (caps->dwCaps & ~(backBuffer_->caps_)) != 0) return DDERR_NOTFOUND;
  ++backBuffer_->refs_;
  *out = backBuffer_;
  return DD_OK;
}

HRESULT IDirectDrawSurface::SetPalette(IDirectDrawPalette* palette) {
  if (auto r = injectedFault<HRESULT>("SetPalette", DDERR_GENERIC)) return *r;
  if (palette != nullptr) ++palette->refs_;
  if (palette_ != nullptr && --palette_->refs_ == 0) delete palette_;
  palette_ = palette;
  presentIfVisible();
  return DD_OK;
}

HRESULT IDirectDrawSurface::Restore() {
  if (auto r = injectedFault<HRESULT>("Restore", DDERR_GENERIC)) return *r;
  return DD_OK;
}

HRESULT IDirectDrawSurface::GetDC(HDC* out) {
  if (auto r = injectedFault<HRESULT>("GetDC", DDERR_GENERIC)) {
    if (out != nullptr) *out = nullptr;
    return *r;
  }
  if (out == nullptr) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  if (dc_ != nullptr) return DDERR_DCALREADYCREATED;
  if (locked_) return DDERR_SURFACEBUSY;
  dc_ = createSurfaceDC(this);
  if (dc_ == nullptr) return DDERR_CANTCREATEDC;
  *out = dc_;
  return DD_OK;
}

HRESULT IDirectDrawSurface::ReleaseDC(HDC dc) {
  if (auto r = injectedFault<HRESULT>("ReleaseDC", DDERR_GENERIC)) return *r;
  if (dc_ == nullptr) return DDERR_NODC;
  if (dc != dc_) return DDERR_INVALIDPARAMS;
  destroySurfaceDC(dc_);
  dc_ = nullptr;
  return DD_OK;
}

ULONG IDirectDrawSurface::AddRef() {
  if (auto r = injectedFault<ULONG>("AddRef", refs_)) return *r;
  return ++refs_;
}

ULONG IDirectDrawSurface::Release() {
  if (auto r = injectedFault<ULONG>("Release", refs_)) return *r;
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

void IDirectDrawSurface::presentIfVisible() {
  if (this == visiblePrimary) present(false);
}

void IDirectDrawSurface::present(bool fromFlip) {
  const PaletteEntries& colours = palette_ != nullptr ? palette_->entries() : greyRamp();
  backend().present({memory_.data(), pitch_, width_, height_, colours.data(), fromFlip});
}

// ---- display ----

HRESULT DirectDrawCreate(void* /*guid*/, IDirectDraw** out, void* outer) {
  if (auto r = injectedFault<HRESULT>("DirectDrawCreate", DDERR_GENERIC)) {
    if (out != nullptr) *out = nullptr;
    return *r;
  }
  if (out == nullptr || outer != nullptr) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  if (!backend().openDisplay()) return DDERR_NODIRECTDRAWHW;
  *out = new IDirectDraw();
  liveDisplays.push_back(*out);
  return DD_OK;
}

IDirectDraw::~IDirectDraw() {
  eraseOne(liveDisplays, this);
  // Children outlive their handles no further than the display: unlink them
  // all first so that deleting one never touches another.
  auto surfaces = std::move(surfaces_);
  auto palettes = std::move(palettes_);
  for (auto* surface : surfaces) {
    surface->owner_ = nullptr;
    surface->palette_ = nullptr;
    surface->backBuffer_ = nullptr;
    surface->frontBuffer_ = nullptr;
  }
  for (auto* palette : palettes) palette->owner_ = nullptr;
  for (auto* surface : surfaces) delete surface;
  for (auto* palette : palettes) delete palette;
  backend().closeDisplay();
}

void IDirectDraw::forget(const void* child) {
  eraseOne(surfaces_, child);
  eraseOne(palettes_, child);
}

HRESULT IDirectDraw::SetCooperativeLevel(HWND window, DWORD flags) {
  if (auto r = injectedFault<HRESULT>("SetCooperativeLevel", DDERR_GENERIC)) return *r;
  bool exclusive = (flags & DDSCL_EXCLUSIVE) != 0;
  if (exclusive != ((flags & DDSCL_FULLSCREEN) != 0)) return DDERR_INVALIDPARAMS;
  if (exclusive && !isWindow(window)) return DDERR_INVALIDPARAMS;
  return DD_OK;
}

HRESULT IDirectDraw::SetDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel) {
  if (auto r = injectedFault<HRESULT>("SetDisplayMode", DDERR_GENERIC)) return *r;
  if (width == 0 || height == 0 || width > kMaxSurfaceSide || height > kMaxSurfaceSide)
    return DDERR_INVALIDPARAMS;
  if (bitsPerPixel != 8 || !backend().setDisplayMode(width, height, bitsPerPixel))
    return DDERR_UNSUPPORTEDMODE;
  modeWidth_ = width;
  modeHeight_ = height;
  return DD_OK;
}

HRESULT IDirectDraw::CreateSurface(DDSURFACEDESC* desc, IDirectDrawSurface** out, void* outer) {
  if (auto r = injectedFault<HRESULT>("CreateSurface", DDERR_GENERIC)) {
    if (out != nullptr) *out = nullptr;
    return *r;
  }
  if (desc == nullptr || out == nullptr || outer != nullptr) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  if (!acceptedSize(desc->dwSize, kSurfaceDescSize, sizeof(DDSURFACEDESC)))
    return DDERR_INVALIDPARAMS;
  bool primary =
      (desc->dwFlags & DDSD_CAPS) != 0 && (desc->ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE) != 0;
  return primary ? createPrimary(*desc, out) : createOffscreen(*desc, out);
}

HRESULT IDirectDraw::createPrimary(const DDSURFACEDESC& desc, IDirectDrawSurface** out) {
  if (visiblePrimary != nullptr) return DDERR_PRIMARYSURFACEALREADYEXISTS;
  if ((desc.dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) != 0) return DDERR_INVALIDPARAMS;
  if (modeWidth_ == 0) return DDERR_INVALIDMODE;
  DWORD chain = DDSCAPS_FLIP | DDSCAPS_COMPLEX;
  bool withBack = (desc.dwFlags & DDSD_BACKBUFFERCOUNT) != 0 && desc.dwBackBufferCount > 0;
  if (withBack && desc.dwBackBufferCount != 1) return DDERR_UNSUPPORTED;
  if (withBack != ((desc.ddsCaps.dwCaps & chain) == chain)) return DDERR_INVALIDCAPS;
  DWORD caps = desc.ddsCaps.dwCaps | (withBack ? DDSCAPS_FRONTBUFFER : 0);
  auto* front = new IDirectDrawSurface(this, modeWidth_, modeHeight_, caps);
  surfaces_.push_back(front);
  if (withBack) {
    auto* back = new IDirectDrawSurface(this, modeWidth_, modeHeight_, DDSCAPS_BACKBUFFER | chain);
    surfaces_.push_back(back);
    front->backBuffer_ = back;
    back->frontBuffer_ = front;
  }
  visiblePrimary = front;
  *out = front;
  return DD_OK;
}

HRESULT IDirectDraw::createOffscreen(const DDSURFACEDESC& desc, IDirectDrawSurface** out) {
  if ((desc.dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) != (DDSD_WIDTH | DDSD_HEIGHT) ||
      desc.dwWidth == 0 || desc.dwHeight == 0 || desc.dwWidth > kMaxSurfaceSide ||
      desc.dwHeight > kMaxSurfaceSide)
    return DDERR_INVALIDPARAMS;
  DWORD caps = (desc.dwFlags & DDSD_CAPS) != 0 ? desc.ddsCaps.dwCaps : DDSCAPS_OFFSCREENPLAIN;
  if ((caps & (DDSCAPS_FLIP | DDSCAPS_BACKBUFFER | DDSCAPS_COMPLEX)) != 0) return DDERR_INVALIDCAPS;
  if ((desc.dwFlags & DDSD_PIXELFORMAT) != 0) {
    const DDPIXELFORMAT& format = desc.ddpfPixelFormat;
    if (!acceptedSize(format.dwSize, kPixelFormatSize, sizeof(DDPIXELFORMAT)) ||
        (format.dwFlags & DDPF_PALETTEINDEXED8) == 0 || format.dwRGBBitCount != 8)
      return DDERR_INVALIDPIXELFORMAT;
  }
  auto* surface = new IDirectDrawSurface(this, desc.dwWidth, desc.dwHeight, caps);
  surfaces_.push_back(surface);
  *out = surface;
  return DD_OK;
}

HRESULT IDirectDraw::CreatePalette(DWORD flags, PALETTEENTRY* entries, IDirectDrawPalette** out,
                                   void* outer) {
  if (auto r = injectedFault<HRESULT>("CreatePalette", DDERR_GENERIC)) {
    if (out != nullptr) *out = nullptr;
    return *r;
  }
  if (entries == nullptr || out == nullptr || outer != nullptr) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  if ((flags & DDPCAPS_8BIT) == 0) return DDERR_INVALIDPARAMS;
  auto* palette = new IDirectDrawPalette(this, entries);
  palettes_.push_back(palette);
  *out = palette;
  return DD_OK;
}

ULONG IDirectDraw::AddRef() {
  if (auto r = injectedFault<ULONG>("AddRef", refs_)) return *r;
  return ++refs_;
}

ULONG IDirectDraw::Release() {
  if (auto r = injectedFault<ULONG>("Release", refs_)) return *r;
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

void resetDirectDraw() {
  while (!liveDisplays.empty()) delete liveDisplays.back();
  visiblePrimary = nullptr;
}

}  // namespace nebla::platform
