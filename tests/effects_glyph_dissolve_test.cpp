// The glyph emitter and the page dissolve on a set-up display: how ink and
// burnt-in density turn into particles, where those start and how they move
// off, what is wiped, and what a failed lock costs.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "state/application.h"
#include "app_harness.h"
#include "effects/text_writer.h"

namespace nebla::testing {
namespace {

using effects::textWriter;
using particles::Particle;
using Point = std::pair<float, float>;

class EffectsGlyphDissolve : public LiveApp {
 protected:
  void SetUp() override {
    LiveApp::SetUp();
    auto* strip = app->fontBuffer;
    std::fill_n(strip->pixels(), strip->pitch() * strip->height(), 2);  // background only
    particles::resetRandomForTest();
    platform::clearFaults();
  }
  std::uint8_t& font(int x, int y) {
    return app->fontBuffer->pixels()[y * app->fontBuffer->pitch() + x];
  }
  std::uint8_t& text(int x, int y) {
    return app->textBuffer->pixels()[y * app->textBuffer->pitch() + x];
  }
  std::vector<Particle> spawned() const {  // oldest first
    const Particle* r = app->particles->records;
    std::vector<Particle> out;
    for (std::int32_t i = r[0].prev; i != 0; i = r[i].prev) out.push_back(r[i]);
    return out;
  }
  Point startOfNewest() const { return {spawned().back().x, spawned().back().y}; }
};

TEST_F(EffectsGlyphDissolve, GlyphInkOfFortyPerParticleFliesOntoItsPixels) {
  font(16 + 0, 2) = 39;  // glyph "b" is the strip's second cell
  font(16 + 1, 2) = 40;
  font(16 + 2, 2) = 255;
  font(16 + 15, 26) = 80;
  textWriter.emitGlyph(*app, 'b', 100, 200, 2);
  std::vector<Point> targets, expected(1, {101, 202});
  expected.insert(expected.end(), 6, {102, 202});
  expected.insert(expected.end(), 2, {115, 226});
  for (const Particle& p : spawned()) {
    targets.emplace_back(p.targetX, p.targetY);
    EXPECT_EQ(Point(p.x, p.y), Point(100, 200));
    EXPECT_EQ(p.z, 500.0f);
    EXPECT_EQ(p.life, 50);
    EXPECT_EQ(p.travelTime, 50);
    EXPECT_TRUE(p.stamp);
  }
  EXPECT_EQ(targets, expected);
  EXPECT_EQ(particles::rand(), 41);  // the generator's first value: nothing drawn
}

TEST_F(EffectsGlyphDissolve, EntryModesCharactersWithoutGlyphAndTheCornerCycle) {
  for (char c : {' ', '(', 'A', '\0'}) textWriter.emitGlyph(*app, c, 16, 49, 0);
  EXPECT_EQ(textWriter.glyphCount, 0);
  EXPECT_EQ(platform::callCount("Lock"), 0u);
  font(0, 0) = 80;
  textWriter.emitGlyph(*app, 'a', 200, 100, 4);  // around the cell, dx then dy
  particles::resetRandomForTest();
  for (const Particle& p : spawned()) {
    std::int32_t dx = particles::rand() % 101 - 50;
    std::int32_t dy = particles::rand() % 101 - 50;
    EXPECT_EQ(Point(p.x, p.y), Point(200 + dx, 100 + dy));
  }
  textWriter.emitGlyph(*app, 'a', 200, 100, 5);
  EXPECT_EQ(startOfNewest(), Point(320, 240));
  // The glyph count is now 2, so the next corner is the fourth of the cycle.
  for (Point corner : {Point(639, 0), Point(0, 479), Point(639, 479), Point(0, 0)}) {
    textWriter.emitGlyph(*app, 'a', 200, 100, 7);
    EXPECT_EQ(startOfNewest(), corner);
    EXPECT_EQ(Point(spawned().end()[-2].x, spawned().end()[-2].y), corner);
  }
}

TEST_F(EffectsGlyphDissolve, LastGlyphReadsColumnsPastTheStripAsBackground) {
  ASSERT_GE(app->fontBuffer->pitch(), 752);
  for (int y = 0; y < 27; ++y) font(750, y) = font(751, y) = 255;  // behind the edge
  font(749, 0) = 40;
  textWriter.emitGlyph(*app, 'T', 16, 49, 2);
  ASSERT_EQ(spawned().size(), 1u);
  EXPECT_EQ(spawned()[0].targetX, 16.0f + 13);
}

TEST_F(EffectsGlyphDissolve, GlyphLockFailureIsLoggedAndStillCounted) {
  font(0, 0) = 40;
  platform::injectFault({"Lock", 1, std::nullopt});
  textWriter.emitGlyph(*app, 'a', 16, 49, 3);
  EXPECT_EQ(app->particles->activeCount(), 0);
  EXPECT_EQ(readLog(), "    ERROR:Could not lock FontBuffer\n");
  textWriter.emitGlyph(*app, 'a', 16, 49, 3);
  EXPECT_EQ(startOfNewest(), Point(0, 0));  // the third corner: the failed glyph had the second
}

TEST_F(EffectsGlyphDissolve, DissolveReleasesDensityOverSeventeenAndWipesEveryByte) {
  for (int y = 0; y < 480; ++y) text(4, y) = text(21, y) = 200;
  text(5, 0) = 16;
  text(5, 1) = 17;
  text(5, 2) = 255;
  text(5, 3) = 0;
  text(20, 479) = 34;
  textWriter.sweepColumn = 5;
  EXPECT_TRUE(textWriter.dissolveColumns(*app, false));
  EXPECT_EQ(textWriter.sweepColumn, 21);
  std::vector<Particle> p = spawned();
  ASSERT_EQ(p.size(), 18u);
  particles::resetRandomForTest();
  for (std::size_t i = 0; i < p.size(); ++i) {
    EXPECT_EQ(Point(p[i].x, p[i].y), i == 0 ? Point(5, 1) : i < 16 ? Point(5, 2) : Point(20, 479));
    EXPECT_EQ(p[i].life, particles::rand() % 30 + 1);  // one draw per particle, in spawn order
    EXPECT_EQ(p[i].z, 0.0f);
    EXPECT_EQ(p[i].travelTime, 0);
    EXPECT_FALSE(p[i].stamp);
  }
  for (int y = 0; y < 480; ++y) {
    for (int x = 4; x <= 21; ++x)
      ASSERT_EQ(text(x, y), x == 4 || x == 21 ? 200 : 1) << x << "," << y;
  }
}

TEST_F(EffectsGlyphDissolve, RestartSweepsColumnZeroAndTheEndStopsAt640) {
  text(0, 10) = text(1, 10) = 200;
  EXPECT_TRUE(textWriter.dissolveColumns(*app, true));
  EXPECT_EQ(textWriter.sweepColumn, 1);
  EXPECT_EQ(app->particles->activeCount(), 11);
  EXPECT_EQ(Point(text(0, 10), text(1, 10)), Point(1, 200));
  text(624, 0) = 50;
  text(639, 0) = 17;
  textWriter.sweepColumn = 625;
  EXPECT_FALSE(textWriter.dissolveColumns(*app, false));
  EXPECT_EQ(textWriter.sweepColumn, 640);
  EXPECT_EQ(platform::callCount("Lock"), 16u + 15u);
  EXPECT_EQ(app->particles->activeCount(), 12);
  EXPECT_EQ(text(624, 0), 50);
  EXPECT_FALSE(textWriter.dissolveColumns(*app, false));
  EXPECT_EQ(textWriter.sweepColumn, 640);
  EXPECT_EQ(platform::callCount("Lock"), 16u + 15u);
}

TEST_F(EffectsGlyphDissolve, DissolveKickFollowsThePageCountModThree) {
  const Point kicks[] = {{0, 0}, {17, 9}, {-17, 9}};
  for (app->pageCount = 3; app->pageCount < 6; ++app->pageCount) {
    text(30, 7) = 17;
    textWriter.sweepColumn = 30;
    textWriter.dissolveColumns(*app, false);
    EXPECT_EQ(Point(spawned().back().vx, spawned().back().vy), kicks[app->pageCount % 3]);
    EXPECT_EQ(spawned().back().vz, 0.0f);
  }
}

TEST_F(EffectsGlyphDissolve, DissolveLockFailureLeavesTheColumnButMovesOn) {
  for (int x = 100; x < 116; ++x) text(x, 0) = 17;
  textWriter.sweepColumn = 100;
  platform::injectFault({"Lock", 2, std::nullopt});
  EXPECT_TRUE(textWriter.dissolveColumns(*app, false));
  EXPECT_EQ(textWriter.sweepColumn, 116);
  EXPECT_EQ(app->particles->activeCount(), 15);
  EXPECT_EQ(Point(text(101, 0), text(102, 0)), Point(17, 1));
  EXPECT_FALSE(app->textBuffer->isLocked());
  EXPECT_EQ(readLog(), "    ERROR:Could not lock TextBuffer\n");
}

}  // namespace
}  // namespace nebla::testing
