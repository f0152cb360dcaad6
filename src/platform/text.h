#pragma once
// Fixed-capacity UTF-16 text: the program's text type on Windows and on the test host.
// It needs no heap and no C++ runtime library, and may hold embedded zero characters
// (a registry buffer is converted back whole, its zero byte included).
#include <stddef.h>

class Text {
 public:
  static constexpr size_t kCapacity = 512;

  Text() { chars_[0] = u'\0'; }
  // Copies only the characters in use (and the zero after them): a Text is 1 KiB.
  Text(const Text& other);
  Text& operator=(const Text& other);
  Text(const char16_t* literal) { Append(literal); }  // NOLINT: literals convert implicitly
  // ASCII text kept narrow takes half the bytes of a UTF-16 literal.
  Text(const char* ascii) { Append(ascii); }  // NOLINT

  /// Replaces the text by the literal's characters (up to kCapacity).
  Text& operator=(const char16_t* literal);
  Text& operator=(const char* ascii);

  /// Characters beyond kCapacity are dropped.
  Text& Append(const Text& other);
  Text& Append(const char16_t* literal);
  /// Each byte of `ascii` widened to one character: for ASCII text only.
  Text& Append(const char* ascii);
  Text& Append(char16_t c);
  /// `count` characters, zero characters included.
  Text& Append(const char16_t* chars, size_t count);

  /// Decimal digits of a non-negative number, no leading zeros (0 for a negative one).
  static Text Number(long value);
  /// Appends Number(value) (in place: a Text is 1 KiB).
  Text& AppendNumber(long value);

  /// The first n characters, or the whole text when n is at least its length.
  Text Left(size_t n) const;

  size_t size() const { return length_; }
  bool empty() const { return length_ == 0; }
  const char16_t* data() const { return chars_; }
  char16_t operator[](size_t i) const { return chars_[i]; }
  char16_t back() const { return length_ ? chars_[length_ - 1] : u'\0'; }

  /// Exact, case-sensitive comparison.
  bool operator==(const Text& other) const;
  bool operator!=(const Text& other) const { return !(*this == other); }
  /// The same text when ASCII letters compare without regard to case, as Windows compares
  /// file names and layout identifiers ("tvl1.ime" is "tvl1.IME").
  bool EqualsIgnoringCase(const Text& other) const;

 private:
  char16_t chars_[kCapacity + 1];  // chars_[length_] is zero; beyond it, unspecified
  size_t length_ = 0;
};

/// An ASCII capital letter as its small letter; every other character as it is: how Windows
/// compares file names and layout identifiers, character by character.
char16_t FoldAsciiCase(char16_t c);

inline Text operator+(const Text& a, const Text& b) {
  Text sum = a;
  sum.Append(b);
  return sum;
}
