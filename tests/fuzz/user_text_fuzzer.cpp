// Fuzzes the layout of a user's text: whatever the bytes, it is refused
// with a reason, or becomes whole pages, no more than the limit, of bytes
// the writer draws or leaves empty.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "effects/scroll_text.h"
#include "effects/user_text.h"

namespace {

using namespace nebla::effects;

void check(bool condition) {
  if (!condition) std::abort();
}

bool writerCell(char c) { return c == ' ' || c == kEmptyCell || glyphIndex(c) >= 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  UserText text;
  std::string reason;
  if (!layOutText(std::string_view(reinterpret_cast<const char*>(data), size), text, reason)) {
    check(!reason.empty());
    return 0;
  }
  const std::size_t pages = text.pages.size() / kPageCells;
  check(text.pages.size() % kPageCells == 0 && pages >= 1 && pages <= kMaxPages);
  for (char c : text.pages) check(writerCell(c) && c != 'M' && c != 'T');
  return 0;
}
