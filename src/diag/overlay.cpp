// The info overlay: five lines of figures in the density image's top-left
// corner, drawn before the particles so smoke adds on top of them.
#include <locale>
#include <sstream>
#include <string>

#include "app/application.h"
#include "platform/gdi.h"

namespace nebla::app {

using namespace platform;

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

void Application::drawOverlay() {
  HDC dc = nullptr;
  if (memBuffer->GetDC(&dc) != DD_OK) return;
  SetTextColor(dc, RGB(85, 85, 85));
  SetBkColor(dc, colourScheme == 7 ? RGB(254, 254, 254) : RGB(0, 0, 0));
  const std::string lines[5] = {
      line("fps: ", fps),
      line("particle count: ", static_cast<std::uint32_t>(particles->activeCount())),
      line("new particles count: ", particlesPerFrame),
      line("max Lifetime: ", lifetime),
      line("text writer turned ", textWriterOn ? "on" : "off"),
  };
  for (int i = 0; i < 5; ++i) TextOutA(dc, 0, i * 14, lines[i].data(), static_cast<int>(lines[i].size()));
  memBuffer->ReleaseDC(dc);
}

}  // namespace nebla::app
