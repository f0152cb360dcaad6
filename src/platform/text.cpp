#include "platform/text.h"

Text& Text::Append(char16_t c) {
  if (length_ < kCapacity) {
    chars_[length_++] = c;
    chars_[length_] = u'\0';
  }
  return *this;
}

Text& Text::Append(const Text& other) {
  for (size_t i = 0; i < other.length_; ++i) Append(other.chars_[i]);
  return *this;
}

Text& Text::Append(const char16_t* literal) {
  while (*literal) Append(*literal++);
  return *this;
}

Text Text::Repeat(char16_t c, size_t n) {
  Text t;
  for (size_t i = 0; i < n; ++i) t.Append(c);
  return t;
}

Text Text::Number(long value) {
  char16_t digits[24];
  size_t n = 0;
  unsigned long v = value < 0 ? 0 : static_cast<unsigned long>(value);
  do {
    digits[n++] = static_cast<char16_t>(u'0' + v % 10);
    v /= 10;
  } while (v != 0);
  Text t;
  while (n > 0) t.Append(digits[--n]);
  return t;
}

Text Text::Left(size_t n) const {
  Text t;
  for (size_t i = 0; i < n && i < length_; ++i) t.Append(chars_[i]);
  return t;
}

bool Text::operator==(const Text& other) const {
  if (length_ != other.length_) return false;
  for (size_t i = 0; i < length_; ++i)
    if (chars_[i] != other.chars_[i]) return false;
  return true;
}
