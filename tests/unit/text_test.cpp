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

  Text full;
  for (size_t i = 0; i < Text::kCapacity; ++i) full.Append(u'x');
  full.Append(u"more");
  EXPECT_EQ(full.size(), Text::kCapacity);

  Text with_zero = u"ab";
  with_zero.Append(u'\0').Append(u'c');
  EXPECT_EQ(with_zero.size(), 4u);
  EXPECT_TRUE(with_zero.Left(2) == u"ab");

  // Assignment from a literal replaces the text and keeps it terminated; appending a text to
  // itself, or assigning its own tail, reads each character before overwriting it.
  Text assigned = u"longer text";
  assigned = u"ab";
  EXPECT_TRUE(assigned == u"ab");
  EXPECT_EQ(assigned.data()[2], u'\0');
  assigned.Append(assigned);
  EXPECT_TRUE(assigned == u"abab");
  assigned = assigned.data() + 1;
  EXPECT_TRUE(assigned == u"bab");
  const char16_t raw[] = {u'x', u'\0', u'y'};
  EXPECT_EQ(Text().Append(raw, 3).size(), 3u);
  EXPECT_TRUE(Text(u"x").Append(raw, 0) == u"x");

  // Copies carry the characters in use and the zero after them; a text assigned to itself
  // stays as it was.
  Text copy = with_zero;
  EXPECT_TRUE(copy == with_zero);
  copy = Text(u"z");
  EXPECT_TRUE(copy == u"z");
  EXPECT_EQ(copy.data()[1], u'\0');
  Text& same = copy;
  copy = same;
  EXPECT_TRUE(copy == u"z");
  EXPECT_EQ(Text().data()[0], u'\0');
  // An empty ASCII text is an empty name to Windows (a key's default value), not "z".
  copy = "";
  EXPECT_EQ(copy.data()[0], u'\0');
}

// Only ASCII letters fold: the characters beside them in the code table ('@' and '`', '['
// and '{') and letters outside ASCII stay distinct, as Windows compares these names.
TEST(TextTest, EqualsIgnoringCaseFoldsAsciiLettersOnly) {
  const struct {
    const char16_t* a;
    const char16_t* b;
    bool equal;
  } cases[] = {
      {u"tvl1.IME", u"TVL1.ime", true}, {u"AZaz", u"azAZ", true},    {u"", u"", true},
      {u"@", u"`", false},              {u"[", u"{", false},          {u"É", u"é", false},
      {u"tvl1.IME", u"tvl1.IM", false}, {u"a\u0141", u"A\u0161", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Text(c.a).EqualsIgnoringCase(Text(c.b)), c.equal) << "case " << (&c - cases);
    EXPECT_EQ(Text(c.b).EqualsIgnoringCase(Text(c.a)), c.equal) << "case " << (&c - cases);
  }
}
