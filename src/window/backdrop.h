#pragma once
#include <stdint.h>

#include "platform/platform.h"

/// One band of the backdrop ramp: the rectangle (left, top) to (right, bottom) in blue.
struct Band {
  int left, top, right, bottom;
  int blue;
};

/// The blue ramp for a client area of the given size: bands at y = 0, 2, 4, ... while
/// y <= H, blue falling from 255 by 510 / H a band in single precision. H and W are
/// rounded to 16-bit integers (ties to even); a size that is 0 or less, out of the 16-bit
/// range, or a height of 32766 or more gives no bands.
class Ramp {
 public:
  Ramp(double client_height, double client_width);
  /// The next band; false when there is none left.
  bool Next(Band* band);

 private:
  bool paints_ = false;  // false for a size that gives no bands
  int height_ = 0;
  int width_ = 0;
  int y_ = 0;
  float value_ = 255.0f;
  float step_ = 0.0f;
};

constexpr int32_t BlueColour(int blue) { return 65536 * blue; }

/// Paints the ramp over the client area and the caption as white text with a black
/// shadow 4 units right of and below it. Paints nothing for a size the ramp refuses.
void PaintBackdrop(Platform& platform);

/// Label top for a screen of the given height in twips; may lie outside the window.
constexpr int LabelTop(int screen_height_twips) { return screen_height_twips - 10900; }
constexpr int kLabelLeft = 100;

/// The windows' Resize handler: the backdrop painted anew, the label moved to its place.
void RepaintAndPlaceLabel(Platform& platform);
