// The page's canvas: layout, painting and the pointer's map.
#include "platform/web/canvas.h"

#include <emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <cmath>

// The page side. The stage is the canvas's parent element, positioned by
// the page's style sheet; the canvas lies in it absolutely.
EM_JS(int, jsCanvasOpen, (const char* selector, int width, int height), {
  const canvas = document.querySelector(UTF8ToString(selector));
  const context = canvas && canvas.getContext && canvas.getContext("2d", {alpha : false});
  if (!context) return 0;
  canvas.width = width;
  canvas.height = height;
  Module.screens = Module.screens || {};
  Module.screens[UTF8ToString(selector)] = context;
  return 1;
});
// Module.framesPainted counts the pictures painted, for whoever watches the
// page (its tests see by it that a hidden page rests).
EM_JS(void, jsCanvasPaint, (const char* selector, const void* rgba, int width, int height), {
  const context = Module.screens && Module.screens[UTF8ToString(selector)];
  if (!context) return;
  Module.framesPainted = (Module.framesPainted || 0) + 1;
  const bytes = new Uint8ClampedArray(HEAPU8.buffer, rgba, width * height * 4);
  if (HEAPU8.buffer instanceof ArrayBuffer) {
    context.putImageData(new ImageData(bytes, width, height), 0, 0);
    return;
  }
  // With threads the heap is shared memory, which ImageData refuses: the
  // pixels go through one image of the page's own, filled by set(), which
  // copies a block at a time where building an array from a shared one
  // goes byte by byte.
  let image = context.nebla_image;
  if (!image || image.width != width || image.height != height) {
    image = context.nebla_image = new ImageData(width, height);
  }
  image.data.set(bytes);
  context.putImageData(image, 0, 0);
});
EM_JS(void, jsStageRect, (const char* selector, double* rect), {
  const canvas = document.querySelector(UTF8ToString(selector));
  const stage = canvas && canvas.parentElement;
  const box = stage ? stage.getBoundingClientRect() : {left : 0, top : 0, width : 0, height : 0};
  HEAPF64.set([ box.left, box.top, box.width, box.height ], rect >> 3);
});
EM_JS(void, jsCanvasPlace, (const char* selector, double x, double y, double w, double h), {
  const canvas = document.querySelector(UTF8ToString(selector));
  if (!canvas) return;
  canvas.style.left = x + "px";
  canvas.style.top = y + "px";
  canvas.style.width = w + "px";
  canvas.style.height = h + "px";
});

namespace nebla::platform::web {

bool Canvas::open(int imageWidth, int imageHeight) {
  if (jsCanvasOpen(selector_.c_str(), imageWidth, imageHeight) == 0) return false;
  imageWidth_ = imageWidth;
  imageHeight_ = imageHeight;
  layOut();
  return true;
}

void Canvas::layOut() {
  alignas(8) double stage[4] = {0, 0, 0, 0};
  jsStageRect(selector_.c_str(), stage);
  stageX_ = stage[0];
  stageY_ = stage[1];
  pixelRatio_ = std::max(0.25, emscripten_get_device_pixel_ratio());
  int width = static_cast<int>(std::lround(stage[2] * pixelRatio_));
  int height = static_cast<int>(std::lround(stage[3] * pixelRatio_));
  picture_ = fitFilling(width, height, imageWidth_, imageHeight_, kWholeMultipleShare);
  jsCanvasPlace(selector_.c_str(), picture_.x / pixelRatio_, picture_.y / pixelRatio_,
                picture_.w / pixelRatio_, picture_.h / pixelRatio_);
}

void Canvas::show(const Presentation& frame) {
  std::uint32_t colours[256];
  for (int i = 0; i < 256; ++i) {
    const PALETTEENTRY& c = frame.palette[i];
    colours[i] = c.peRed | (c.peGreen << 8) | (c.peBlue << 16) | 0xFF000000u;
  }
  rgba_.resize(std::size_t{frame.width} * frame.height);
  std::uint32_t* to = rgba_.data();
  for (DWORD y = 0; y < frame.height; ++y) {
    const BYTE* row = frame.pixels + static_cast<std::ptrdiff_t>(y) * frame.pitch;
    for (DWORD x = 0; x < frame.width; ++x) *to++ = colours[row[x]];
  }
  jsCanvasPaint(selector_.c_str(), rgba_.data(), static_cast<int>(frame.width),
                static_cast<int>(frame.height));
}

void Canvas::toImage(double clientX, double clientY, int& x, int& y) const {
  windowToImage(picture_, imageWidth_, imageHeight_,
                static_cast<int>(std::floor((clientX - stageX_) * pixelRatio_)),
                static_cast<int>(std::floor((clientY - stageY_) * pixelRatio_)), x, y);
}

}  // namespace nebla::platform::web
