// The outro: the picture's own palette on the screen, then the picture slid
// up in two eased phases of 45 steps of 20 ms.
#include "display/outro.h"

#include "state/application.h"
#include "diag/log.h"
#include "display/busy_wait.h"
#include "platform/gdi.h"
#include "platform/kernel.h"

namespace nebla::display {

std::array<int, 90> outroRows() {
  std::array<int, 90> rows{};
  std::size_t n = 0;
  for (double c = 0.0; c < 9.0; c = c + 0.2) rows[n++] = static_cast<int>(c * c);
  for (double c = 0.0; c < 9.0; c = c + 0.2)
    rows[n++] = static_cast<int>(160.0 - (9.0 - c) * (9.0 - c));
  return rows;
}

}  // namespace nebla::display

namespace nebla::state {

using namespace platform;

namespace {

constexpr WORD kOutroPicture = 119;

// The bitmap and the two device contexts of one outro. Every exit frees the
// contexts before it does anything else: memory context, then the screen's.
struct OutroContexts {
  IDirectDrawSurface* screenSurface;
  HANDLE bitmap = nullptr;
  HDC screen = nullptr;
  HDC memory = nullptr;

  void release() {
    if (memory != nullptr) DeleteDC(memory);
    if (screen != nullptr) screenSurface->ReleaseDC(screen);
    if (bitmap != nullptr) DeleteObject(static_cast<HGDIOBJ>(bitmap));
    memory = nullptr;
    screen = nullptr;
    bitmap = nullptr;
  }
};

// Steps that end in an error line; false after the line is written.
bool openContexts(OutroContexts& dc) {
  dc.bitmap = LoadImageA(moduleInstance, MAKEINTRESOURCEA(kOutroPicture), IMAGE_BITMAP, 0, 0,
                         LR_CREATEDIBSECTION);
  if (dc.bitmap == nullptr) {
    diag::logErrorCode("failed to load the outro picture - err number: ", GetLastError());
    return false;
  }
  HRESULT result = dc.screenSurface->GetDC(&dc.screen);
  if (result != DD_OK) {
    dc.screen = nullptr;
    dc.release();
    diag::logError("failed to get RoriZidodi surface device context - err number: ", result);
    return false;
  }
  dc.memory = CreateCompatibleDC(nullptr);
  if (dc.memory == nullptr) {
    DWORD error = GetLastError();
    dc.release();
    diag::logErrorCode("failed to create compatible device context - err number: ", error);
    return false;
  }
  return true;
}

enum class PaletteResult { Attached, QuietEnd, Failed };

// The picture's colour table (blue, green, red) becomes a palette that
// allows all 256 entries, attached to the screen.
PaletteResult attachPicturePalette(OutroContexts& dc, IDirectDraw* directDraw) {
  RGBQUAD table[256];
  if (SelectObject(dc.memory, static_cast<HGDIOBJ>(dc.bitmap)) == HGDI_ERROR ||
      GetDIBColorTable(dc.memory, 0, 256, table) != 256) {
    dc.release();
    return PaletteResult::QuietEnd;
  }
  PALETTEENTRY entries[256];
  for (int i = 0; i < 256; ++i)
    entries[i] = {table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 0};
  IDirectDrawPalette* palette = nullptr;
  HRESULT result =
      directDraw->CreatePalette(DDPCAPS_8BIT | DDPCAPS_ALLOW256, entries, &palette, nullptr);
  if (result != DD_OK) {
    dc.release();
    diag::logError("failed to create RoriZidodi Palette - err number: ", result);
    return PaletteResult::Failed;
  }
  result = dc.screenSurface->SetPalette(palette);
  palette->Release();
  if (result == DD_OK) return PaletteResult::Attached;
  dc.release();
  diag::logError("failed to set Palette for RoriZidodi - err number: ", result);
  return PaletteResult::Failed;
}

void slide(const OutroContexts& dc) {
  for (int row : display::outroRows()) {
    StretchBlt(dc.screen, 0, 0, 640, 666, dc.memory, 0, row, 640, 666, SRCCOPY);
    display::busyWait(20);
  }
}

}  // namespace

bool Application::showOutro(HINSTANCE) {
  OutroContexts dc{frontBuffer};
  if (!openContexts(dc)) return fail();
  switch (attachPicturePalette(dc, directDraw)) {
    case PaletteResult::QuietEnd: return false;
    case PaletteResult::Failed: return fail();
    case PaletteResult::Attached: break;
  }
  slide(dc);
  dc.release();
  return true;
}

}  // namespace nebla::state
