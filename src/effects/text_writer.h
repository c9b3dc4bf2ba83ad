// The text writer: spells its text (its own, or one it is given) onto the screen one character
// per frame, waits on a full page, then dissolves it and turns the page.
// Its glyphs come from the glyph emitter, its page wipe from the dissolve.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace nebla::state {
class Application;
}

namespace nebla::effects {

class TextWriter {
 public:
  std::size_t pageStart = 0;       // offset of the current page in the text
  std::uint32_t cursorColumn = 0;  // next cell to examine
  std::uint32_t cursorRow = 0;
  std::int32_t countdown = -1;     // -1 writing, 1..90 waiting, 0 dissolving
  std::int32_t glyphCount = 0;     // glyphs emitted so far, over all pages
  std::int32_t sweepColumn = 640;  // next text-layer column to dissolve

  // The frame step calls this once per frame while the writer is on.
  void writeStep(state::Application& app);

  // The writer hands over one character of the page with the top-left
  // screen corner of its cell and the page count; particles fly onto the
  // glyph's ink and burn it into the text layer.
  void emitGlyph(state::Application& app, char c, std::int32_t x, std::int32_t y,
                 std::int32_t page);

  // The writer wipes a full page with this: restart once when the page is
  // full, then once per frame after the wait. True while columns remain.
  bool dissolveColumns(state::Application& app, bool restart);
};

// The one writer; it lives for the whole run and is never re-initialised.
extern TextWriter textWriter;

// The writer spells text instead of the built-in one. Meant for before the
// run: the page in progress is not moved. A laid-out user text is whole
// pages; a shorter last page ends early, as the writer's step allows.
void spellText(std::string text);

// The writer's own text without the pages that teach keys, for hosts where
// the keys do nothing. Meant for before the run, as spellText.
void spellBuiltInWithoutKeys();

// A text for the writer during the run (laid-out pages, as for spellText;
// empty pages: its own text without the key pages). It is spelt from the
// next time the writer starts its text from the top, the first time
// included; a later offer before then replaces it.
void offerText(std::string pages);

// Called each time the writer starts its text from the top, the first time
// included, after taking any offered text; null for nobody. The frame step
// calls it, so it must be quick.
void setTextStartListener(std::function<void()> listener);

// Tests run many programs in one process: back to the start values and to
// the built-in text.
void resetTextWriterForTest();

}  // namespace nebla::effects
