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

namespace {

using namespace std::string_literals;
using Read = PendingList::Read;

// A list read as `text`; u"<absent>" and u"<too long>" for the two reads that hold none.
PendingList List(const std::u16string& text) {
  PendingList list;
  if (text == u"<absent>") return list;
  list.read = text == u"<too long>" ? Read::kTooLong : Read::kText;
  list.text = text.data();
  list.length = static_cast<int>(text.size());
  return list;
}

TEST(WininitTextTest, EitherRestartListAndAnEightDotThreeNameCount) {
  const std::u16string uninstaller = u"C:\\WINDOWS\\tvluninstall.exe";
  const struct {
    std::u16string first, second, short_path;
    bool named;
  } cases[] = {
      // NT: Windows goes on in PendingFileRenameOperations2 when the first value is full.
      {u"\\??\\C:\\WINDOWS\\other.dll\0\0"s, u"\\??\\C:\\WINDOWS\\tvluninstall.exe\0\0"s, u"", true},
      {u"<absent>", u"\\??\\C:\\WINDOWS\\TVLUNINSTALL.EXE\0\0"s, u"", true},
      {u"\\??\\C:\\WINDOWS\\other.dll\0\0"s, u"<absent>", u"", false},
      {u"<absent>", u"<absent>", u"", false},
      {u"<absent>", u"<too long>", u"", true},  // it may be there
      // Windows 95/98/Me: WININIT.INI names files by their 8.3 names.
      {u"[rename]\r\nNUL=C:\\WINDOWS\\TVLUNI~1.EXE\r\n", u"<absent>", u"C:\\WINDOWS\\TVLUNI~1.EXE", true},
      {u"[rename]\r\nNUL=C:\\WINDOWS\\TVLUNI~1.EXE\r\n", u"<absent>", u"", false},  // no 8.3 form known
      {u"[rename]\r\nNUL=C:\\WINDOWS\\TVLUNI~2.EXE\r\n", u"<absent>", u"C:\\WINDOWS\\TVLUNI~1.EXE", false},
      {u"[rename]\r\nNUL=C:\\WINDOWS\\tvluninstall.exe\r\n", u"<absent>", u"C:\\WINDOWS\\TVLUNI~1.EXE", true},
  };
  for (const auto& c : cases) {
    const PendingList lists[2] = {List(c.first), List(c.second)};
    EXPECT_EQ(ListsNameFile(lists, 2, Text(uninstaller.c_str()), Text(c.short_path.c_str())), c.named)
        << c.first.size() << " " << c.second.size() << " " << c.short_path.size();
  }
}

}  // namespace
