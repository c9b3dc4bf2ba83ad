// The info overlay: five lines of figures in the density image's top-left
// corner, drawn before the particles so smoke adds on top of them.
#include "diag/overlay.h"

#include <locale>
#include <sstream>

#include "state/application.h"
#include "platform/gdi.h"

namespace nebla::diag {
namespace {

// Standard stream defaults in the classic locale: floats as "%g" with six
// significant digits (an infinite rate reads "inf").
template <typename T>
std::string line(const char* label, T value) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << label << value;
  return out.str();
}

}  // namespace

std::array<std::string, 5> overlayLines(const state::Application& app) {
  return {
      line("fps: ", app.fps),
      line("particle count: ", static_cast<std::uint32_t>(app.particles->activeCount())),
      line("new particles count: ", app.particlesPerFrame),
      line("max Lifetime: ", app.lifetime),
      line("text writer turned ", app.textWriterOn ? "on" : "off"),
  };
}

}  // namespace nebla::diag

namespace nebla::state {

using namespace platform;

// Without a device context there is nothing to draw into; the frame goes
// on without the overlay.
void Application::drawOverlay() {
  HDC dc = nullptr;
  if (memBuffer->GetDC(&dc) != DD_OK) return;
  SetTextColor(dc, RGB(85, 85, 85));
  SetBkColor(dc, colourScheme == 7 ? RGB(254, 254, 254) : RGB(0, 0, 0));
  const std::array<std::string, 5> lines = diag::overlayLines(*this);
  for (int i = 0; i < 5; ++i)
    TextOutA(dc, 0, i * 14, lines[i].data(), static_cast<int>(lines[i].size()));
  memBuffer->ReleaseDC(dc);
}

}  // namespace nebla::state
