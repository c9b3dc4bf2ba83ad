// The mouse emitters' geometry, lives and targets.
#include <gtest/gtest.h>

#include <memory>

#include "state/application.h"
#include "app_harness.h"
#include "effects/mouse_emitters.h"

namespace nebla::testing {
namespace {

class EffectsMouse : public LiveApp {
 protected:
  template <typename F>
  void forEachParticle(F f) {
    auto* ps = app->particles;
    for (std::int32_t i = ps->records[0].next; i != 0; i = ps->records[i].next) f(ps->records[i]);
  }
};

TEST_F(EffectsMouse, SprayCoversTheStrokeWithOnePixelOfJitter) {
  app->prevMouseX = 100;
  app->prevMouseY = 100;
  app->mouseX = 400;
  app->mouseY = 100;
  app->particlesPerFrame = 4000;
  effects::emitSpray(*app);
  EXPECT_EQ(app->particles->activeCount(), 4000);
  float minX = 1e9f, maxX = -1e9f, minY = 1e9f, maxY = -1e9f;
  forEachParticle([&](const particles::Particle& p) {
    minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
    minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
    EXPECT_GE(p.life, 1);
    EXPECT_LE(p.life, 70);
    EXPECT_EQ(p.z, 500.0f);
  });
  EXPECT_EQ(minX, 100.0f);
  EXPECT_EQ(maxX, 401.0f);
  EXPECT_EQ(minY, 99.0f);
  EXPECT_EQ(maxY, 101.0f);
}

TEST_F(EffectsMouse, PictureParticlesFlyToPicturePixelsNearTheMiddle) {
  app->mouseX = app->prevMouseX = 50;
  app->mouseY = app->prevMouseY = 60;
  effects::emitTrible(*app);
  EXPECT_EQ(app->particles->activeCount(), 400);
  platform::DDSURFACEDESC desc{};
  desc.dwSize = platform::kSurfaceDescSize;
  ASSERT_EQ(app->tribleBuffer->Lock(nullptr, &desc, 0, nullptr), platform::DD_OK);
  auto* pixels = static_cast<const std::uint8_t*>(desc.lpSurface);
  forEachParticle([&](const particles::Particle& p) {
    int px = static_cast<int>(p.targetX) - 300, py = static_cast<int>(p.targetY) - 250;
    ASSERT_TRUE(px >= 0 && px < 81 && py >= 0 && py < 61) << p.targetX << "," << p.targetY;
    EXPECT_GT(pixels[py * desc.lPitch + px], 10);
    EXPECT_EQ(p.travelTime, 71);
    EXPECT_NEAR(p.x, 50.0f, 1.0f);
    EXPECT_NEAR(p.y, 60.0f, 1.0f);
    EXPECT_FALSE(p.stamp);
  });
  app->tribleBuffer->Unlock(nullptr);
}

TEST_F(EffectsMouse, ShortestAndLongestLives) {
  app->lifetime = 1;
  app->particlesPerFrame = 20;
  effects::emitSpray(*app);
  effects::emitTrible(*app);
  int ones = 0, twos = 0;
  forEachParticle([&](const particles::Particle& p) { (p.life == 1 ? ones : twos) += 1; });
  EXPECT_EQ(ones, 20);
  EXPECT_EQ(twos, 20);
  // A lifetime raised past the pool's range still gives live particles.
  app->lifetime = 65535;
  app->particlesPerFrame = 1;
  effects::emitTrible(*app);
  EXPECT_EQ(app->particles->records[app->particles->records[0].next].life, 65535);
}

TEST_F(EffectsMouse, BlankPictureCannotHangTheFrame) {
  platform::DDBLTFX fx{};
  fx.dwSize = platform::kBltFxSize;
  fx.dwFillColor = 10;  // nothing above the threshold
  ASSERT_EQ(app->tribleBuffer->Blt(nullptr, nullptr, nullptr, platform::DDBLT_COLORFILL, &fx),
            platform::DD_OK);
  effects::emitTrible(*app);
  EXPECT_EQ(app->particles->activeCount(), 0);
  EXPECT_FALSE(app->tribleBuffer->isLocked());
}

TEST_F(EffectsMouse, PictureLockFailureEmitsNothing) {
  platform::injectFault({"Lock", 0, std::nullopt});
  effects::emitTrible(*app);
  EXPECT_EQ(app->particles->activeCount(), 0);
  EXPECT_EQ(readLog(), "");
}

}  // namespace
}  // namespace nebla::testing
