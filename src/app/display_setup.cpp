// Taking the display: window, timer, 640 x 480 x 8 mode, flip chain, the
// off-screen surfaces, the first palette and the two small pictures; and
// giving all of it back.
#include "state/application.h"
#include "app/window_proc.h"
#include "diag/log.h"
#include "display/busy_wait.h"
#include "display/colour_schemes.h"
#include "display/offscreen.h"
#include "platform/gdi.h"
#include "platform/kernel.h"

namespace nebla::state {

using namespace platform;

namespace {

constexpr const char* kClassName = "NeblaClass";

DDSURFACEDESC primaryDesc() {
  DDSURFACEDESC desc{};
  desc.dwSize = kSurfaceDescSize;
  desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
  desc.dwBackBufferCount = 1;
  desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
  return desc;
}

bool registerWindowClass(HINSTANCE moduleHandle) {
  WNDCLASSA wc{};
  wc.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
  wc.lpfnWndProc = app::windowProc;
  wc.cbClsExtra = 0;
  wc.cbWndExtra = 0;
  wc.hInstance = moduleHandle;
  wc.hIcon = LoadIconA(moduleHandle, MAKEINTRESOURCEA(101));
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<std::uintptr_t>(8));
  wc.lpszMenuName = nullptr;
  wc.lpszClassName = kClassName;
  return RegisterClassA(&wc) != 0;
}

}  // namespace

bool Application::fail() {
  tearDownDisplay();
  return false;
}

bool Application::createOffscreen(IDirectDrawSurface** surface, std::uint32_t w, std::uint32_t h,
                                  const char* message) {
  DDSURFACEDESC desc = display::offscreenDesc(w, h);
  HRESULT result = directDraw->CreateSurface(&desc, surface, nullptr);
  if (result == DD_OK) return true;
  diag::logError(message, result);
  return false;
}

// The set-up keeps no handle on the palette: once attached, the front buffer
// holds it.
bool Application::attachFirstPalette() {
  PALETTEENTRY entries[256];
  display::buildRamp(1, entries);
  IDirectDrawPalette* palette = nullptr;
  HRESULT result = directDraw->CreatePalette(DDPCAPS_8BIT, entries, &palette, nullptr);
  if (result != DD_OK) {
    diag::logError("failed to create Palette - err number: ", result);
    return false;
  }
  result = frontBuffer->SetPalette(palette);
  palette->Release();
  if (result == DD_OK) return true;
  diag::logError("failed to set Palette for FrontBuffer - err number: ", result);
  return false;
}

// Copies a built-in picture into a surface through GDI, so its colours are
// matched against the palette now on the screen.
bool Application::copyPicture(IDirectDrawSurface* surface, int resource, int copyWidth,
                              int copyHeight, const char* loadMessage, const char* dcMessage) {
  HANDLE bitmap = LoadImageA(moduleInstance, MAKEINTRESOURCEA(static_cast<WORD>(resource)),
                             IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION | LR_DEFAULTSIZE);
  if (bitmap == nullptr) {
    diag::logErrorCode(loadMessage, GetLastError());
    return false;
  }
  HDC surfaceDc = nullptr;
  HRESULT result = surface->GetDC(&surfaceDc);
  if (result != DD_OK) {
    DeleteObject(static_cast<HGDIOBJ>(bitmap));
    diag::logError(dcMessage, result);
    return false;
  }
  HDC memoryDc = CreateCompatibleDC(nullptr);
  if (memoryDc == nullptr) {
    DWORD error = GetLastError();
    surface->ReleaseDC(surfaceDc);
    DeleteObject(static_cast<HGDIOBJ>(bitmap));
    diag::logErrorCode("failed to create compatible device context - err number: ", error);
    return false;
  }
  SelectObject(memoryDc, static_cast<HGDIOBJ>(bitmap));
  StretchBlt(surfaceDc, 0, 0, copyWidth, copyHeight, memoryDc, 0, 0, copyWidth, copyHeight,
             SRCCOPY);
  DeleteDC(memoryDc);
  surface->ReleaseDC(surfaceDc);
  DeleteObject(static_cast<HGDIOBJ>(bitmap));
  return true;
}

bool Application::setUpDisplay(HINSTANCE moduleHandle) {
  instance = moduleHandle;
  if (!registerWindowClass(moduleHandle)) {
    diag::logErrorCode("failed to RegisterWindow() class err number: ", GetLastError());
    return false;
  }
  window = CreateWindowExA(0, kClassName, "Nebla", WS_POPUP, 0, 0, static_cast<int>(width),
                           static_cast<int>(height), nullptr, nullptr, moduleHandle, this);
  if (window == nullptr) {
    diag::logErrorCode("failed to CreateWindow() - err number: ", GetLastError());
    return fail();
  }
  ShowWindow(window, SW_SHOW);
  if (SetTimer(window, 1, 50, nullptr) != 1) {
    diag::logError("failed to create a timer");
    return fail();
  }
  HRESULT result = DirectDrawCreate(nullptr, &directDraw, nullptr);
  if (result != DD_OK) {
    diag::logError("failed to create ddraw object - err number: ", result);
    return fail();
  }
  if (directDraw->SetCooperativeLevel(window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE) != DD_OK) {
    diag::logWarning("failed to set Cooperative Level");
  }
  result = directDraw->SetDisplayMode(width, height, 8);
  if (result != DD_OK) {
    diag::logError("failed to set Displaymode - err number: ", result);
    return fail();
  }
  return createSurfaces() && attachFirstPalette() && loadPictures() ? finishSetUp() : fail();
}

bool Application::createSurfaces() {
  DDSURFACEDESC desc = primaryDesc();
  HRESULT result = directDraw->CreateSurface(&desc, &frontBuffer, nullptr);
  if (result != DD_OK) {
    diag::logError("failed to create primary surface - err number: ", result);
    return false;
  }
  DDSCAPS caps{DDSCAPS_BACKBUFFER};
  result = frontBuffer->GetAttachedSurface(&caps, &backBuffer);
  if (result != DD_OK) {
    diag::logError("failed to create back surface - err number: ", result);
    return false;
  }
  return createOffscreen(&memBuffer, width, height,
                         "failed to create offscreen surface - err number: ") &&
         createOffscreen(&lightBuffer, width, height,
                         "failed to create offscreen surface 2 - err number: ") &&
         createOffscreen(&textBuffer, width, height,
                         "failed to create Text surface - err number: ") &&
         createOffscreen(&fontBuffer, 750, 27, "failed to create Font surface - err number: ") &&
         createOffscreen(&tribleBuffer, 81, 61, "failed to create Trible surface - err number: ");
}

bool Application::loadPictures() {
  return copyPicture(tribleBuffer, 120, 96, 96, "failed to load Trible - err number: ",
                     "failed to get Trible surface device context - err number: ") &&
         copyPicture(fontBuffer, 114, 750, 27, "failed to load Font - err number: ",
                     "failed to get Font surface device context - err number: ");
}

// Clears the text layer to 1 and pauses two seconds.
bool Application::finishSetUp() {
  DDBLTFX fx{};
  fx.dwSize = kBltFxSize;
  fx.dwFillColor = 1;
  if (textBuffer->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx) < 0) {
    diag::logInfo("failed to initially clear Text surface");
  }
  display::busyWait(2000);
  return true;
}

void Application::tearDownDisplay() {
  for (IDirectDrawSurface** surface : {&memBuffer, &backBuffer, &frontBuffer, &fontBuffer,
                                       &lightBuffer, &textBuffer, &tribleBuffer}) {
    if (*surface != nullptr) (*surface)->Release();
    *surface = nullptr;
  }
  if (directDraw != nullptr) directDraw->Release();
  directDraw = nullptr;
  if (window != nullptr) DestroyWindow(window);
  window = nullptr;
  UnregisterClassA(kClassName, instance);
}

}  // namespace nebla::state
