// The programs' own memory routines, renamed so they sit beside the host's.
#include <gtest/gtest.h>

#define MEMORY_ROUTINE(name) tested_##name
#include "platform/runtime_support.cpp"

TEST(RuntimeSupportTest, CopySetMoveAndCompareBytes) {
  unsigned char a[8] = {1, 2, 3, 4, 5, 6, 7, 8}, b[8] = {};
  EXPECT_EQ(tested_memcpy(b, a, 8), b);
  EXPECT_EQ(0, tested_memcmp(a, b, 8));
  tested_memset(b + 2, 0x1FF, 3);  // the value is taken as an unsigned char
  const unsigned char set[8] = {1, 2, 0xFF, 0xFF, 0xFF, 6, 7, 8};
  EXPECT_EQ(0, tested_memcmp(b, set, 8));
  tested_memcpy(b, a, 0);
  EXPECT_EQ(b[0], 1);

  // Bytes compare unsigned: 0x80 is greater than 0x01. Only the first difference counts.
  const unsigned char high[2] = {0x80, 0x00}, low[2] = {0x01, 0xFF};
  EXPECT_GT(tested_memcmp(high, low, 2), 0);
  EXPECT_LT(tested_memcmp(low, high, 2), 0);
  EXPECT_EQ(0, tested_memcmp(high, low, 0));

  // Overlapping moves, both ways.
  unsigned char m[6] = {1, 2, 3, 4, 5, 6};
  tested_memmove(m + 1, m, 4);
  const unsigned char up[6] = {1, 1, 2, 3, 4, 6};
  EXPECT_EQ(0, tested_memcmp(m, up, 6));
  tested_memmove(m, m + 2, 4);
  const unsigned char down[6] = {2, 3, 4, 6, 4, 6};
  EXPECT_EQ(0, tested_memcmp(m, down, 6));
}
