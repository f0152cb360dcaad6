// The ramp as the 32-bit programs compute it (this file links a copy of the backdrop built
// for the x87 unit) against the ramp computed here in plain IEEE single precision.
#include <gtest/gtest.h>

#include <cmath>

#include "fake_platform.h"
#include "window/backdrop.h"

namespace {

// Blue of each band: v from 255 by a step of -510 / H (divided in double, kept in single
// precision), rounded half to even.
std::vector<int> ReferenceBlues(int height) {
  std::vector<int> blues;
  const float step = static_cast<float>(-510.0 / height);
  float v = 255.0f;
  for (int y = 0; y <= height; y += 2) {
    blues.push_back(static_cast<int>(std::nearbyint(v)));
    v = v + step;
  }
  return blues;
}

TEST(RampX87Test, EveryHeightMatchesSinglePrecisionReference) {
  static_assert(__FLT_EVAL_METHOD__ == 0, "the reference must be plain IEEE arithmetic");
  FakePlatform fake;
  fake.client_width = 10;
  int mismatched_heights = 0;
  for (int height = 1; height <= 32765; ++height) {
    const std::vector<int> expected = ReferenceBlues(height);
    fake.client_height = height;
    fake.paints.clear();
    PaintBackdrop(fake);
    size_t band = 0;
    while (band < expected.size() && band < fake.paints.size() &&
           fake.paints[band].colour == BlueColour(expected[band]))
      ++band;
    if (band == expected.size() && fake.paints.size() == expected.size()) continue;
    if (++mismatched_heights <= 5)
      ADD_FAILURE() << "height " << height << ": band " << band << " of " << fake.paints.size()
                    << " differs from the reference blue "
                    << (band < expected.size() ? expected[band] : -1);
  }
  EXPECT_EQ(mismatched_heights, 0);
}

}  // namespace
