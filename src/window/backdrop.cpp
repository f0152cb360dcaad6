#include "window/backdrop.h"

#include <math.h>

namespace {

constexpr int kMaxHeight = 32765;  // one more and the 16-bit band counter overflows

// Nearest 16-bit signed integer, ties to even; -1 when out of range.
int ToInt16(double x) {
  const double r = nearbyint(x);
  return (r >= -32768.0 && r <= 32767.0) ? static_cast<int>(r) : -1;
}

}  // namespace

Ramp::Ramp(double client_height, double client_width) {
  const int h = ToInt16(client_height);
  const int w = ToInt16(client_width);
  if (h <= 0 || w <= 0 || h > kMaxHeight) {
    y_ = 1;  // nothing to paint
    return;
  }
  height_ = h;
  width_ = w;
  step_ = static_cast<float>(-510.0 / h);
}

bool Ramp::Next(Band* band) {
  if (y_ > height_) return false;
  *band = Band{-1, y_ - 1, width_, y_ + 2, static_cast<int>(nearbyintf(value_))};
  value_ = value_ + step_;
  y_ += 2;
  return true;
}

void PaintBackdrop(Platform& platform) {
  const double height = platform.ClientHeight();
  const double width = platform.ClientWidth();
  Ramp ramp(height, width);
  Band band;
  if (!ramp.Next(&band)) return;  // a size that cannot be painted: leave the window as it is
  do {
    platform.PaintRectangle(band.left, band.top, band.right, band.bottom, BlueColour(band.blue));
  } while (ramp.Next(&band));
  const Text caption = platform.Caption();
  platform.PrintText(8, 8, caption, /*black=*/0x000000);
  platform.PrintText(4, 4, caption, /*white=*/0xFFFFFF);
}
