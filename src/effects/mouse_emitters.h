// The mouse buttons' smoke: a spray along the pointer's path (left) and the
// Trible picture drawn out of smoke (right).
#pragma once

namespace nebla::state {
class Application;
}

namespace nebla::effects {

// The frame step calls one of these per frame while its button is held,
// before the pass; the spray wins when both buttons are down.
void emitSpray(state::Application& app);
void emitTrible(state::Application& app);

}  // namespace nebla::effects
