// The writer's frame step: writing, waiting on a full page, dissolving it
// and turning the page. Spaces cost no frame; every other byte costs one.
#include "effects/text_writer.h"

#include <optional>
#include <string>
#include <utility>

#include "effects/scroll_text.h"
#include "effects/user_text.h"
#include "state/application.h"

namespace nebla::effects {

TextWriter textWriter;

namespace {

constexpr std::int32_t kWaitFrames = 90;

// The text being spelt: the built-in one, or the one given to spellText,
// kept here so that its bytes stay put for the whole run.
std::string ownText;
const char* text = ScrollText;
std::size_t textLength = kScrollTextLength;

// An offered text waits here for the writer's next start from the top.
std::optional<std::string> offered;
std::function<void()> startListener;

struct Grid {
  std::uint32_t columns;
  std::uint32_t rows;
};

// Cells are 16 pixels across and 29 down; the grid keeps a margin around.
Grid pageGrid(const state::Application& app) { return {app.width / 16 - 2, app.height / 29 - 3}; }

// Back to the top of the next page; after the last page the text starts
// over, while the page count keeps counting.
void turnPage(TextWriter& writer, state::Application& app, Grid grid) {
  writer.countdown = -1;
  writer.cursorColumn = 0;
  writer.cursorRow = 0;
  ++app.pageCount;
  writer.pageStart += static_cast<std::size_t>(grid.columns) * grid.rows;
  if (writer.pageStart >= textLength) writer.pageStart = 0;
}

// Passes over spaces, then either declares the page full or spends the step
// on one byte.
void writeNext(TextWriter& writer, state::Application& app, Grid grid) {
  auto offset = [&] {
    return writer.pageStart + static_cast<std::size_t>(writer.cursorRow) * grid.columns +
           writer.cursorColumn;
  };
  auto moveOn = [&] {
    if (++writer.cursorColumn == grid.columns) {
      writer.cursorColumn = 0;
      ++writer.cursorRow;
    }
  };
  // The byte at the text's length is its NUL, which stops the scan.
  while (writer.cursorRow < grid.rows && offset() <= textLength && text[offset()] == ' ') moveOn();
  if (writer.cursorRow >= grid.rows || offset() > textLength) {
    writer.countdown = kWaitFrames;
    writer.dissolveColumns(app, true);
    return;
  }
  // The emitter ignores bytes without a glyph (brackets, the NUL); they
  // still use up the step.
  if (offset() < textLength) {
    writer.emitGlyph(app, text[offset()], static_cast<std::int32_t>((writer.cursorColumn + 1) * 16),
                     static_cast<std::int32_t>(writer.cursorRow * 29 + 49), app.pageCount);
  }
  moveOn();
}

// The first step of the text's first page: cursor at the top, writing.
bool atTextStart(const TextWriter& writer) {
  return writer.pageStart == 0 && writer.cursorColumn == 0 && writer.cursorRow == 0 &&
         writer.countdown == -1;
}

// The built-in pages that teach keys (the key help and the light key).
constexpr std::size_t kFirstKeyPage = 3;
constexpr std::size_t kKeyPages = 3;

std::string builtInWithoutKeys() {
  std::string pages(ScrollText, kScrollTextLength);
  return pages.erase(kFirstKeyPage * kPageCells, kKeyPages * kPageCells);
}

void startText() {
  if (offered) {
    spellText(offered->empty() ? builtInWithoutKeys() : std::move(*offered));
    offered.reset();
  }
  if (startListener) startListener();
}

}  // namespace

void TextWriter::writeStep(state::Application& app) {
  const Grid grid = pageGrid(app);
  if (atTextStart(*this)) startText();
  if (countdown > 0) {
    --countdown;
    return;
  }
  if (countdown == 0) {
    if (!dissolveColumns(app, false)) turnPage(*this, app, grid);
    return;
  }
  writeNext(*this, app, grid);
}

void spellText(std::string given) {
  ownText = std::move(given);
  text = ownText.c_str();
  textLength = ownText.size();
}

void spellBuiltInWithoutKeys() { spellText(builtInWithoutKeys()); }

void offerText(std::string pages) { offered = std::move(pages); }

void setTextStartListener(std::function<void()> listener) { startListener = std::move(listener); }

void resetTextWriterForTest() {
  textWriter = TextWriter{};
  offered.reset();
  startListener = nullptr;
  ownText.clear();
  text = ScrollText;
  textLength = kScrollTextLength;
}

}  // namespace nebla::effects
