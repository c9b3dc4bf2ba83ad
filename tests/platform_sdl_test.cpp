// The window's input under SDL's dummy video driver, which needs no display:
// keys as the program polls them.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <vector>

#include "platform/sdl/sdl_backend.h"
#include "platform/user.h"

namespace nebla::testing {
namespace {

// A busy compositor can hand over a key's press and release in one pump;
// the program, which polls Escape once per pass of its loop, must still
// see it down once, and no longer after the next pump.
TEST(SdlWindow, ATapWhosePressAndReleaseComeTogetherReadsDownUntilTheNextPump) {
  ::setenv("SDL_VIDEODRIVER", "dummy", 1);
  {
    platform::sdl::SdlBackend backend;
    backend.windowCreated({"test", 0, 0, 640, 480, {}});
    SDL_Event event{};
    for (Uint32 type : {SDL_KEYDOWN, SDL_KEYUP}) {
      event.type = type;
      event.key.keysym.scancode = SDL_SCANCODE_ESCAPE;
      event.key.keysym.sym = SDLK_ESCAPE;
      ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError();
    }
    std::vector<platform::InputEvent> events;
    backend.takeInput(events);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(backend.keyDown(platform::VK_ESCAPE));
    EXPECT_FALSE(backend.keyDown('Q'));
    backend.takeInput(events);
    EXPECT_FALSE(backend.keyDown(platform::VK_ESCAPE));
    backend.windowDestroyed();
  }
  ::unsetenv("SDL_VIDEODRIVER");
}

}  // namespace
}  // namespace nebla::testing
