// Window messages become changes of the application's settings; timer
// ticks decay the wind, measure the frame rate and run the frame step.
#include "app/window_proc.h"

#include <string>
#include <string_view>
#include <utility>

#include "diag/log.h"
#include "effects/text_writer.h"
#include "effects/user_text.h"
#include "platform/backend.h"
#include "platform/kernel.h"
#include "state/application.h"

namespace nebla::app {

using namespace platform;

state::Application* application = nullptr;
bool appActive = false;
bool pointerVisible = false;
std::uint32_t lastTick = 0;
double keyWindX = 0.0;
double keyWindY = 0.0;

namespace {

void applyWind() {
  application->particles->setWind(static_cast<float>(keyWindX), static_cast<float>(keyWindY));
}

bool shiftDown() { return (GetKeyState(VK_SHIFT) & 0x8000) != 0; }

void stepParticleCount() {
  std::int32_t& count = application->particlesPerFrame;
  if (shiftDown()) {
    count += 5;
  } else {
    count -= 5;
    if (count <= 5) count = 1;
  }
  diag::logInfo("new particlecount : ", count);
}

void stepLifetime() {
  std::int32_t& lifetime = application->lifetime;
  if (shiftDown()) {
    lifetime += 1;
  } else {
    lifetime -= 1;
    if (lifetime <= 1) lifetime = 1;
  }
  diag::logInfo("lifetime : ", lifetime);
}

void blow(double dx, double dy) {
  keyWindX += dx;
  keyWindY += dy;
  applyWind();
}

void keyDown(WPARAM wParam) {
  auto key = static_cast<signed char>(wParam & 0xFF);
  if (key >= '0' && key <= '9') {
    application->selectColourScheme(static_cast<std::uint32_t>(key - '0'));
    return;
  }
  switch (key) {
    case VK_SPACE: application->lightOn = !application->lightOn; break;
    case VK_LEFT: blow(-0.25, 0.0); break;
    case VK_UP: blow(0.0, -0.25); break;
    case VK_RIGHT: blow(0.25, 0.0); break;
    case VK_DOWN: blow(0.0, 0.25); break;
    case 'C': stepParticleCount(); break;
    case 'D': application->infoOn = !application->infoOn; break;
    case 'L': stepLifetime(); break;
    case 'M':
      pointerVisible = !pointerVisible;
      ShowCursor(pointerVisible ? TRUE : FALSE);
      break;
    case 'T': application->textWriterOn = !application->textWriterOn; break;
    default: break;
  }
}

// The rate is measured between consecutive ticks, whether or not a frame
// runs; two ticks in the same millisecond give an infinite rate.
void timerTick(WPARAM timerId) {
  keyWindX = keyWindX * 0.92;
  keyWindY = keyWindY * 0.92;
  applyWind();
  std::uint32_t elapsed = GetTickCount() - lastTick;
  application->fps = static_cast<float>(1000.0 / static_cast<double>(elapsed));
  lastTick = GetTickCount();
  if (appActive && timerId == 1) application->frameStep();
}

void mouseMove(LPARAM lParam) {
  auto bits = static_cast<std::uint32_t>(lParam);
  application->mouseX = static_cast<std::int32_t>(bits & 0xFFFF);
  application->mouseY = static_cast<std::int32_t>((bits >> 16) & 0xFFFF);
  application->light.setPosition(application->mouseX, application->mouseY);
}

// A text sent to the window: laid out now, spelt from the writer's next
// start. A text that cannot be laid out leaves the writer's as it is.
void takeText(LPARAM lParam) {
  const auto& data = *reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  if (data.dwData == kCopyDataKeyless) {
    effects::offerText({});
    diag::logInfo("text: the writer's own, without the pages that teach keys");
    return;
  }
  if (data.dwData != kCopyDataWords) return;
  effects::UserText laidOut;
  std::string reason;
  std::string_view words(static_cast<const char*>(data.lpData), data.cbData);
  if (!effects::layOutText(words, laidOut, reason)) {
    diag::logWarning("text refused, the writer keeps its text: " + reason);
    return;
  }
  diag::logInfo("text: the user's words in pages: ",
                static_cast<std::int32_t>(laidOut.pages.size() / effects::kPageCells));
  effects::offerText(std::move(laidOut.pages));
}

// Messages that need the application; false if the message is not ours.
bool handleInput(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_KEYDOWN: keyDown(wParam); return true;
    case WM_TIMER: timerTick(wParam); return true;
    case WM_MOUSEMOVE: mouseMove(lParam); return true;
    case WM_LBUTTONDOWN: application->leftButton = true; return true;
    case WM_LBUTTONUP: application->leftButton = false; return true;
    case WM_RBUTTONDOWN: application->rightButton = true; return true;
    case WM_RBUTTONUP: application->rightButton = false; return true;
    case WM_COPYDATA: takeText(lParam); return true;
    default: return false;
  }
}

}  // namespace

LRESULT windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      ShowCursor(FALSE);
      application =
          static_cast<state::Application*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
      break;
    case WM_CLOSE:
      // A window that cannot be closed surprises people on a desktop: the
      // close button ends the run through the normal path, like Escape.
      ShowCursor(TRUE);
      PostQuitMessage(0);
      return 1;
    case WM_ACTIVATEAPP: appActive = wParam == 1 || wParam == 2; return 0;
    default:
      if (application != nullptr) handleInput(message, wParam, lParam);
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void resetWindowProcForTest() {
  application = nullptr;
  appActive = false;
  pointerVisible = false;
  lastTick = 0;
  keyWindX = 0.0;
  keyWindY = 0.0;
}

}  // namespace nebla::app
