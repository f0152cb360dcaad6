#include "installer_test.h"
#include "registration/layout_slot.h"
#include "registration/preload_entry.h"

namespace {

class LayoutSlotTest : public InstallerTest {
 protected:
  // The slot step and the step that closes its key.
  void Register() {
    RegisterLayoutSlot(state, fake);
    RegisterPreloadEntry(state, fake);
    EXPECT_EQ(fake.open_handle_count(), 0) << "a key handle was left open";
  }
  void ExpectRegisteredIn(int slot) {
    EXPECT_FALSE(state.InstallFailed);
    EXPECT_EQ(state.Slot, slot);
    EXPECT_EQ(fake.String(kHklm, SlotKey(slot), u"Ime File"), u"tvl1.IME");
    EXPECT_EQ(fake.String(kHklm, SlotKey(slot), u"Layout File"), u"kbdus.dll");
    EXPECT_EQ(fake.String(kHklm, SlotKey(slot), u"Layout Text"), u"Tavrel输入法");
  }
};

TEST_F(LayoutSlotTest, TakesFirstFreeSlot) {
  Register();
  ExpectRegisteredIn(0);
  // These pin the in-memory platform's byte rule (code-page-936 bytes and their zero), which
  // Win32Platform shares; the runs under Wine read the real values back.
  EXPECT_EQ(fake.Bytes(kHklm, SlotKey(0), u"Ime File").size(), 9u);
}

TEST_F(LayoutSlotTest, SkipsSlotsOfOtherInputMethods) {
  // Upper case is another module; so is a slot with a value too long to read, or with a
  // "Layout File" and no "Ime File". A key that holds neither is free: a run ended after
  // creating it left it.
  const std::u16string others[] = {u"other.ime", u"TVL1.IME", u"", std::u16string(300, u'a'), u"-"};
  for (const auto& other : others) {
    Reset();
    fake.PutKey(kHklm, SlotKey(0));
    if (other == u"-")
      fake.PutString(kHklm, SlotKey(0), u"Layout File", u"kbdus.dll");
    else if (!other.empty())
      fake.PutString(kHklm, SlotKey(0), u"Ime File", other);
    Register();
    ExpectRegisteredIn(other.empty() ? 0 : 1);
    if (!other.empty())
      EXPECT_EQ(fake.String(kHklm, SlotKey(0), u"Ime File"), other == u"-" ? u"<absent>" : other)
          << "slot 0 must be left alone";
  }
}

TEST_F(LayoutSlotTest, ReusesOwnSlotAndKeepsItsOtherValues) {
  // Slot 0 is the first read of the run, made with no value size known yet.
  for (int own : {0, 2}) {
    Reset();
    for (int slot = 0; slot < own; ++slot) OtherImeIn(slot);
    fake.PutString(kHklm, SlotKey(own), u"Ime File", u"tvl1.IME");
    fake.PutString(kHklm, SlotKey(own), u"Layout Text", u"old");
    fake.PutString(kHklm, SlotKey(own), u"Layout Display Name", u"kept");
    Register();
    ExpectRegisteredIn(own);
    EXPECT_EQ(fake.String(kHklm, SlotKey(own), u"Layout Display Name"), u"kept");
    EXPECT_FALSE(fake.HasKey(kHklm, SlotKey(own + 1))) << "own slot " << own << " taken again";
  }
}

TEST_F(LayoutSlotTest, FreeSlotEarlierWinsOverOwnSlotFurtherOn) {
  fake.PutString(kHklm, SlotKey(3), u"Ime File", u"tvl1.IME");
  fake.PutString(kHklm, SlotKey(3), u"Layout Text", u"from before");
  Register();
  ExpectRegisteredIn(0);
  EXPECT_EQ(fake.String(kHklm, SlotKey(3), u"Layout Text"), u"from before");
}

TEST_F(LayoutSlotTest, AllSlotsTakenWritesNothing) {
  for (int slot = 0; slot < kSlotCount; ++slot) OtherImeIn(slot);
  Register();
  EXPECT_TRUE(state.InstallFailed);
  for (int slot = 0; slot < kSlotCount; ++slot) {
    EXPECT_EQ(fake.String(kHklm, SlotKey(slot), u"Ime File"), u"other.ime");
    EXPECT_EQ(fake.Bytes(kHklm, SlotKey(slot), u"Layout Text"), "<absent>");
  }
}

TEST_F(LayoutSlotTest, LayoutFileAndTextFollowPlatformFamily) {
  // NT stores "Layout Text" in UTF-16 whatever its ANSI code page; the older family in its
  // code page (936 here).
  const std::string wide("T\0a\0v\0r\0e\0l\0\x93\x8f\x65\x51\xd5\x6c\0\0", 20);
  const std::string ansi = std::string("Tavrel\xca\xe4\xc8\xeb\xb7\xa8", 12) + '\0';
  struct Case { int32_t id; bool query_fails; const char16_t* expected; const std::string& text; };
  const Case cases[] = {{2, false, u"kbdus.dll", wide}, {1, false, u"kbdus.kbd", ansi}, {2, true, u"kbdus.kbd", ansi}};
  for (const Case& c : cases) {
    Reset();
    fake.platform_id = c.id;
    fake.version_query_fails = c.query_fails;
    Register();
    EXPECT_EQ(fake.String(kHklm, SlotKey(0), u"Layout File"), c.expected) << "platform " << c.id;
    EXPECT_EQ(fake.Bytes(kHklm, SlotKey(0), u"Layout Text"), c.text) << "platform " << c.id;
    EXPECT_EQ(fake.Wide(kHklm, SlotKey(0), u"Layout Text"), &c.text == &wide);
    EXPECT_FALSE(fake.Wide(kHklm, SlotKey(0), u"Ime File") || fake.Wide(kHklm, SlotKey(0), u"Layout File"));
  }
}

TEST_F(LayoutSlotTest, DeniedCreateOrWriteIsAFailure) {
  fake.uncreatable_keys.insert("system\\currentcontrolset\\control\\keyboard layouts\\e0200804");
  Register();
  EXPECT_TRUE(state.InstallFailed);
  EXPECT_FALSE(fake.HasKey(kHklm, SlotKey(0)));
  EXPECT_FALSE(fake.HasKey(kHkcu, PreloadKey(1))) << "no preload entry for an unregistered layout";

  Reset();
  fake.unwritable_values.insert("layout text");
  Register();
  EXPECT_TRUE(state.InstallFailed);
}

TEST_F(LayoutSlotTest, DeniedWritesCountWhereTheValuesAlreadyHoldTheirBytes) {
  // An administrator's slot met by a user whose writes are denied; bytes after the zero differ.
  // On NT "Layout Text" is read back in UTF-16 characters; on the older family in code-page
  // bytes, 12 for its 9 characters.
  const std::u16string texts[] = {u"Tavrel输入法", std::u16string(u"Tavrel输入法\0 ", 11), u"old"};
  for (const int32_t platform_id : {2, 1}) {
    for (const std::u16string& text : texts) {
      Reset();
      fake.platform_id = platform_id;
      fake.PutString(kHklm, SlotKey(0), u"Ime File", u"tvl1.IME");
      fake.PutString(kHklm, SlotKey(0), u"Layout File", platform_id == 2 ? u"kbdus.dll" : u"kbdus.kbd");
      fake.PutString(kHklm, SlotKey(0), u"Layout Text", text);
      fake.unwritable_values = {"ime file", "layout file", "layout text"};
      RegisterLayoutSlot(state, fake);
      EXPECT_EQ(state.ValueSize, 9) << "the read-backs count bytes of their own";
      EXPECT_TRUE(state.ValueBuffer == u"Tavrel输入法" && state.Status != 0) << "text and result of the write";
      RegisterPreloadEntry(state, fake);
      EXPECT_EQ(state.InstallFailed, text != u"Tavrel输入法")
          << text.size() << " characters, platform " << platform_id;
      EXPECT_EQ(fake.HasKey(kHkcu, PreloadKey(1)), !state.InstallFailed);
    }
  }
}

}  // namespace

namespace {

// Removal.

TEST_F(LayoutSlotTest, RemovesEverySlotNamingTheModuleInAnyCaseAndNoOther) {
  struct Case {
    std::vector<std::u16string> slots;  // "Ime File" of slots 0, 1, ...; u"-" no key
    uint32_t own;
  };
  const Case cases[] = {
      {{u"tvl1.IME"}, 0x1},
      {{u"other.ime", u"TVL1.ime"}, 0x2},
      {{u"-", u"other.ime", u"-", u"tvl1.IME", u"Tvl1.Ime"}, 0x18},  // gaps, and ours twice
      {{u"tvl1.IMEX", u"xtvl1.IME", u"tvl1.IM", u"tvl1\u3000IME"}, 0},
      {{}, 0},
  };
  for (const Case& c : cases) {
    Reset();
    for (size_t i = 0; i < c.slots.size(); ++i)
      if (c.slots[i] != u"-") fake.PutString(kHklm, SlotKey(static_cast<int>(i)), u"Ime File", c.slots[i]);
    UninstallerState removal;
    FindOwnSlots(removal, fake);
    DeleteOwnSlots(removal, fake);
    EXPECT_EQ(removal.OwnSlots, c.own) << c.slots.size() << " slots";
    EXPECT_EQ(removal.Found, c.own != 0);
    EXPECT_FALSE(removal.RemovalFailed);
    EXPECT_EQ(fake.open_handle_count(), 0);
    for (size_t slot = 0; slot < kSlotCount; ++slot)
      EXPECT_EQ(fake.HasKey(kHklm, SlotKey(static_cast<int>(slot))),
                slot < c.slots.size() && c.slots[slot] != u"-" && !(c.own >> slot & 1))
          << "slot " << slot;
  }
}

TEST_F(LayoutSlotTest, SlotThatCannotBeDeletedIsAFailureAndTheOthersGo) {
  fake.PutString(kHklm, SlotKey(0), u"Ime File", u"tvl1.IME");
  fake.PutString(kHklm, SlotKey(2), u"Ime File", u"tvl1.IME");
  fake.undeletable_keys.insert("system\\currentcontrolset\\control\\keyboard layouts\\e0200804");
  UninstallerState removal;
  FindOwnSlots(removal, fake);
  DeleteOwnSlots(removal, fake);
  EXPECT_TRUE(removal.RemovalFailed);
  EXPECT_EQ(removal.OwnSlots, 0x5u) << "its list entries go all the same";
  EXPECT_TRUE(fake.HasKey(kHklm, SlotKey(0)));
  EXPECT_FALSE(fake.HasKey(kHklm, SlotKey(2)));
}

}  // namespace
