#include "installer_test.h"
#include "registration/layout_slot.h"
#include "registration/preload_entry.h"

namespace {

class PreloadEntryTest : public InstallerTest {
 protected:
  void Register() {
    RegisterLayoutSlot(state, fake);
    RegisterPreloadEntry(state, fake);
    EXPECT_EQ(fake.open_handle_count(), 0) << "a key handle was left open";
  }
  void Entry(int n, const std::u16string& layout) { fake.PutString(kHkcu, PreloadKey(n), u"", layout); }
  // The NT family's list: values "1", "2", ... of one key.
  void Value(int n, const std::u16string& layout) { fake.PutString(kHkcu, kPreloadValues, Number(n), layout); }
  std::u16string Number(int n) { return ToU16(Text::Number(n)); }
  // "1=..., 2=..." in the numbers' order; named values only.
  std::string Values() {
    std::string list;
    for (int n = 1; n <= 9; ++n)
      if (fake.Bytes(kHkcu, kPreloadValues, Number(n)) != "<absent>")
        list += (list.empty() ? "" : ", ") + ToAnsi(Number(n) + u"=" + fake.String(kHkcu, kPreloadValues, Number(n)));
    return list;
  }
  const std::u16string kPreloadValues = u"Keyboard Layout\\Preload";
  int EntryCount() {
    int n = 0;
    while (fake.HasKey(kHkcu, PreloadKey(n + 1))) ++n;
    return n;
  }
};

TEST_F(PreloadEntryTest, WritesFirstEntryHoldingTheLayoutOrFirstMissingNumber) {
  struct Case {
    const char* what;
    std::vector<std::u16string> entries;  // u"-" leaves a gap, u"(none)" a key without value
    int written;
    int count_after;
    std::vector<std::u16string> values = {};  // the NT family's list; u"-" leaves a gap
    const char* values_after = "1=E0200804";
    int32_t platform = kPlatformNt;
  };
  const std::u16string too_long(300, u'E');
  const Case cases[] = {
      {"empty list", {}, 1, 1},
      {"two others", {u"00000409", u"00000804"}, 3, 3},
      {"layout in entry 2", {u"00000409", u"E0200804"}, 2, 2},
      {"gap at 2", {u"00000409", u"-", u"00000804"}, 2, 3},
      {"lower case is another layout", {u"e0200804"}, 2, 2},
      {"entry 1 read on a first run", {u"E0200804", u"00000409"}, 1, 2},
      {"entry without default value", {u"(none)"}, 2, 2},
      {"value longer than the buffer", {too_long}, 2, 2},
      {"no value list on the older family", {}, 1, 1, {}, "", 1},
      {"values 1 and 2 held by others", {}, 1, 1, {u"00000804", u"E0010804"},
       "1=00000804, 2=E0010804, 3=E0200804"},
      {"value 2 names it in lower case", {}, 1, 1, {u"00000804", u"e0200804", u"00000409"},
       "1=00000804, 2=E0200804, 3=00000409"},
      {"gap at value 2", {}, 1, 1, {u"00000804", u"-", u"00000409"},
       "1=00000804, 2=E0200804, 3=00000409"},
      {"value longer than the buffer", {}, 1, 1, {too_long}, "1=" /* checked apart */},
  };
  for (const Case& c : cases) {
    Reset();
    for (size_t i = 0; i < c.entries.size(); ++i) {
      const int n = static_cast<int>(i) + 1;
      if (c.entries[i] == u"(none)") fake.PutKey(kHkcu, PreloadKey(n));
      else if (c.entries[i] != u"-") Entry(n, c.entries[i]);
    }
    for (size_t i = 0; i < c.values.size(); ++i)
      if (c.values[i] != u"-") Value(static_cast<int>(i) + 1, c.values[i]);
    fake.platform_id = c.platform;
    Register();
    EXPECT_EQ(fake.Bytes(kHkcu, PreloadKey(c.written), u""), std::string("E0200804") + '\0') << c.what;
    EXPECT_EQ(EntryCount(), c.count_after) << c.what;
    EXPECT_FALSE(state.InstallFailed) << c.what;
    EXPECT_TRUE(state.ValueBuffer == u"E0200804") << c.what;
    if (c.values.empty() || c.values[0] != too_long)
      EXPECT_EQ(Values(), c.values_after) << c.what;
    else
      EXPECT_EQ(fake.String(kHkcu, kPreloadValues, u"2"), u"E0200804") << c.what;
  }
}

TEST_F(PreloadEntryTest, UsesTheChosenSlotsIdentifier) {
  OtherImeIn(0);
  Entry(1, u"E0200804");
  Register();
  EXPECT_EQ(fake.String(kHkcu, PreloadKey(2), u""), u"E0210804");
  EXPECT_TRUE(state.ValueBuffer == u"E0210804");
}

TEST_F(PreloadEntryTest, DeniedCreateOrWriteIsAFailure) {
  fake.uncreatable_keys.insert("keyboard layout\\preload\\1");
  Register();
  EXPECT_TRUE(state.InstallFailed);

  Reset();
  fake.unwritable_values.insert("");
  Register();
  EXPECT_TRUE(state.InstallFailed);
  EXPECT_EQ(fake.String(kHklm, SlotKey(0), u"Ime File"), u"tvl1.IME");

  // A denied write counts where the entry already holds the identifier (not so a new entry 2),
  // in either list.
  for (const std::u16string entry : {u"E0200804", u"e0200804", u"00000409"}) {
    for (const char* name : {"", "1"}) {
      Reset();
      if (*name) Value(1, entry);
      else Entry(1, entry);
      fake.unwritable_values = *name ? std::set<std::string>{"1", "2"} : std::set<std::string>{""};
      Register();
      EXPECT_EQ(state.InstallFailed, entry == u"00000409" || (entry != u"E0200804" && !*name))
          << ToAnsi(entry) << " in list '" << name << "'";
    }
  }
}

}  // namespace
