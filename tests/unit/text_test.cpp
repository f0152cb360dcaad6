#include <gtest/gtest.h>

#include "platform/text.h"

TEST(TextTest, LeftNumberAndCapacity) {
  const Text abc = u"abc";
  EXPECT_TRUE(abc.Left(2) == u"ab");
  EXPECT_TRUE(abc.Left(3) == abc);
  EXPECT_TRUE(abc.Left(99) == abc);
  EXPECT_TRUE(Text::Number(0) == u"0");
  EXPECT_TRUE(Text::Number(1203) == u"1203");
  EXPECT_FALSE(Text(u"tvl1.IME") == u"TVL1.IME");

  Text full = Text::Repeat(u'x', Text::kCapacity);
  full.Append(u"more");
  EXPECT_EQ(full.size(), Text::kCapacity);

  Text with_zero = u"ab";
  with_zero.Append(u'\0').Append(u'c');
  EXPECT_EQ(with_zero.size(), 4u);
  EXPECT_TRUE(with_zero.Left(2) == u"ab");
}
