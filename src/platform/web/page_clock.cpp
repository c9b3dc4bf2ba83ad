// The page's clock, which stands still while the page is hidden.
#include "platform/web/page_clock.h"

#include <emscripten.h>
#include <emscripten/html5.h>

namespace nebla::platform::web {
namespace {

// How long a hidden page sleeps between looks at its visibility. Browsers
// slow the timers of hidden pages to about one a second anyway, and the
// visibilitychange event itself wakes nothing: the sleep ends on its timer.
constexpr unsigned kHiddenNapMs = 200;

EM_BOOL visibilityEvent(int, const EmscriptenVisibilityChangeEvent* e, void* data) {
  static_cast<PageClock*>(data)->onVisibility(e->hidden != 0);
  return EM_FALSE;
}

}  // namespace

PageClock::PageClock() : start_(emscripten_get_now()) {
  EmscriptenVisibilityChangeEvent now{};
  if (emscripten_get_visibility_status(&now) == EMSCRIPTEN_RESULT_SUCCESS)
    onVisibility(now.hidden != 0);
  emscripten_set_visibilitychange_callback(this, EM_TRUE, visibilityEvent);
}

PageClock::~PageClock() { emscripten_set_visibilitychange_callback(this, EM_TRUE, nullptr); }

double PageClock::shownMs() const {
  double real = hidden_ ? hiddenSince_ : emscripten_get_now();
  return real - start_ - hiddenMs_;
}

void PageClock::restWhileHidden() {
  while (hidden_) emscripten_sleep(kHiddenNapMs);
}

// Repeated reports of the same state change nothing, so the hidden time is
// counted once however often the browser tells it.
void PageClock::onVisibility(bool hidden) {
  if (hidden == hidden_) return;
  double real = emscripten_get_now();
  if (hidden)
    hiddenSince_ = real;
  else
    hiddenMs_ += real - hiddenSince_;
  hidden_ = hidden;
}

}  // namespace nebla::platform::web
