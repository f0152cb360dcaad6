#include "window/backdrop.h"

namespace {

constexpr int kMaxHeight = 32765;  // one more and the 16-bit band counter overflows

// Where floating-point arithmetic runs on the x87 unit (the i486 and Pentium programs), it
// is carried out in 64-bit precision unless the unit is told otherwise, and a value kept in
// a register is not rounded to its type. Two things keep the ramp the exact single-precision
// ramp: the step's division runs with the precision control set to 53 bits, so it is rounded
// once to double as the ramp defines; and every single-precision result is stored as one
// (enough for the sums: a sum of two floats rounded through 53 or 64 bits and then to single
// precision is the single-precision sum). With SSE arithmetic both are no-ops.
double DivideInDoublePrecision(double numerator, double divisor) {
#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__)) && __FLT_EVAL_METHOD__ != 0
  unsigned short saved;
  __asm__ volatile("fnstcw %0" : "=m"(saved));
  const unsigned short precision_53 = static_cast<unsigned short>((saved & ~0x0300u) | 0x0200u);
  // The operands pass through memory "changed" by each fldcw, so the division can only run
  // between the two.
  __asm__ volatile("fldcw %1" : "+m"(divisor) : "m"(precision_53));
  double quotient = numerator / divisor;
  __asm__ volatile("fldcw %1" : "+m"(quotient) : "m"(saved));
  return quotient;
#else
  return numerator / divisor;
#endif
}

float StoredSingle(float value) {
  volatile float stored = value;
  return stored;
}

// Nearest integer, ties to even, for |x| < 2^31; exact in any precision: x - trunc(x) is
// representable.
int RoundHalfEven(double x) {
  int n = static_cast<int>(x);
  const double fraction = x - n;
  if (fraction > 0.5 || (fraction == 0.5 && (n & 1))) ++n;
  if (fraction < -0.5 || (fraction == -0.5 && (n & 1))) --n;
  return n;
}

// `x` rounded to the nearest integer, ties to even, into *n; false when that is out of the
// 16-bit signed range.
bool ToInt16(double x, int* n) {
  if (!(x >= -32768.5 && x < 32767.5)) return false;
  *n = RoundHalfEven(x);
  return true;
}

}  // namespace

Ramp::Ramp(double client_height, double client_width) {
  int h, w;
  if (!ToInt16(client_height, &h) || !ToInt16(client_width, &w)) return;
  if (h <= 0 || w <= 0 || h > kMaxHeight) return;
  paints_ = true;
  height_ = h;
  width_ = w;
  step_ = StoredSingle(static_cast<float>(DivideInDoublePrecision(-510.0, h)));
}

bool Ramp::Next(Band* band) {
  if (!paints_ || y_ > height_) return false;
  *band = Band{-1, y_ - 1, width_, y_ + 2, RoundHalfEven(value_)};
  value_ = StoredSingle(value_ + step_);
  y_ += 2;
  return true;
}

void RepaintAndPlaceLabel(Platform& platform) {
  PaintBackdrop(platform);
  platform.MoveLabel(kLabelLeft, LabelTop(platform.ScreenHeight()));
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
