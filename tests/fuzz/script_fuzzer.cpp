// Fuzzes the input script parser: any bytes give either events that obey
// the script's rules, and that a recording writes back as the same events,
// or one printable line naming the file and line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/headless/script.h"

namespace {

using nebla::platform::InputEvent;

void check(bool condition) {
  if (!condition) std::abort();
}

bool printableLine(const std::string& text) {
  for (unsigned char c : text)
    if (c < 0x20 || c >= 0x7F) return false;
  return true;
}

void checkEvents(const std::vector<InputEvent>& events) {
  using Kind = InputEvent::Kind;
  for (std::size_t i = 0; i < events.size(); ++i) {
    const InputEvent& e = events[i];
    check(i == 0 || events[i - 1].time <= e.time);
    check(e.kind >= Kind::KeyDown && e.kind <= Kind::KeylessText);
    check(e.kind == Kind::Text || e.text.empty());
    if (e.kind == Kind::KeyDown || e.kind == Kind::KeyUp) check(e.key > 0 && e.key < 256);
    if (e.kind == Kind::MouseMove)
      check(e.x >= -32768 && e.x <= 32767 && e.y >= -32768 && e.y <= 32767);
  }
}

// A recording of what was read reads back as the same events, words and
// all, in one line each.
void checkRecordedAgain(const std::vector<InputEvent>& events) {
  for (const InputEvent& e : events) {
    std::string line = nebla::platform::headless::formatScriptEvent(e);
    check(line.find('\n') == std::string::npos && line.find('\0') == std::string::npos);
    std::vector<InputEvent> back;
    std::string error;
    check(nebla::platform::headless::parseScript(line, "again", back, error));
    check(back.size() == 1 && back[0].kind == e.kind && back[0].key == e.key &&
          back[0].x == e.x && back[0].y == e.y && back[0].time == e.time &&
          back[0].text == e.text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<InputEvent> events;
  std::string error;
  if (nebla::platform::headless::parseScript(text, "fuzz.script", events, error)) {
    check(error.empty());
    checkEvents(events);
    checkRecordedAgain(events);
  } else {
    check(events.empty());
    check(error.rfind("fuzz.script:", 0) == 0);
    check(printableLine(error));
  }
  return 0;
}
