#pragma once
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "window/installer_state.h"

inline const std::u16string kLayouts = u"System\\CurrentControlSet\\Control\\Keyboard Layouts\\";
inline std::u16string SlotKey(int slot) { return kLayouts + u"E02" + char16_t(u'0' + slot) + u"0804"; }
inline std::u16string PreloadKey(int n) { return u"keyboard layout\\preload\\" + ToU16(Text::Number(n)); }
constexpr RegistryRoot kHklm = RegistryRoot::kLocalMachine;
constexpr RegistryRoot kHkcu = RegistryRoot::kCurrentUser;

// Each test owns a fresh fake; every test ends by checking the handle discipline.
class InstallerTest : public ::testing::Test {
 protected:
  void TearDown() override { ExpectNoCallerFaults(); }
  void ExpectNoCallerFaults() {
    EXPECT_EQ(fake.bad_closes, 0) << "a handle was closed twice, or handle 0 was closed";
    EXPECT_EQ(fake.buffer_overruns, 0) << "a read was handed more bytes than its buffer holds";
  }
  // Starts the next case of a table: the finished case's faults are checked first.
  void Reset() {
    ExpectNoCallerFaults();
    fake = FakePlatform();
    state = InstallerState();
  }
  void OtherImeIn(int slot) { fake.PutString(kHklm, SlotKey(slot), u"Ime File", u"other.ime"); }
  // A whole hive as text, a key a line with its values' bytes, to compare before and after.
  std::string Dump(RegistryRoot root) {
    std::string text;
    for (const auto& [path, key] : fake.hive(root)) {
      text += path + ":";
      for (const auto& [name, bytes] : key.values) text += " " + name + "=" + bytes;
      text += "\n";
    }
    return text;
  }

  FakePlatform fake;
  InstallerState state;
};
