// The info overlay's five lines of figures.
#pragma once

#include <array>
#include <string>

namespace nebla::state {
class Application;
}

namespace nebla::diag {

// The texts of the five lines, built anew for every frame the overlay is
// drawn (the application's drawOverlay writes them at y = 0, 14, ... 56).
std::array<std::string, 5> overlayLines(const state::Application& app);

}  // namespace nebla::diag
