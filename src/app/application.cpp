// Construction and destruction of the application object.
#include "app/application.h"

namespace nebla::app {

Application::Application() : particles(new particles::ParticleSystem(kPoolSize)) {}

Application::~Application() {
  tearDownDisplay();
  delete particles;
}

}  // namespace nebla::app
