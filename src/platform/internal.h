// What the platform's parts share among themselves and never show the
// program: device contexts on surfaces, the bitmap objects, the resource
// lookup and the reset of each part's state.
#pragma once

#include <memory>
#include <span>

#include "platform/bitmap.h"
#include "platform/ddraw.h"
#include "platform/types.h"

namespace nebla::platform {

// GetDC and ReleaseDC of a surface: the GDI side of its device context.
HDC createSurfaceDC(IDirectDrawSurface* surface);
void destroySurfaceDC(HDC dc);

// LoadImageA hands each loaded picture to GDI, which owns it from then on.
HBITMAP adoptBitmap(std::unique_ptr<GdiBitmap> bitmap);

// Whether a window handle names a live window (SetCooperativeLevel).
bool isWindow(HWND window);

// The file image of resource id of the program's module (empty if none).
std::span<const unsigned char> findResource(int id);

// A look at the machine's state right after a reading of GetTickCount,
// made by a busy wait: the wait's run of readings goes on.
void continueClockReadings();

// Each part's share of resetPlatform.
void resetClockReadings();
void resetDirectDraw();
void resetGdi();
void resetWindows();

}  // namespace nebla::platform
