#include <gtest/gtest.h>

#include <string>

#include "platform/wininit_text.h"

namespace {

// The INI text after AddRenameLine(text, "T=S"), or "<too long>".
std::string Added(const std::string& before, int capacity = 256) {
  std::string text = before;
  text.resize(static_cast<size_t>(capacity), '#');
  const int length = AddRenameLine(text.data(), static_cast<int>(before.size()), capacity, "T=S", 3);
  if (length < 0) {
    EXPECT_EQ(text.substr(0, before.size()), before) << "text changed although the line did not fit";
    return "<too long>";
  }
  return text.substr(0, static_cast<size_t>(length));
}

TEST(WininitTextTest, LineGoesLastIntoTheRenameSection) {
  const struct {
    const char* before;
    const char* after;
  } cases[] = {
      {"", "[rename]\r\nT=S\r\n"},
      {"[rename]\r\n", "[rename]\r\nT=S\r\n"},
      // A key may repeat: earlier lines for the same file stay.
      {"[rename]\r\nNUL=S\r\nT=S\r\n", "[rename]\r\nNUL=S\r\nT=S\r\nT=S\r\n"},
      // Before the blank lines and the next section; any case; leading blanks.
      {"[x]\r\na=1\r\n  [Rename]\r\nNUL=A\r\n\r\n \r\n[y]\r\nb=2\r\n",
       "[x]\r\na=1\r\n  [Rename]\r\nNUL=A\r\nT=S\r\n\r\n \r\n[y]\r\nb=2\r\n"},
      {"[RENAME]\r\n[y]\r\n", "[RENAME]\r\nT=S\r\n[y]\r\n"},
      // A last line without its line break gets one; bare line feeds are kept.
      {"[rename]\nNUL=A", "[rename]\nNUL=A\r\nT=S\r\n"},
      {"[renamed]\na=1", "[renamed]\na=1\r\n[rename]\r\nT=S\r\n"},
      {";[rename]\r\n", ";[rename]\r\n[rename]\r\nT=S\r\n"},
      // Only the first [rename] section is added to.
      {"[rename]\r\nA=B\r\n[rename]\r\nC=D\r\n", "[rename]\r\nA=B\r\nT=S\r\n[rename]\r\nC=D\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(Added(c.before), c.after) << c.before;
}

TEST(WininitTextTest, TextThatWouldNotFitStaysAsItWas) {
  EXPECT_EQ(Added("[rename]\r\nA=B\r\n", 19), "<too long>");
  EXPECT_EQ(Added("[rename]\r\nA=B\r\n", 20), "[rename]\r\nA=B\r\nT=S\r\n");
  EXPECT_EQ(Added("", 14), "<too long>");
}

}  // namespace

namespace {

using namespace std::string_literals;

TEST(WininitTextTest, PendingOperationsNameAFileByItsLastComponentInAnyCase) {
  const std::u16string name = u"tvl1A.tmp";
  const struct {
    std::u16string text;
    bool named;
  } cases[] = {
      {u"[rename]\r\nC:\\WINDOWS\\SYSTEM\\TVL1.MB=C:\\WINDOWS\\SYSTEM\\TVL1A.TMP\r\n", true},
      {u"[rename]\r\nNUL=C:\\WINDOWS\\SYSTEM\\TVL1A.TMP", true},
      {u"\\??\\C:\\windows\\system32\\tvl1a.tmp\0\\??\\C:\\windows\\system32\\tvl1.MB\0"s, true},
      {u"\\??\\C:\\windows\\system32\\xtvl1A.tmp\0\0"s, false},  // another name ending alike
      {u"[rename]\r\nNUL=C:\\WINDOWS\\SYSTEM\\TVL1A.TMPX\r\n", false},
      {u"tvl1A.tmp", false},  // no backslash before it
      {u"", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(NamesFile(c.text.data(), static_cast<int>(c.text.size()), name.data(), static_cast<int>(name.size())),
              c.named)
        << c.text.size();
}

}  // namespace
