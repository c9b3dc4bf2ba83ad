// The page's clock for the program: real time that stands still while the
// page is hidden (another tab in front, the window minimised, a wallpaper
// host that covers it), and a rest that lasts as long as the page stays
// hidden. A program that reads only this clock takes no frame steps while
// nobody can see them, and none to catch up when the page shows again.
#pragma once

namespace nebla::platform::web {

class PageClock {
 public:
  // Starts at 0 now, hidden if the page is hidden now; follows the page's
  // visibilitychange events from here on.
  PageClock();
  PageClock(const PageClock&) = delete;
  PageClock& operator=(const PageClock&) = delete;
  // Stops following the page's visibility.
  ~PageClock();

  // Milliseconds the page has been shown since the clock started; it never
  // runs backwards and does not move while the page is hidden.
  double shownMs() const;
  bool hidden() const { return hidden_; }
  // Sleeps, handing the browser its turns, until the page is shown again;
  // returns at once when it is shown.
  void restWhileHidden();

  // The page's visibilitychange, as the browser reports it.
  void onVisibility(bool hidden);

 private:
  double start_ = 0;
  double hiddenMs_ = 0;     // hidden time before the current showing
  double hiddenSince_ = 0;  // real time the page was hidden at, while hidden
  bool hidden_ = false;
};

}  // namespace nebla::platform::web
