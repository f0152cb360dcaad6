#include "platform/wininit_text.h"

namespace {

constexpr char kHeader[] = "[rename]\r\n";
constexpr int kHeaderLength = 10;
constexpr int kNameLength = 8;  // "[rename]"

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

// True when the line at `at` (`count` bytes) starts with "[rename]", in any case.
bool IsRenameHeader(const char* at, int count) {
  if (count < kNameLength) return false;
  for (int i = 0; i < kNameLength; ++i)
    if (Lower(at[i]) != kHeader[i]) return false;
  return true;
}

}  // namespace

int AddRenameLine(char* text, int length, int capacity, const char* line, int line_length) {
  int at = -1;  // end of the section's last line that is not blank
  bool in_section = false;
  for (int start = 0, next = 0; start < length; start = next) {
    while (next < length && text[next++] != '\n') {
    }
    int first = start;
    while (first < next && (text[first] == ' ' || text[first] == '\t')) ++first;
    const char c = first < next ? text[first] : '\n';
    if (c == '[') {
      if (in_section) break;
      in_section = IsRenameHeader(text + first, next - first);
      if (in_section) at = next;
    } else if (in_section && c != '\r' && c != '\n') {
      at = next;
    }
  }
  const bool add_section = at < 0;
  if (add_section) at = length;
  const bool add_break = at > 0 && text[at - 1] != '\n';
  const int added = (add_break ? 2 : 0) + (add_section ? kHeaderLength : 0) + line_length + 2;
  if (line_length < 0 || added > capacity - length) return -1;
  for (int i = length; i-- > at;) text[i + added] = text[i];
  char* out = text + at;
  const auto put = [&out](const char* bytes, int count) {
    while (count-- > 0) *out++ = *bytes++;
  };
  if (add_break) put(kHeader + kNameLength, 2);
  if (add_section) put(kHeader, kHeaderLength);
  put(line, line_length);
  put(kHeader + kNameLength, 2);
  return length + added;
}
