// The page's canvas, shared by the live and the replaying backend: found
// through a selector, laid out in its stage (the element around it) as
// large as the stage allows, painted with presented frames, and the map
// from page positions back to picture pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/viewport.h"

namespace nebla::platform::web {

// Whole multiples are kept while they fill at least this share of the
// aspect fit; below it the picture fills its stage with blocks of two
// sizes.
constexpr double kWholeMultipleShare = 0.85;

class Canvas {
 public:
  // selector: a CSS selector naming the canvas, e.g. "#screen".
  explicit Canvas(std::string selector) : selector_(std::move(selector)) {}

  // Sizes the canvas to the image and takes its 2D context; false when
  // the page has no such canvas or no 2D context.
  bool open(int imageWidth, int imageHeight);
  // Places the canvas in its stage by the fill rule, counted in device
  // pixels; called again on every resize and turn of the screen.
  void layOut();
  // Paints the frame through its palette.
  void show(const Presentation& frame);
  // A page position (CSS pixels) to the picture pixel under it, clamped
  // to the picture, through the layout of the moment.
  void toImage(double clientX, double clientY, int& x, int& y) const;

  const std::string& selector() const { return selector_; }

 private:
  std::string selector_;
  int imageWidth_ = 640;
  int imageHeight_ = 480;
  Rect picture_;       // in device pixels, from the stage's top left corner
  double stageX_ = 0;  // the stage's corner on the page, in CSS pixels
  double stageY_ = 0;
  double pixelRatio_ = 1;
  std::vector<std::uint32_t> rgba_;
};

}  // namespace nebla::platform::web
