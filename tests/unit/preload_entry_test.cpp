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
      {"entry without default value is a free number", {u"(none)"}, 1, 1},
      {"entry 2 without default value", {u"00000409", u"(none)"}, 2, 2},
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

namespace {

// Removal.

class PreloadRemovalTest : public PreloadEntryTest {
 protected:
  // Both forms of the list hold `list` (u"-": a gap); the removal runs for own slots `own`.
  void Remove(const std::vector<std::u16string>& list, uint32_t own, int32_t platform = kPlatformNt) {
    for (size_t i = 0; i < list.size(); ++i) {
      if (list[i] == u"-") continue;
      Entry(static_cast<int>(i) + 1, list[i]);
      Value(static_cast<int>(i) + 1, list[i]);
    }
    fake.platform_id = platform;
    removal = UninstallerState();
    removal.OwnSlots = own;
    RemovePreloadEntries(removal, fake, fake);
    EXPECT_EQ(fake.open_handle_count(), 0) << "a key handle was left open";
  }
  // The subkey entries as "1=..., 2=...".
  std::string Entries() {
    std::string list;
    for (int n = 1; n <= 9; ++n)
      if (fake.HasKey(kHkcu, PreloadKey(n)))
        list += (list.empty() ? "" : ", ") + std::to_string(n) + "=" + ToAnsi(fake.String(kHkcu, PreloadKey(n), u""));
    return list;
  }
  UninstallerState removal;
};

TEST_F(PreloadRemovalTest, TakesOwnEntriesOutOfBothListsAndClosesTheGap) {
  struct Case {
    const char* what;
    uint32_t own;
    std::vector<std::u16string> before;
    const char* after;
    bool found;
  };
  const Case cases[] = {
      {"ours between two others", 0x2, {u"00000804", u"E0210804", u"E0200804"}, "1=00000804, 2=E0200804", true},
      {"ours first, in lower case", 0x1, {u"e0200804", u"00000409"}, "1=00000409", true},
      {"two slots, one twice", 0x3, {u"E0200804", u"00000804", u"E0210804", u"E0200804", u"00000409"},
       "1=00000804, 2=00000409", true},
      {"only ours", 0x1, {u"E0200804"}, "", true},
      {"nothing of ours", 0x1, {u"00000804", u"00000409"}, "1=00000804, 2=00000409", false},
      {"nothing after the first gap is read", 0x1, {u"00000804", u"-", u"E0200804"},
       "1=00000804, 3=E0200804", false},
      {"no own slot", 0, {u"E0200804"}, "1=E0200804", false},
      {"identifiers that are not ours", 0x1, {u"E0200804 ", u"E020080", u"E0210804"},
       "1=E0200804 , 2=E020080, 3=E0210804", false},
      {"empty list", 0x1, {}, "", false},
  };
  for (const Case& c : cases) {
    for (int32_t platform : {kPlatformNt, 1}) {
      Reset();
      Remove(c.before, c.own, platform);
      EXPECT_EQ(Entries(), c.after) << c.what;
      if (platform == kPlatformNt) {
        EXPECT_EQ(Values(), c.after) << c.what;
      } else {  // the older family has no list of named values: it stays as it was
        for (size_t i = 0; i < c.before.size(); ++i)
          EXPECT_EQ(fake.String(kHkcu, kPreloadValues, Number(static_cast<int>(i) + 1)),
                    c.before[i] == u"-" ? u"<absent>" : c.before[i]) << c.what;
      }
      EXPECT_EQ(removal.Found, c.found) << c.what;
      EXPECT_FALSE(removal.RemovalFailed) << c.what;
    }
  }
}

TEST_F(PreloadRemovalTest, EntryThatCannotBeReadWholeIsNeverRewritten) {
  // One that would have to move down leaves its form of the list as it was, reported; one
  // before the removed entry stays where it is.
  const std::u16string too_long(300, u'E');
  const std::string shown(300, 'E');
  fake.PutKey(kHkcu, PreloadKey(2));  // a subkey without value
  Remove({u"E0200804", u"-", u"00000804"}, 0x1);
  EXPECT_EQ(Entries(), "1=E0200804, 2=<absent>, 3=00000804");
  EXPECT_EQ(Values(), "3=00000804") << "named values end at the first missing number";
  EXPECT_TRUE(removal.RemovalFailed);

  Reset();
  Remove({u"E0200804", too_long, u"00000409"}, 0x1);
  EXPECT_EQ(Entries(), "1=E0200804, 2=" + shown + ", 3=00000409");
  EXPECT_EQ(Values(), Entries());
  EXPECT_TRUE(removal.RemovalFailed);

  Reset();
  Remove({too_long, u"E0200804", u"00000409"}, 0x1);
  EXPECT_EQ(Entries(), "1=" + shown + ", 2=00000409");
  EXPECT_EQ(Values(), Entries());
  EXPECT_FALSE(removal.RemovalFailed);
}

TEST_F(PreloadRemovalTest, EntryThatCannotBeMovedOrDeletedIsAFailure) {
  const char* faults[] = {"key 3", "value 3", "write 1"};
  for (const char* fault : faults) {
    Reset();
    if (fault == faults[0]) fake.undeletable_keys.insert("keyboard layout\\preload\\3");
    if (fault == faults[1]) fake.undeletable_values.insert("3");
    if (fault == faults[2]) fake.unwritable_values = {"", "1"};
    Remove({u"E0200804", u"00000804", u"00000409"}, 0x1);
    EXPECT_TRUE(removal.RemovalFailed) << fault;
    EXPECT_TRUE(removal.Found) << fault;
    // The other form is renumbered all the same.
    if (fault != faults[1]) EXPECT_EQ(Values(), fault == faults[2] ? "1=E0200804, 2=00000409" : "1=00000804, 2=00000409") << fault;
    if (fault == faults[1]) EXPECT_EQ(Entries(), "1=00000804, 2=00000409") << fault;
  }
}

}  // namespace
