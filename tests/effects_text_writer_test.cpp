// The text writer's timing: spaces cost nothing, every other byte one step,
// a full page 90 waiting and 40 dissolving steps, and the text starts over
// after its last page while the page count runs on.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "app_harness.h"
#include "effects/scroll_text.h"
#include "effects/text_writer.h"
#include "effects/user_text.h"
#include "state/application.h"

namespace nebla::testing {
namespace {

using effects::textWriter;

// Every glyph of the strip gets one ink pixel, at its top-left corner, so
// each written glyph launches exactly one particle.
class EffectsTextWriter : public LiveApp {
 protected:
  void SetUp() override {
    LiveApp::SetUp();
    auto* strip = app->fontBuffer;
    std::fill_n(strip->pixels(), strip->pitch() * strip->height(), 2);
    for (int glyph = 0; glyph < 47; ++glyph) strip->pixels()[glyph * 16] = 40;
  }
  void useText(std::string text) { effects::spellText(std::move(text)); }
  void steps(int n) {
    for (int i = 0; i < n; ++i) textWriter.writeStep(*app);
  }
  const particles::Particle& newest() const {
    return app->particles->records[app->particles->records[0].next];
  }
};

TEST_F(EffectsTextWriter, BlankPageIsFullAtOnceThenWaitsAndDissolvesEvenAcrossAPause) {
  useText(std::string(494, ' ') + "a");
  steps(1);
  EXPECT_EQ(textWriter.countdown, 90);
  EXPECT_EQ(textWriter.sweepColumn, 1);
  steps(30);
  // Frames with the writer switched off: the world goes on, the wait does not.
  app->textWriterOn = false;
  for (int frame = 0; frame < 100; ++frame) app->frameStep();
  app->textWriterOn = true;
  EXPECT_EQ(textWriter.countdown, 60);
  steps(60);
  EXPECT_EQ(textWriter.countdown, 0);
  steps(39);
  EXPECT_EQ(app->pageCount, 0);
  EXPECT_EQ(textWriter.sweepColumn, 625);
  steps(1);
  EXPECT_EQ(app->pageCount, 1);
  EXPECT_EQ(textWriter.countdown, -1);
  EXPECT_EQ(textWriter.pageStart, 494u);
  steps(1);
  EXPECT_EQ(textWriter.glyphCount, 1);
  EXPECT_EQ(newest().targetX, 16.0f);
}

TEST_F(EffectsTextWriter, BracketsAndTheEndOfAShortTextUseAStepEach) {
  useText("(ab" + std::string(35, ' ') + "c");
  steps(1);
  EXPECT_EQ(textWriter.glyphCount, 0);
  steps(1);
  EXPECT_EQ(textWriter.glyphCount, 1);
  EXPECT_EQ(std::make_pair(newest().targetX, newest().targetY), std::make_pair(32.0f, 49.0f));
  steps(2);  // "b", then past the spaces to "c" on the next row
  EXPECT_EQ(textWriter.glyphCount, 3);
  EXPECT_EQ(std::make_pair(newest().targetX, newest().targetY), std::make_pair(16.0f, 78.0f));
  steps(1);  // the terminating NUL
  EXPECT_EQ(textWriter.countdown, -1);
  steps(1);
  EXPECT_EQ(textWriter.countdown, 90);
  steps(130);
  EXPECT_EQ(app->pageCount, 1);
  EXPECT_EQ(textWriter.pageStart, 0u);
  EXPECT_EQ(app->particles->activeCount(), 3);
}

TEST_F(EffectsTextWriter, BuiltInTextCycleStartsOverWithThePageCountRunningOn) {
  std::string_view text(effects::ScrollText);
  int written = 0, glyphs = 0;
  for (char c : text) {
    written += c != ' ';
    glyphs += effects::glyphIndex(c) >= 0;
  }
  steps(1);
  // The first page is written with smoke from all around each cell.
  EXPECT_NEAR(newest().x, newest().targetX, 50.0f);
  EXPECT_NEAR(newest().y, newest().targetY, 50.0f);
  int frames = 1;
  for (; app->pageCount < 9 && frames < 100000; ++frames) steps(1);
  EXPECT_EQ(frames, written + 9 * (1 + 90 + 40));
  EXPECT_EQ(textWriter.glyphCount, glyphs);
  EXPECT_EQ(textWriter.pageStart, 0u);
  steps(1);
  EXPECT_EQ(textWriter.glyphCount, glyphs + 1);
  EXPECT_EQ(std::make_pair(newest().x, newest().y), std::make_pair(320.0f, 240.0f));
}

// An offered text waits for the writer's next start from the top; each
// start, the first included, is told to whoever listens.
TEST_F(EffectsTextWriter, AnOfferedTextIsTakenWhenTheTextStartsOver) {
  int starts = 0;
  effects::setTextStartListener([&starts] { ++starts; });
  useText("a");
  effects::offerText(std::string(493, ' ') + "b");
  steps(1);
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(std::make_pair(newest().targetX, newest().targetY), std::make_pair(16.0f * 38, 397.0f));
  effects::offerText({});
  steps(1 + 90 + 40);  // the full page, the wait, the wipe
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(textWriter.glyphCount, 1);
  steps(1);
  EXPECT_EQ(starts, 2);
  // The writer's own text without the key pages: its first three pages,
  // then the credits, whose heading starts at cell 15 of the second line.
  for (int frames = 0; app->pageCount < 4 && frames < 100000; ++frames) steps(1);
  steps(1);
  EXPECT_EQ(std::make_pair(newest().targetX, newest().targetY), std::make_pair(16.0f * 16, 78.0f));
}

}  // namespace
}  // namespace nebla::testing
