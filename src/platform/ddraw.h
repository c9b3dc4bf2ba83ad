// DirectDraw for the program: the display object, 8-bit surfaces with their
// locks, blits and flips, and palettes. Objects count references like COM
// objects and are deleted when the count reaches zero; a handle owns one
// reference. Every pixel lives in memory; the backend shows the visible
// surface through its palette.
#pragma once

#include <array>
#include <vector>

#include "platform/types.h"

namespace nebla::platform {

constexpr HRESULT makeDirectDrawResult(DWORD code) {
  return static_cast<HRESULT>(0x88760000u | code);
}

constexpr HRESULT DD_OK = 0;
constexpr HRESULT DDERR_GENERIC = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT DDERR_UNSUPPORTED = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT DDERR_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT DDERR_INVALIDPARAMS = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT DDERR_INVALIDCAPS = makeDirectDrawResult(100);
constexpr HRESULT DDERR_INVALIDMODE = makeDirectDrawResult(120);
constexpr HRESULT DDERR_INVALIDOBJECT = makeDirectDrawResult(130);
constexpr HRESULT DDERR_INVALIDPIXELFORMAT = makeDirectDrawResult(145);
constexpr HRESULT DDERR_INVALIDRECT = makeDirectDrawResult(150);
constexpr HRESULT DDERR_NOEXCLUSIVEMODE = makeDirectDrawResult(225);
constexpr HRESULT DDERR_NOTFOUND = makeDirectDrawResult(255);
constexpr HRESULT DDERR_SURFACEBUSY = makeDirectDrawResult(430);
constexpr HRESULT DDERR_SURFACELOST = makeDirectDrawResult(450);
constexpr HRESULT DDERR_NODIRECTDRAWHW = makeDirectDrawResult(520);
constexpr HRESULT DDERR_PRIMARYSURFACEALREADYEXISTS = makeDirectDrawResult(564);
constexpr HRESULT DDERR_NOPALETTEATTACHED = makeDirectDrawResult(572);
constexpr HRESULT DDERR_NOTFLIPPABLE = makeDirectDrawResult(582);
constexpr HRESULT DDERR_NOTLOCKED = makeDirectDrawResult(584);
constexpr HRESULT DDERR_NODC = makeDirectDrawResult(586);
constexpr HRESULT DDERR_UNSUPPORTEDMODE = makeDirectDrawResult(590);
constexpr HRESULT DDERR_DCALREADYCREATED = makeDirectDrawResult(620);
constexpr HRESULT DDERR_CANTCREATEDC = makeDirectDrawResult(637);
static_assert(DDERR_SURFACELOST == static_cast<HRESULT>(0x887601C2u));

constexpr DWORD DDSD_CAPS = 0x1;
constexpr DWORD DDSD_HEIGHT = 0x2;
constexpr DWORD DDSD_WIDTH = 0x4;
constexpr DWORD DDSD_PITCH = 0x8;
constexpr DWORD DDSD_BACKBUFFERCOUNT = 0x20;
constexpr DWORD DDSD_LPSURFACE = 0x800;
constexpr DWORD DDSD_PIXELFORMAT = 0x1000;

constexpr DWORD DDPF_PALETTEINDEXED8 = 0x20;
constexpr DWORD DDPF_RGB = 0x40;

constexpr DWORD DDSCAPS_BACKBUFFER = 0x4;
constexpr DWORD DDSCAPS_COMPLEX = 0x8;
constexpr DWORD DDSCAPS_FLIP = 0x10;
constexpr DWORD DDSCAPS_FRONTBUFFER = 0x20;
constexpr DWORD DDSCAPS_OFFSCREENPLAIN = 0x40;
constexpr DWORD DDSCAPS_PRIMARYSURFACE = 0x200;
constexpr DWORD DDSCAPS_SYSTEMMEMORY = 0x800;

constexpr DWORD DDSCL_FULLSCREEN = 0x1;
constexpr DWORD DDSCL_NORMAL = 0x8;
constexpr DWORD DDSCL_EXCLUSIVE = 0x10;

constexpr DWORD DDPCAPS_8BIT = 0x4;
constexpr DWORD DDPCAPS_ALLOW256 = 0x40;

constexpr DWORD DDBLT_COLORFILL = 0x400;
constexpr DWORD DDBLT_WAIT = 0x1000000;
constexpr DWORD DDBLTFAST_NOCOLORKEY = 0x0;
constexpr DWORD DDBLTFAST_WAIT = 0x10;
constexpr DWORD DDFLIP_WAIT = 0x1;
constexpr DWORD DDLOCK_WAIT = 0x1;

// Size the program writes into dwSize of each description (the records'
// size on the original 32-bit platform); sizeof is accepted as well.
constexpr DWORD kSurfaceDescSize = 108;
constexpr DWORD kBltFxSize = 100;
constexpr DWORD kPixelFormatSize = 32;

struct DDPIXELFORMAT {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwFourCC;
  DWORD dwRGBBitCount;
  DWORD dwRBitMask;
  DWORD dwGBitMask;
  DWORD dwBBitMask;
  DWORD dwRGBAlphaBitMask;
};

struct DDSCAPS {
  DWORD dwCaps;
};

struct DDCOLORKEY {
  DWORD dwColorSpaceLowValue;
  DWORD dwColorSpaceHighValue;
};

struct DDSURFACEDESC {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwHeight;
  DWORD dwWidth;
  LONG lPitch;
  DWORD dwBackBufferCount;
  DWORD dwRefreshRate;
  DWORD dwAlphaBitDepth;
  DWORD dwReserved;
  void* lpSurface;
  DDCOLORKEY ddckCKDestOverlay;
  DDCOLORKEY ddckCKDestBlt;
  DDCOLORKEY ddckCKSrcOverlay;
  DDCOLORKEY ddckCKSrcBlt;
  DDPIXELFORMAT ddpfPixelFormat;
  DDSCAPS ddsCaps;
};

struct DDBLTFX {
  DWORD dwSize;
  DWORD dwDDFX;
  DWORD dwROP;
  DWORD dwDDROP;
  DWORD dwRotationAngle;
  DWORD dwZBufferOpCode;
  DWORD dwZBufferLow;
  DWORD dwZBufferHigh;
  DWORD dwZBufferBaseDest;
  DWORD dwZDestConstBitDepth;
  DWORD dwZDestConst;
  DWORD dwZSrcConstBitDepth;
  DWORD dwZSrcConst;
  DWORD dwAlphaEdgeBlendBitDepth;
  DWORD dwAlphaEdgeBlend;
  DWORD dwReserved;
  DWORD dwAlphaDestConstBitDepth;
  DWORD dwAlphaDestConst;
  DWORD dwAlphaSrcConstBitDepth;
  DWORD dwAlphaSrcConst;
  DWORD dwFillColor;
  DDCOLORKEY ddckDestColorkey;
  DDCOLORKEY ddckSrcColorkey;
};

class IDirectDraw;
class IDirectDrawSurface;

using PaletteEntries = std::array<PALETTEENTRY, 256>;

// 256 colours. A surface that holds the palette keeps a reference to it.
class IDirectDrawPalette {
 public:
  // Holders of a palette handle (a surface, or display code that keeps
  // one) take and give up their reference.
  ULONG AddRef();
  ULONG Release();

  // The platform reads the colours when it presents or matches colours.
  const PaletteEntries& entries() const { return entries_; }

 private:
  friend class IDirectDraw;
  friend class IDirectDrawSurface;
  IDirectDrawPalette(IDirectDraw* owner, const PALETTEENTRY* entries);
  ~IDirectDrawPalette();

  IDirectDraw* owner_;
  ULONG refs_ = 1;
  PaletteEntries entries_;
};

// An 8-bit surface: the primary (visible) surface, its back buffer, or an
// off-screen plain surface. Pixel (x, y) is at first byte + y * pitch + x,
// and the pitch is always larger than the width.
class IDirectDrawSurface {
 public:
  // The frame step and the effects lock a surface to work on its bytes.
  // Whole surface when rect is null. desc->dwSize must be 108 (or sizeof);
  // lpSurface, lPitch, dwWidth, dwHeight and the pixel format are filled.
  // A surface that is locked or has a device context out is busy.
  HRESULT Lock(RECT* rect, DDSURFACEDESC* desc, DWORD flags, HANDLE event);
  // Ends the lock; on the primary the new bytes are shown.
  HRESULT Unlock(void* rect);
  // The frame step's copies (text layer, finished frame). Unscaled byte
  // copy of srcRect (whole source when null) to (x, y),
  // clipped to this surface. Only DDBLTFAST_NOCOLORKEY copies are offered.
  HRESULT BltFast(DWORD x, DWORD y, IDirectDrawSurface* src, RECT* srcRect, DWORD trans);
  // The display set-up clears the text layer with it. Colour fill only
  // (DDBLT_COLORFILL with fx->dwFillColor): every byte of
  // dst (whole surface when null) becomes the fill value.
  HRESULT Blt(RECT* dst, IDirectDrawSurface* src, RECT* srcRect, DWORD flags, DDBLTFX* fx);
  // End of each frame step. On the primary: the back buffer's content becomes visible (the two
  // buffers' memory is swapped) and is presented through the palette.
  HRESULT Flip(IDirectDrawSurface* target, DWORD flags);
  // The display set-up fetches the back buffer once. On the primary with
  // DDSCAPS_BACKBUFFER: the back buffer, with one more
  // reference for the caller. The primary keeps its own reference, so the
  // back buffer lives at least as long as the primary.
  HRESULT GetAttachedSurface(DDSCAPS* caps, IDirectDrawSurface** out);
  // Set-up, colour-scheme switches and the outro attach palettes to the
  // primary. The surface holds a reference to the palette (null detaches);
  // on the primary the screen takes the new colours at once.
  HRESULT SetPalette(IDirectDrawPalette* palette);
  // The frame step's recovery from lost surfaces. Surfaces here are never
  // lost, so there is nothing to give back.
  HRESULT Restore();
  // Picture copies, the outro and the overlay draw through GDI: a device
  // context drawing into the surface's pixels until ReleaseDC.
  HRESULT GetDC(HDC* out);
  HRESULT ReleaseDC(HDC dc);
  // Handle holders; the teardown releases each surface once.
  ULONG AddRef();
  ULONG Release();

  // Platform side (GDI and presentation): pixels, geometry and state.
  BYTE* pixels() { return memory_.data(); }
  LONG pitch() const { return pitch_; }
  DWORD width() const { return width_; }
  DWORD height() const { return height_; }
  bool isPrimary() const { return (caps_ & DDSCAPS_PRIMARYSURFACE) != 0; }
  bool isLocked() const { return locked_; }
  IDirectDrawPalette* palette() const { return palette_; }
  // Shows the primary surface's pixels after they were drawn on directly.
  void presentIfVisible();

 private:
  friend class IDirectDraw;
  IDirectDrawSurface(IDirectDraw* owner, DWORD width, DWORD height, DWORD caps);
  ~IDirectDrawSurface();
  bool busy() const { return locked_ || dc_ != nullptr; }
  void present(bool fromFlip);
  void dropLinks();

  IDirectDraw* owner_;
  ULONG refs_ = 1;
  DWORD width_;
  DWORD height_;
  LONG pitch_;
  DWORD caps_;
  std::vector<BYTE> memory_;
  bool locked_ = false;
  HDC dc_ = nullptr;
  IDirectDrawPalette* palette_ = nullptr;
  IDirectDrawSurface* backBuffer_ = nullptr;   // primary only; one reference
  IDirectDrawSurface* frontBuffer_ = nullptr;  // back buffer only; no reference
};

// The display. Releasing it gives the display back and destroys every
// surface and palette it created that is still alive: their handles must not
// be used afterwards.
class IDirectDraw {
 public:
  // The display set-up takes the screen for its window (full screen and
  // exclusive together, or neither).
  HRESULT SetCooperativeLevel(HWND window, DWORD flags);
  // The display set-up asks for 640 x 480 x 8. DDERR_UNSUPPORTEDMODE when
  // the backend cannot show the mode; only 8 bits per pixel are offered.
  HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel);
  // The display set-up creates the flip chain and the off-screen surfaces:
  // either a primary surface with one back buffer (DDSD_CAPS +
  // DDSD_BACKBUFFERCOUNT, caps PRIMARYSURFACE + FLIP + COMPLEX; the size of
  // the display mode, DDERR_INVALIDMODE before one is set; only one primary
  // at a time), or an 8-bit off-screen plain surface (DDSD_CAPS + HEIGHT +
  // WIDTH [+ PIXELFORMAT 8-bit palettised]).
  HRESULT CreateSurface(DDSURFACEDESC* desc, IDirectDrawSurface** out, void* outer);
  // Set-up, scheme switches and the outro make palettes. flags must contain
  // DDPCAPS_8BIT; all 256 entries are used as given (with or without
  // DDPCAPS_ALLOW256).
  HRESULT CreatePalette(DWORD flags, PALETTEENTRY* entries, IDirectDrawPalette** out, void* outer);
  // The teardown releases the display last.
  ULONG AddRef();
  ULONG Release();

 private:
  friend HRESULT DirectDrawCreate(void* guid, IDirectDraw** out, void* outer);
  friend class IDirectDrawSurface;
  friend class IDirectDrawPalette;
  friend void resetDirectDraw();
  IDirectDraw() = default;
  ~IDirectDraw();
  HRESULT createPrimary(const DDSURFACEDESC& desc, IDirectDrawSurface** out);
  HRESULT createOffscreen(const DDSURFACEDESC& desc, IDirectDrawSurface** out);
  void forget(const void* child);

  ULONG refs_ = 1;
  DWORD modeWidth_ = 0;
  DWORD modeHeight_ = 0;
  std::vector<IDirectDrawSurface*> surfaces_;
  std::vector<IDirectDrawPalette*> palettes_;
};

// Opens the display through the backend; DDERR_NODIRECTDRAWHW when it has
// none. The display set-up calls it once with a null guid and outer.
HRESULT DirectDrawCreate(void* guid, IDirectDraw** out, void* outer);

// Platform side: the primary surface alive now (null when none) and the
// palette in effect on the screen (null when no palette is attached).
IDirectDrawSurface* primarySurface();
const PaletteEntries* paletteInEffect();

}  // namespace nebla::platform
