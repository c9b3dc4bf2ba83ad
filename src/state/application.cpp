// Construction and destruction of the application object.
#include "state/application.h"

namespace nebla::state {

platform::HINSTANCE moduleInstance = nullptr;

Application::Application() : particles(new particles::ParticleSystem(kPoolSize)) {}

Application::~Application() {
  tearDownDisplay();
  delete particles;
}

}  // namespace nebla::state
