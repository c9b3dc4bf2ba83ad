// GDI for the program: memory device contexts holding bitmaps, unscaled
// picture copies into 8-bit surfaces with colour matching, the colour table
// of a bitmap, and text output with a built-in 8 x 14 font.
//
// Colours drawn into an 8-bit surface become the index of the nearest entry
// (smallest squared RGB distance, lowest index on ties) of the palette in
// effect on the screen, a grey ramp when no palette is attached. A picture
// whose colour table equals that palette entry by entry is copied unchanged.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace nebla::platform {

inline const HGDIOBJ HGDI_ERROR = reinterpret_cast<HGDIOBJ>(static_cast<LONG_PTR>(-1));
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// Cell of the built-in font used by TextOutA.
constexpr int kFontCellWidth = 8;
constexpr int kFontCellHeight = 14;

// A memory device context; the display set-up and the outro pass null (a
// context compatible with the screen). Null and the last error on failure.
HDC CreateCompatibleDC(HDC dc);
// Frees a memory device context after a picture copy (surface contexts go
// back by ReleaseDC).
BOOL DeleteDC(HDC dc);
// The picture copies select the loaded bitmap into a memory context. Returns
// the bitmap selected before (a context starts with a 1 x 1 stock bitmap);
// HGDI_ERROR on failure, also when the bitmap is selected into another
// context.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// Frees a bitmap that is not selected into any context; the program's
// pictures are left to the platform, which frees them at reset.
BOOL DeleteObject(HGDIOBJ object);
// The picture copies and the outro's slide. Copies src's (xs, ys, ws, hs)
// to dst's (x, y, w, h). Only unscaled copies (w == ws, h == hs) are
// offered; the copy is clipped to the source bitmap and to the destination
// surface. Destination: a surface's context; source: a memory context with
// a bitmap, or a surface's context (indices copied).
BOOL StretchBlt(HDC dst, int x, int y, int w, int h, HDC src, int xs, int ys, int ws, int hs,
                DWORD rop);
// The outro reads its picture's colours. Copies up to count entries of the
// colour table of the bitmap selected into dc, from entry start on; returns
// the number copied (0 on failure).
UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* out);

// The overlay sets its colours. Text colours of a context (defaults: black
// text on a white, opaque box); each returns the previous colour,
// CLR_INVALID on failure.
COLORREF SetTextColor(HDC dc, COLORREF colour);
COLORREF SetBkColor(HDC dc, COLORREF colour);
// OPAQUE (the default) or TRANSPARENT; returns the previous mode, 0 on failure.
int SetBkMode(HDC dc, int mode);
// The overlay writes its lines. Writes length characters in 8 x 14 cells
// with the top-left at (x, y), each cell's background box filled with the
// background colour. Characters outside 0x20..0x7E show as a hollow box.
BOOL TextOutA(HDC dc, int x, int y, LPCSTR text, int length);

}  // namespace nebla::platform
