// Where the 640 x 480 picture sits in a window of any size: scaled to fit
// with its aspect kept (black bars around it), and how pointer positions in
// the window map back to picture pixels.
#pragma once

#include <vector>

namespace nebla::platform {

struct Rect {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
};

struct Viewport {
  Rect picture;    // where the picture is drawn, in output pixels
  int wholeScale;  // largest whole factor that fits (>= 1)
  bool exact;      // the picture rectangle is exactly wholeScale times the image
};

// The presenter calls these for every frame drawn and, through it, the
// input side for every pointer event, so both agree on the bars.
// The picture is as large as fits; the whole scale is the largest integer
// factor not above the fit (1 when the output is smaller than the image).
Viewport fitImage(int outputWidth, int outputHeight, int imageWidth, int imageHeight);

// The same for drawing without a smoothing step: the largest whole multiple
// of the image that fits, centred; an output smaller than the image gets
// the plain fit of fitImage.
Rect fitWholeMultiple(int outputWidth, int outputHeight, int imageWidth, int imageHeight);

// The picture as large as the output allows, for a page on any screen:
// the largest whole multiple when it reaches at least minShare of the
// aspect fit's width (sharp blocks of equal size), otherwise the aspect fit
// itself, whose pixels are then drawn as nearest-neighbour blocks of two
// sizes. Centred either way; empty for an empty output.
Rect fitFilling(int outputWidth, int outputHeight, int imageWidth, int imageHeight,
                double minShare);

// The picture once on each monitor that an output (the root window) spans,
// monitors given in output pixels: each at that monitor's own largest
// whole multiple (as fitWholeMultiple), centred on it. A monitor is cut to
// the output; monitors that overlap (outputs mirroring one another at
// different sizes) share the part they have in common, so the picture is
// whole on each of them; the pictures never overlap. Without any monitor
// that reaches into the output, one picture on the whole output; none for
// an empty output.
std::vector<Rect> picturesOnMonitors(const std::vector<Rect>& monitors, int outputWidth,
                                     int outputHeight, int imageWidth, int imageHeight);

// A window position to an image pixel through the picture rectangle in use
// for that window size, clamped to the image (a held button keeps
// reporting while the pointer is over the bars or outside the window).
void windowToImage(const Rect& picture, int imageWidth, int imageHeight, int x, int y, int& imageX,
                   int& imageY);

}  // namespace nebla::platform
