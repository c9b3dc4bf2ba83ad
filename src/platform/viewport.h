// Where the 640 x 480 picture sits in a window of any size: scaled to fit
// with its aspect kept (black bars around it), and how pointer positions in
// the window map back to picture pixels.
#pragma once

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

// A window position to an image pixel through the picture rectangle in use
// for that window size, clamped to the image (a held button keeps
// reporting while the pointer is over the bars or outside the window).
void windowToImage(const Rect& picture, int imageWidth, int imageHeight, int x, int y, int& imageX,
                   int& imageY);

}  // namespace nebla::platform
