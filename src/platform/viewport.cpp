// Fitting the picture into the window and mapping the pointer back.
#include "platform/viewport.h"

#include <algorithm>
#include <cstdint>

namespace nebla::platform {
namespace {

// Floor division that also holds for positions left of or above the picture.
int floorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return static_cast<int>(q);
}

bool isEmpty(const Rect& r) { return r.w <= 0 || r.h <= 0; }

Rect common(const Rect& a, const Rect& b) {
  int left = std::max(a.x, b.x);
  int top = std::max(a.y, b.y);
  int right = std::min(a.x + a.w, b.x + b.w);
  int bottom = std::min(a.y + a.h, b.y + b.h);
  if (right <= left || bottom <= top) return {};
  return {left, top, right - left, bottom - top};
}

// The parts of the output that get a picture each. A part that a later
// monitor overlaps shrinks to what the two share, so the parts stay apart.
std::vector<Rect> monitorParts(const std::vector<Rect>& monitors, const Rect& output) {
  std::vector<Rect> parts;
  for (const Rect& monitor : monitors) {
    Rect part = common(monitor, output);
    if (isEmpty(part)) continue;
    auto shared = std::find_if(parts.begin(), parts.end(),
                               [&](const Rect& p) { return !isEmpty(common(p, part)); });
    if (shared != parts.end())
      *shared = common(*shared, part);
    else
      parts.push_back(part);
  }
  if (parts.empty() && !isEmpty(output)) parts.push_back(output);
  return parts;
}

}  // namespace

Viewport fitImage(int outputWidth, int outputHeight, int imageWidth, int imageHeight) {
  Viewport v{};
  if (outputWidth <= 0 || outputHeight <= 0 || imageWidth <= 0 || imageHeight <= 0) {
    v.wholeScale = 1;
    return v;
  }
  std::int64_t ow = outputWidth, oh = outputHeight, iw = imageWidth, ih = imageHeight;
  // Width decides when the output is relatively taller than the image.
  if (ow * ih <= oh * iw) {
    v.picture.w = outputWidth;
    v.picture.h = static_cast<int>((ow * ih + iw / 2) / iw);
  } else {
    v.picture.h = outputHeight;
    v.picture.w = static_cast<int>((oh * iw + ih / 2) / ih);
  }
  v.picture.x = (outputWidth - v.picture.w) / 2;
  v.picture.y = (outputHeight - v.picture.h) / 2;
  v.wholeScale = std::max(1, std::min(v.picture.w / imageWidth, v.picture.h / imageHeight));
  v.exact = v.picture.w == v.wholeScale * imageWidth && v.picture.h == v.wholeScale * imageHeight;
  return v;
}

Rect fitWholeMultiple(int outputWidth, int outputHeight, int imageWidth, int imageHeight) {
  Viewport v = fitImage(outputWidth, outputHeight, imageWidth, imageHeight);
  if (v.picture.w < imageWidth || v.picture.h < imageHeight) return v.picture;
  int w = v.wholeScale * imageWidth;
  int h = v.wholeScale * imageHeight;
  return {(outputWidth - w) / 2, (outputHeight - h) / 2, w, h};
}

Rect fitFilling(int outputWidth, int outputHeight, int imageWidth, int imageHeight,
                double minShare) {
  Viewport v = fitImage(outputWidth, outputHeight, imageWidth, imageHeight);
  int w = v.wholeScale * imageWidth;
  int h = v.wholeScale * imageHeight;
  bool fits = w <= outputWidth && h <= outputHeight;
  if (!fits || w < minShare * v.picture.w) return v.picture;
  return {(outputWidth - w) / 2, (outputHeight - h) / 2, w, h};
}

std::vector<Rect> picturesOnMonitors(const std::vector<Rect>& monitors, int outputWidth,
                                     int outputHeight, int imageWidth, int imageHeight) {
  std::vector<Rect> pictures;
  for (const Rect& part : monitorParts(monitors, {0, 0, outputWidth, outputHeight})) {
    Rect picture = fitWholeMultiple(part.w, part.h, imageWidth, imageHeight);
    pictures.push_back({part.x + picture.x, part.y + picture.y, picture.w, picture.h});
  }
  return pictures;
}

void windowToImage(const Rect& picture, int imageWidth, int imageHeight, int x, int y, int& imageX,
                   int& imageY) {
  if (picture.w <= 0 || picture.h <= 0) {
    imageX = 0;
    imageY = 0;
    return;
  }
  imageX = floorDiv(std::int64_t{x - picture.x} * imageWidth, picture.w);
  imageY = floorDiv(std::int64_t{y - picture.y} * imageHeight, picture.h);
  imageX = std::clamp(imageX, 0, imageWidth - 1);
  imageY = std::clamp(imageY, 0, imageHeight - 1);
}

}  // namespace nebla::platform
