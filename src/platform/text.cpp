#include "platform/text.h"

Text::Text(const Text& other) { Append(other); }

Text& Text::operator=(const Text& other) {
  if (this != &other) {
    length_ = 0;
    Append(other);
  }
  return *this;
}

Text& Text::operator=(const char16_t* literal) {
  length_ = 0;
  return Append(literal);
}

Text& Text::operator=(const char* ascii) {
  length_ = 0;
  return Append(ascii);
}

// Ends with the terminating zero also for "": a Text made from it is handed to Windows as an
// empty name (a key's default value).
Text& Text::Append(const char* ascii) {
  while (*ascii) Append(static_cast<char16_t>(static_cast<unsigned char>(*ascii++)));
  chars_[length_] = u'\0';
  return *this;
}

Text& Text::Append(const char16_t* chars, size_t count) {
  // Copies forward, so appending a text to itself or assigning part of its own characters
  // reads each character before it is overwritten.
  for (; count > 0 && length_ < kCapacity; --count) chars_[length_++] = *chars++;
  chars_[length_] = u'\0';
  return *this;
}

Text& Text::Append(char16_t c) { return Append(&c, 1); }

Text& Text::Append(const Text& other) { return Append(other.chars_, other.length_); }

Text& Text::Append(const char16_t* literal) {
  size_t count = 0;
  while (literal[count]) ++count;
  return Append(literal, count);
}

Text Text::Number(long value) {
  Text t;
  t.AppendNumber(value);
  return t;
}

Text& Text::AppendNumber(long value) {
  char16_t digits[24];
  size_t n = 0;
  unsigned long v = value < 0 ? 0 : static_cast<unsigned long>(value);
  do {
    digits[n++] = static_cast<char16_t>(u'0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) Append(digits[--n]);
  return *this;
}

// One copy for all callers: the optimizer of the whole program would otherwise inline it
// into each of them.
__attribute__((noinline)) Text Text::Left(size_t n) const {
  Text t;
  t.Append(chars_, n < length_ ? n : length_);
  return t;
}

char16_t FoldAsciiCase(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool Text::EqualsIgnoringCase(const Text& other) const {
  if (length_ != other.length_) return false;
  for (size_t i = 0; i < length_; ++i)
    if (FoldAsciiCase(chars_[i]) != FoldAsciiCase(other.chars_[i])) return false;
  return true;
}

bool Text::operator==(const Text& other) const {
  if (length_ != other.length_) return false;
  for (size_t i = 0; i < length_; ++i)
    if (chars_[i] != other.chars_[i]) return false;
  return true;
}
