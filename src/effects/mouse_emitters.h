// The mouse buttons' smoke: a spray along the pointer's path (left) and the
// Trible picture drawn out of smoke (right).
#pragma once

namespace nebla::app {
class Application;
}

namespace nebla::effects {

// The frame step calls one of these per frame while its button is held,
// before the pass; the spray wins when both buttons are down.
void emitSpray(app::Application& app);
void emitTrible(app::Application& app);

}  // namespace nebla::effects
