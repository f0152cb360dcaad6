#include "platform/wininit_text.h"

namespace {

// A line break, then the section's header with its own.
constexpr char kBreakAndHeader[] = "\r\n[rename]\r\n";

}  // namespace

int AddRenameLine(char* text, int length, int capacity, const char* line, int line_length) {
  int at = -1;  // end of the section's last line that is not blank
  bool in_section = false;
  for (int next = 0; next < length;) {
    int first = next;
    while (first < length && (text[first] == ' ' || text[first] == '\t')) ++first;
    while (next < length && text[next++] != '\n') {
    }
    const char c = first < next ? text[first] : '\n';
    if (c == '[') {
      if (in_section) break;
      // "[rename]" in any case.
      in_section = next - first >= 8;
      for (int i = 1; in_section && i < 8; ++i) {
        const char name = text[first + i];
        in_section = (name >= 'A' && name <= 'Z' ? name + ('a' - 'A') : name) == kBreakAndHeader[2 + i];
      }
      if (in_section) at = next;
    } else if (in_section && c != '\r' && c != '\n') {
      at = next;
    }
  }
  // What goes before the line: a line break when the text ends without one, and the
  // section's header when it has none.
  const char* before = kBreakAndHeader + 2;
  int before_length = 0;
  if (at < 0) {
    at = length;
    before_length = 10;
  }
  if (at > 0 && text[at - 1] != '\n') before -= 2, before_length += 2;
  const int added = before_length + line_length + 2;
  if (line_length < 0 || added > capacity - length) return -1;
  char* out = text + at;
  __builtin_memmove(out + added, out, static_cast<unsigned>(length - at));
  __builtin_memcpy(out, before, static_cast<unsigned>(before_length));
  __builtin_memcpy(out + before_length, line, static_cast<unsigned>(line_length));
  __builtin_memcpy(out + added - 2, kBreakAndHeader, 2);
  return length + added;
}

bool NamesFile(const char16_t* text, int length, const char16_t* name, int name_length) {
  for (int at = 0; at + name_length < length; ++at) {
    if (text[at] != u'\\') continue;
    int i = 0;
    while (i < name_length && FoldAsciiCase(text[at + 1 + i]) == FoldAsciiCase(name[i])) ++i;
    if (i < name_length) continue;
    // The name ends there: a zero, a line break, a blank or '=' follows, or nothing.
    const int after = at + 1 + name_length;
    if (after == length || text[after] <= u' ' || text[after] == u'=') return true;
  }
  return false;
}

namespace {

// The characters of `path` after its last backslash.
const char16_t* LastComponent(const Text& path, int* length) {
  size_t start = path.size();
  while (start > 0 && path[start - 1] != u'\\') --start;
  *length = static_cast<int>(path.size() - start);
  return path.data() + start;
}

}  // namespace

bool ListsNameFile(const PendingList* lists, int count, const Text& path, const Text& short_path) {
  int name_length, short_length;
  const char16_t* name = LastComponent(path, &name_length);
  const char16_t* short_name = LastComponent(short_path, &short_length);
  for (int i = 0; i < count; ++i) {
    const PendingList& list = lists[i];
    if (list.read == PendingList::Read::kTooLong) return true;
    if (list.read != PendingList::Read::kText) continue;
    if (NamesFile(list.text, list.length, name, name_length)) return true;
    if (short_length > 0 && NamesFile(list.text, list.length, short_name, short_length)) return true;
  }
  return false;
}
