#include "installer_test.h"
#include "window/command_line.h"
#include "window/frm_setup.h"
#include "window/frm_uninstall.h"
#include "window/user_part.h"

namespace {

const std::u16string kModuleMissing = u"输入法文件未找到！";
const std::u16string kTableMissing = u"码表文件未找到！";
const std::u16string kNotInstalled = u"Tavrel输入法未能安装成功！";
const std::u16string kSuccess = u"Tavrel输入法安装成功完成！";
const std::u16string kRestartLine = u"\n请重新启动计算机以完成安装。";
const std::u16string kEntry = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TavrelInputMethod";
const std::u16string kSetupEntry = u"Software\\Microsoft\\Active Setup\\Installed Components\\TavrelInputMethod";
const std::u16string kSignOutLine = u"\n请注销并重新登录后使用此输入法。";

class RunSequenceTest : public InstallerTest {
 protected:
  void SetUp() override { Ship(u"C:\\tvl"); }
  // The four programs' files beside the program, which is started from its own folder.
  void Ship(const std::u16string& dir) {
    fake.files.clear();
    fake.program_dir = dir;
    fake.current_dir = dir.back() == u'\\' ? dir.substr(0, dir.size() - 1) : dir;
    const std::u16string prefix = dir.back() == u'\\' ? dir : dir + u"\\";
    fake.files[prefix + u"tvl1.IME"] = FakeFile{"module bytes"};
    fake.files[prefix + u"tvl1.MB"] = FakeFile{"table bytes"};
    fake.files[prefix + u"tvluninstall.exe"] = FakeFile{std::string(2030, 'u')};
    fake.files[prefix + u"tvluser.exe"] = FakeFile{"sign-in"};
  }
  // The whole run: Load, then Activate; returns the one message shown. Silent: none is
  // shown, and the exit status goes to *silent_outcome.
  std::u16string Run(ExitStatus* silent_outcome = nullptr) {
    FrmSetup form(fake, fake, /*silent=*/silent_outcome != nullptr);
    const size_t loads = fake.loaded_layouts.size();
    form.Load();
    EXPECT_EQ(form.Outcome(), kExitNotRun) << "nothing reported yet";
    // From Windows 8 on a layout loaded by a process without the focus window has no effect.
    EXPECT_EQ(fake.loaded_layouts.size(), loads) << "layout loaded while the window is hidden";
    const size_t profile_calls = fake.profile_calls.size();
    form.Activate();
    EXPECT_EQ(fake.profile_calls.size(), profile_calls) << "the profile changed after the activation";
    EXPECT_EQ(fake.open_handle_count(), 0);
    EXPECT_EQ(fake.messages.size(), silent_outcome ? 0u : 1u);
    EXPECT_TRUE(fake.unloaded);
    if (silent_outcome) *silent_outcome = form.Outcome();
    if (fake.messages.empty()) return u"<no message>";
    EXPECT_EQ(fake.messages[0].title, u"Tavrel输入法安装");
    EXPECT_EQ(fake.messages[0].style, 64);
    EXPECT_EQ(fake.messages[0].layouts_loaded, fake.loaded_layouts.size()) << "loaded after the message";
    // The exit status follows the message shown.
    const std::u16string& prompt = fake.messages[0].prompt;
    EXPECT_EQ(form.Outcome(), prompt.rfind(kSuccess, 0) != 0                 ? kExitReportedFailure
                              : prompt.find(kRestartLine) != std::u16string::npos ? kExitRestartNeeded
                                                                                  : kExitInstalled);
    return prompt;
  }
  std::string Installed(const char16_t* name) {
    FakeFile* file = fake.File(u"C:\\WINDOWS\\system32\\" + std::u16string(name));
    return file ? file->bytes : "<absent>";
  }
};

TEST_F(RunSequenceTest, FullInstallation) {
  EXPECT_EQ(Run(), kSuccess);
  EXPECT_EQ(fake.caption, u"Tavrel输入法安装");
  // The backdrop is painted at load, under the caption just set.
  EXPECT_FALSE(fake.paints.empty());
  ASSERT_EQ(fake.prints.size(), 2u);
  EXPECT_EQ(fake.prints[0].text, u"Tavrel输入法安装");
  EXPECT_EQ(fake.prints[1].text, u"Tavrel输入法安装");
  EXPECT_EQ(Installed(u"tvl1.IME"), "module bytes");
  EXPECT_EQ(Installed(u"tvl1.MB"), "table bytes");
  EXPECT_EQ(fake.loaded_layouts, std::vector<std::u16string>{u"E0200804"});
  EXPECT_EQ(fake.String(kHkcu, PreloadKey(1), u""), u"E0200804");
  EXPECT_EQ(fake.run_locks, 1);
  EXPECT_TRUE(fake.lock_came_first) << "the run lock was taken after the run had begun";
  EXPECT_EQ(fake.String(kHkcu, u"Keyboard Layout\\Preload", u"1"), u"E0200804");
  // Added to the language profile once the layout is active.
  EXPECT_EQ(fake.profile_calls, std::vector<std::u16string>{u"0804:E0200804 0"});
}

TEST_F(RunSequenceTest, WhatCountsDependsOnTheWindowsVersion) {
  // From Windows 8 (6.2) on, the language profile is the list the system keeps: a profile
  // that cannot be changed is a failure there. Virtualization is turned off from Vista (6.0)
  // on, before the first registry key is opened, and nothing is called on older systems.
  struct Case { int32_t platform; uint32_t major, minor; bool input_dll; bool installed; int virtualization_calls; };
  const Case cases[] = {
      {2, 6, 2, true, true, 1},   {2, 6, 2, false, false, 1}, {2, 6, 1, false, true, 1},
      {2, 6, 0, false, true, 1},  {2, 5, 2, false, true, 0},  {1, 4, 10, false, true, 0},
  };
  for (const Case& c : cases) {
    Reset();
    Ship(u"C:\\tvl");
    fake.platform_id = c.platform;
    fake.major_version = c.major, fake.minor_version = c.minor;
    fake.input_dll_present = c.input_dll;
    const std::string row = std::to_string(c.major) + "." + std::to_string(c.minor) + (c.input_dll ? "" : " no input.dll");
    EXPECT_EQ(Run(), c.installed ? kSuccess : kNotInstalled) << row;
    EXPECT_EQ(fake.profile_calls.size(), 1u) << row;
    EXPECT_EQ(fake.virtualization_calls, c.virtualization_calls) << row;
    EXPECT_EQ(fake.virtualization_came_first, c.virtualization_calls > 0) << row;
  }
}

TEST_F(RunSequenceTest, SixtyFourBitModuleGoesIntoTheNativeSystemDirectory) {
  // On 64-bit Windows each system directory gets the module built for its programs and the
  // code table; without the 64-bit module the message says that only 32-bit programs get it.
  // ARM64 Windows, whose programs load no x64 module, gets what 32-bit Windows gets.
  const std::u16string native = u"C:\\WINDOWS\\Sysnative\\";
  struct Case { bool windows64, module64; std::string ime64; std::u16string message; uint16_t machine = kMachineAmd64; };
  const std::u16string only32 = kSuccess + u"\n此输入法只能在32位程序中使用。";
  const Case cases[] = {
      {true, true, "64-bit module", kSuccess},
      {true, false, "<absent>", only32},
      {false, true, "<absent>", kSuccess},
      {true, true, "<absent>", only32, kMachineArm64},
  };
  for (const Case& c : cases) {
    Reset();
    Ship(u"C:\\tvl");
    fake.native_machine = c.machine;
    if (c.windows64) fake.native_dir = native.substr(0, native.size() - 1);
    if (c.module64) fake.files[u"C:\\tvl\\x64\\tvl1.IME"] = FakeFile{"64-bit module"};
    EXPECT_EQ(Run(), c.message) << c.windows64 << c.module64 << " machine " << c.machine;
    EXPECT_EQ(Installed(u"tvl1.IME"), "module bytes");
    EXPECT_EQ(Installed(u"tvl1.MB"), "table bytes");
    FakeFile* ime64 = fake.File(native + u"tvl1.IME");
    FakeFile* mb64 = fake.File(native + u"tvl1.MB");
    EXPECT_EQ(ime64 ? ime64->bytes : "<absent>", c.ime64);
    EXPECT_EQ(mb64 ? mb64->bytes : "<absent>", c.ime64 == "<absent>" ? "<absent>" : "table bytes");
  }
  // The native copies follow the rules of the others: a copy that fails counts only where the
  // target holds the same bytes.
  for (const char* held : {"older module", "64-bit module"}) {
    Reset();
    Ship(u"C:\\tvl");
    fake.native_dir = native.substr(0, native.size() - 1);
    fake.files[u"C:\\tvl\\x64\\tvl1.IME"] = FakeFile{"64-bit module"};
    fake.files[native + u"tvl1.IME"] = FakeFile{held};
    fake.File(native + u"tvl1.IME")->locked = true;
    EXPECT_EQ(Run(), std::string(held) == "older module" ? kNotInstalled : kSuccess) << held;
  }
}

TEST_F(RunSequenceTest, MissingFilesAreReportedAndNothingIsLoaded) {
  struct Case { bool module, table, hidden_module, system_table; std::u16string message; };
  const Case cases[] = {
      {false, true, false, false, kModuleMissing},
      {true, false, false, false, kTableMissing},
      {false, false, false, false, kModuleMissing + kTableMissing},
      {true, true, true, false, kModuleMissing},
      {true, true, false, true, kTableMissing},
  };
  for (const Case& c : cases) {
    Reset();
    Ship(u"C:\\tvl");
    if (!c.module) fake.files.erase(u"C:\\tvl\\tvl1.IME");
    if (!c.table) fake.files.erase(u"C:\\tvl\\tvl1.MB");
    fake.File(u"C:\\tvl\\tvl1.IME") && (fake.File(u"C:\\tvl\\tvl1.IME")->hidden = c.hidden_module);
    fake.File(u"C:\\tvl\\tvl1.MB") && (fake.File(u"C:\\tvl\\tvl1.MB")->system = c.system_table);
    EXPECT_EQ(Run(), c.message);
    EXPECT_TRUE(fake.loaded_layouts.empty());
    EXPECT_TRUE(fake.profile_calls.empty());
    // The sources are looked at before anything is written.
    EXPECT_EQ(Installed(u"tvl1.IME"), "<absent>");
    EXPECT_EQ(Installed(u"tvl1.MB"), "<absent>");
    EXPECT_TRUE(fake.hive(kHklm).empty() && fake.hive(kHkcu).empty());
    EXPECT_EQ(fake.changes, 0);
  }
}

TEST_F(RunSequenceTest, ActivationThatDoesNotTakeUndoesNothingAndAsksToSignInAgain) {
  // Windows 95 may return another layout for one it has loaded already: its list then holds
  // it. A load that did not take (from Windows 8 on, in a process without the focus) leaves
  // the installation whole: the layout comes at the next sign-in.
  using Load = FakePlatform::LayoutLoad;
  for (auto load : {Load::kReturnsZero, Load::kReturnsOtherLayout, Load::kCannotBeCalled}) {
    for (bool listed : {false, true}) {
      Reset();
      Ship(u"C:\\tvl");
      fake.layout_load = load;
      if (listed) fake.layout_list = {0x04090409u, 0xE0200804u, 0x08040804u};
      const bool counts = listed && load == Load::kReturnsOtherLayout;
      EXPECT_EQ(Run(), counts ? kSuccess : kSuccess + kSignOutLine) << static_cast<int>(load) << (listed ? " listed" : "");
      EXPECT_EQ(fake.profile_calls, std::vector<std::u16string>{u"0804:E0200804 0"});
      EXPECT_EQ(fake.String(kHkcu, PreloadKey(1), u""), u"E0200804");
      EXPECT_EQ(Installed(u"tvl1.IME"), "module bytes");
      EXPECT_TRUE(fake.HasKey(kHklm, kEntry) && fake.HasKey(kHklm, kSetupEntry));
    }
  }
}

TEST_F(RunSequenceTest, UserWithoutRightsGetsTheLayoutAnAdministratorInstalled) {
  // The entry's values as the user's run would write them, or (text, number) one differing.
  for (const char* differing : {"", "DisplayIcon", "EstimatedSize"}) {
    Reset();
    Ship(u"C:\\tvl");
    EXPECT_EQ(Run(), kSuccess);  // the administrator's run
    const std::string name = differing;
    if (name == "DisplayIcon") fake.PutString(kHklm, kEntry, u"DisplayIcon", u"C:\\old.exe,0");
    if (name == "EstimatedSize") fake.PutDword(kHklm, kEntry, u"EstimatedSize", 4);
    // The user's: writes under HKEY_LOCAL_MACHINE, into the system and Windows directories are denied.
    fake.hive(kHkcu).clear();
    fake.messages.clear();
    fake.unwritable_values = {"ime file", "layout file", "layout text", "displayname", "displayversion",
                              "uninstallstring", "quietuninstallstring", "displayicon", "nomodify",
                              "norepair", "estimatedsize", "stubpath", "version", "isinstalled"};
    fake.File(u"C:\\WINDOWS\\system32\\tvl1.IME")->locked = true;
    fake.File(u"C:\\WINDOWS\\system32\\tvl1.MB")->locked = true;
    fake.File(u"C:\\WINDOWS\\tvluninstall.exe")->locked = true;
    EXPECT_EQ(Run(), name.empty() ? kSuccess : kNotInstalled) << differing;
    // A failed run takes out the list entry it added.
    EXPECT_EQ(fake.String(kHkcu, PreloadKey(1), u""), name.empty() ? u"E0200804" : u"<absent>");
    EXPECT_EQ(fake.loaded_layouts.size(), name.empty() ? 2u : 1u);
  }
}

TEST_F(RunSequenceTest, AppsAndFeaturesEntryNamesTheUninstallerCopiedToTheWindowsDirectory) {
  // native_dir: 64-bit Windows, with x64\tvl1.IME shipped; kib: the installed files' size.
  struct Case { int32_t platform_id; bool shipped; const char16_t* windows_dir; const char16_t* native_dir; int kib; };
  const Case cases[] = {{2, true, u"C:\\WINDOWS", u"", 3},  // 12 + 11 + 2030 bytes, rounded up
                        {1, true, u"C:\\WIN98", u"", 3},
                        {2, false, u"C:\\WINDOWS", u"", 0},
                        {2, true, u"", u"", 0},
                        {2, true, u"C:\\WINDOWS", u"C:\\WINDOWS\\Sysnative", 4}};  // and 1500 + 11 more
  for (const Case& c : cases) {
    Reset();
    Ship(u"C:\\tvl");
    if (!c.shipped) fake.files.erase(u"C:\\tvl\\tvluninstall.exe");
    fake.native_dir = c.native_dir;
    fake.files[u"C:\\tvl\\x64\\tvl1.IME"] = FakeFile{std::string(1500, 'x')};
    fake.platform_id = c.platform_id;
    fake.windows_dir = c.windows_dir;
    const std::u16string dir = c.windows_dir;
    const bool entry = c.shipped && !dir.empty();
    EXPECT_EQ(Run(), dir.empty() ? kNotInstalled : kSuccess) << ToAnsi(dir);
    FakeFile* copy = fake.File(dir + u"\\tvluninstall.exe");
    EXPECT_EQ(copy ? copy->bytes : "<absent>", entry ? std::string(2030, 'u') : "<absent>");
    EXPECT_EQ(fake.HasKey(kHklm, kEntry), entry);
    if (!entry) continue;
    const std::u16string exe = dir + u"\\tvluninstall.exe";
    EXPECT_EQ(fake.String(kHklm, kEntry, u"DisplayName"), u"Tavrel输入法");
    EXPECT_EQ(fake.Wide(kHklm, kEntry, u"DisplayName"), c.platform_id == 2);
    EXPECT_EQ(fake.String(kHklm, kEntry, u"UninstallString"), u"\"" + exe + u"\"");
    EXPECT_EQ(fake.String(kHklm, kEntry, u"QuietUninstallString"), u"\"" + exe + u"\" /S");
    EXPECT_EQ(fake.String(kHklm, kEntry, u"DisplayIcon"), exe + u",0");
    EXPECT_EQ(fake.String(kHklm, kEntry, u"DisplayVersion"), u"1.00");
    EXPECT_EQ(fake.Dword(kHklm, kEntry, u"NoModify"), 1);
    EXPECT_EQ(fake.Dword(kHklm, kEntry, u"NoRepair"), 1);
    EXPECT_EQ(fake.Dword(kHklm, kEntry, u"EstimatedSize"), c.kib) << ToAnsi(c.native_dir);
    EXPECT_EQ(fake.Wide(kHklm, kEntry, u"UninstallString"), false);
  }
}

TEST_F(RunSequenceTest, ExitStatusTellsTheOutcomeWithOrWithoutMessage) {
  // A module in use is replaced at once; the earlier one goes at the next restart.
  for (const char* outcome : {"installed", "table missing", "module in use"}) {
    for (bool silent : {false, true}) {
      Reset();
      Ship(u"C:\\tvl");
      const std::string o = outcome;
      if (o == "table missing") fake.files.erase(u"C:\\tvl\\tvl1.MB");
      if (o == "module in use") {
        fake.files[u"C:\\WINDOWS\\system32\\tvl1.IME"] = FakeFile{"older module"};
        fake.File(u"C:\\WINDOWS\\system32\\tvl1.IME")->use = FakeFile::Use::kMapped;
      }
      ExitStatus status = kExitNotRun;
      const std::u16string shown = Run(silent ? &status : nullptr);
      const ExitStatus expected = o == "installed" ? kExitInstalled
                                  : o == "table missing" ? kExitReportedFailure : kExitRestartNeeded;
      if (silent) EXPECT_EQ(status, expected) << outcome;
      else EXPECT_EQ(shown, o == "installed" ? kSuccess : o == "table missing" ? kTableMissing
                                                                                : kSuccess + kRestartLine);
      EXPECT_EQ(Installed(u"tvl1.IME"), o == "table missing" ? "<absent>" : "module bytes") << outcome;
      // The same steps run; only a run with a window activates the layout at their end: no
      // process of a silent run owns the focus.
      EXPECT_EQ(fake.loaded_layouts.size(), o == "table missing" || silent ? 0u : 1u) << outcome;
      EXPECT_EQ(fake.String(kHkcu, PreloadKey(1), u""), o == "table missing" ? u"<absent>" : u"E0200804");
    }
  }
}

TEST(CommandLineTest, SilentOnlyForTheArgumentSlashS) {
  const std::pair<const char*, bool> cases[] = {
      {"setup.exe", false},
      {"setup.exe /S", true},
      {"\"C:\\Program Files\\t\\setup.exe\" /s", true},
      {"\"C:\\Program Files\\t\\setup.exe\"\t/S\t", true},
      {"tvlinst.exe /x /S other", true},
      {"tvlinst.exe /Silent", false},
      {"tvlinst.exe S /", false},
      {"tvlinst.exe -S", false},
      {"\"C:\\a b\\tvlinst.exe\"", false},
  };
  for (const auto& [line, silent] : cases) EXPECT_EQ(AsksForSilentRun(line), silent) << line;
}

TEST_F(RunSequenceTest, UnregisteredLayoutIsReportedNotLoaded) {
  for (int slot = 0; slot < 10; ++slot) OtherImeIn(slot);
  EXPECT_EQ(Run(), kNotInstalled);
  EXPECT_TRUE(fake.loaded_layouts.empty());
}

TEST_F(RunSequenceTest, ProgramAtDriveRootCopiesFromThere) {
  Ship(u"C:\\");
  EXPECT_EQ(Run(), kSuccess);
  EXPECT_EQ(Installed(u"tvl1.IME"), "module bytes");
}

TEST_F(RunSequenceTest, LockedTargetCountsOnlyWhenAlreadyIdentical) {
  fake.files[u"C:\\WINDOWS\\system32\\tvl1.IME"] = FakeFile{"older module"};
  fake.File(u"C:\\WINDOWS\\system32\\tvl1.IME")->locked = true;
  EXPECT_EQ(Run(), kNotInstalled);
  EXPECT_TRUE(fake.loaded_layouts.empty());

  Reset();
  Ship(u"C:\\tvl");
  fake.files[u"C:\\WINDOWS\\system32\\tvl1.IME"] = FakeFile{"module bytes"};
  fake.File(u"C:\\WINDOWS\\system32\\tvl1.IME")->locked = true;
  EXPECT_EQ(Run(), kSuccess);
}

TEST_F(RunSequenceTest, UnusableSystemDirectoryCopiesNothing) {
  for (int result : {0, 300}) {
    Reset();
    Ship(u"C:\\tvl");
    fake.system_dir_result_override = result;
    fake.windows_dir = u"";
    EXPECT_EQ(Run(), kNotInstalled) << result;
    EXPECT_EQ(fake.files.size(), 4u) << "nothing copied anywhere, root included";
  }
}

TEST_F(RunSequenceTest, SystemDirectoryWithChineseNameIsUsedWhole) {
  // Its length comes back in bytes, more than its characters.
  fake.system_dir = "D:\\\xcf\xb5\xcd\xb3";  // D:\系统
  FakeFile directory;
  directory.directory = true;
  fake.files[u"D:\\系统"] = directory;
  EXPECT_EQ(Run(), kSuccess);
  FakeFile* file = fake.File(u"D:\\系统\\tvl1.IME");
  EXPECT_EQ(file ? file->bytes : "<absent>", "module bytes");
}

TEST_F(RunSequenceTest, PresenceTestErrorLetsTheCopyRun) {
  fake.File(u"C:\\tvl\\tvl1.IME")->unreadable = true;
  EXPECT_EQ(Run(), kSuccess);
  EXPECT_EQ(Installed(u"tvl1.IME"), "module bytes");
}

TEST_F(RunSequenceTest, PresenceTestLooksInTheProgramsFolderWhateverTheCurrentDirectory) {
  // A startup script's share, a scheduled task's system directory (where an earlier
  // installation's files must not pass for the shipped ones), a shortcut's "Start in".
  const std::u16string share = u"\\\\server\\share\\tvl", system32 = u"C:\\WINDOWS\\system32";
  struct Case { std::u16string shipped_in, program_dir, current_dir; bool earlier_installation; std::u16string message; };
  const Case cases[] = {
      {share, share, system32, false, kSuccess},
      {share, share, system32, true, kSuccess},
      {share, share, u"D:\\", false, kSuccess},
      {u"C:\\tvl", u"D:\\elsewhere", u"C:\\tvl", false, kModuleMissing + kTableMissing},
      {u"C:\\tvl", u"D:\\elsewhere", system32, true, kModuleMissing + kTableMissing},
  };
  for (const Case& c : cases) {
    Reset();
    Ship(c.shipped_in);
    fake.program_dir = c.program_dir;
    fake.current_dir = c.current_dir;
    if (c.earlier_installation) {
      fake.files[system32 + u"\\tvl1.IME"] = FakeFile{"earlier module"};
      fake.files[system32 + u"\\tvl1.MB"] = FakeFile{"earlier table"};
    }
    EXPECT_EQ(Run(), c.message) << ToAnsi(c.program_dir) << " from " << ToAnsi(c.current_dir);
    EXPECT_EQ(Installed(u"tvl1.IME"), c.message == kSuccess ? "module bytes"
                                      : c.earlier_installation ? "earlier module" : "<absent>");
  }
}

TEST_F(RunSequenceTest, AFailedRunRemovesWhatItCreatedAndKeepsWhatWasThere) {
  for (bool upgrade : {false, true}) {
    for (const char* fault : {"copy", "profile"}) {
      Reset();
      Ship(u"C:\\tvl");
      fake.PutString(kHkcu, PreloadKey(1), u"", u"00000804");
      fake.PutString(kHkcu, u"Keyboard Layout\\Preload", u"1", u"00000804");
      if (upgrade) {
        EXPECT_EQ(Run(), kSuccess);
        fake.files[u"C:\\WINDOWS\\system32\\tvl1.IME"].bytes = "old module";
        fake.messages.clear();
      }
      const std::string hklm = Dump(kHklm), hkcu = Dump(kHkcu);
      fake.copies_fail = *fault == 'c';
      fake.input_dll_present = *fault != 'p';  // Windows 8 on: the profile counts
      EXPECT_EQ(Run(), kNotInstalled) << fault;
      EXPECT_EQ(Dump(kHklm), hklm) << fault << (upgrade ? " upgrade" : "");
      EXPECT_EQ(Dump(kHkcu), hkcu) << fault << (upgrade ? " upgrade" : "");
      // Files created go; an earlier one stays whole, old or new.
      const bool copied = *fault == 'p';
      EXPECT_EQ(Installed(u"tvl1.IME"), !upgrade ? "<absent>" : copied ? "module bytes" : "old module") << fault;
      EXPECT_EQ(Installed(u"tvl1.MB"), upgrade ? "table bytes" : "<absent>") << fault;
      // The four shipped, and after an upgrade the four installed.
      EXPECT_EQ(fake.files.size(), upgrade ? 8u : 4u) << "nothing left over";
    }
  }
}

TEST_F(RunSequenceTest, FilesInUseChangeTogetherAtTheRestartAndTheUninstallerCancelsThat) {
  using Use = FakeFile::Use;
  for (int32_t family : {2, 1}) {
    for (auto [module, table] : {std::pair{Use::kNone, Use::kNone}, {Use::kMapped, Use::kNone},
                                 {Use::kNone, Use::kOpen}, {Use::kOpen, Use::kNone}, {Use::kMapped, Use::kOpen}}) {
      // Then uninstalled; and, once the files are free, installed again before the restart.
      for (int then : {0, 1, 2}) {
        const bool uninstall = then > 0, reinstall = then == 2;
        Reset();
        Ship(u"C:\\tvl");
        fake.platform_id = family;
        fake.files[u"C:\\WINDOWS\\system32\\tvl1.IME"] = FakeFile{"old module", module};
        fake.files[u"C:\\WINDOWS\\system32\\tvl1.MB"] = FakeFile{"old table", table};
        const std::string what = (family == 2 ? "NT " : "9x ") + std::to_string(int(module)) + "/" +
                                 std::to_string(int(table)) + (reinstall ? " reinstalled" : uninstall ? " uninstalled" : "");
        const bool in_use = module != Use::kNone || table != Use::kNone;
        EXPECT_EQ(Run(), in_use ? kSuccess + kRestartLine : kSuccess) << what;
        // NT renames a mapped module aside; an open file, and on 9x any file in use, waits.
        const bool wait = family == 2 ? module == Use::kOpen || table == Use::kOpen
                                      : module != Use::kNone || table != Use::kNone;
        EXPECT_EQ(Installed(u"tvl1.IME"), wait ? "old module" : "module bytes") << what;
        EXPECT_EQ(Installed(u"tvl1.MB"), wait ? "old table" : "table bytes") << what;
        EXPECT_EQ(fake.at_restart.empty(), !in_use) << what;
        if (uninstall) {
          // The uninstaller's copy held where it cannot be renamed aside.
          if (reinstall) fake.File(u"C:\\WINDOWS\\tvluninstall.exe")->use = Use::kOpen;
          FrmUninstall form(fake, fake);
          form.Load();
          EXPECT_FALSE(form.state().RemovalFailed) << what;
          // Until the restart, a file of ours stays: the new one waiting, or the old one aside.
          EXPECT_EQ(form.state().RestartNeeded, in_use) << what;
        }
        if (reinstall) {
          for (auto& [name, file] : fake.files) file.use = Use::kNone;
          fake.messages.clear();
          // A deletion the uninstaller scheduled under a file's name must not take the new file.
          EXPECT_EQ(Run().rfind(kSuccess, 0), 0u) << what;
        }
        const bool gone = uninstall && !reinstall;
        fake.Restart();
        EXPECT_EQ(Installed(u"tvl1.IME"), gone ? "<absent>" : "module bytes") << what;
        EXPECT_EQ(Installed(u"tvl1.MB"), gone ? "<absent>" : "table bytes") << what;
        // The sign-in program's copy stays for the per-user setup entry's removal command.
        EXPECT_EQ(fake.files.size(), gone ? 5u : 8u) << what << ": nothing left over";
        EXPECT_NE(fake.File(u"C:\\WINDOWS\\tvluser.exe"), nullptr) << what;
        EXPECT_EQ(fake.File(u"C:\\WINDOWS\\tvluninstall.exe") == nullptr, gone) << what;
      }
    }
  }
}

TEST_F(RunSequenceTest, TargetHoldingTheNewBytesIsLeftAsItIsAndMakesNothingWait) {
  // Held by a running program (NT: open without delete sharing; 9x: any use). Only a file
  // that differs makes its pair wait for the restart.
  using Use = FakeFile::Use;
  struct Case { int32_t family; const char* module; Use module_use; const char* table; Use table_use;
                Use uninstaller_use; bool restart; };
  const Case cases[] = {
      {2, "module bytes", Use::kOpen, "old table", Use::kNone, Use::kNone, false},
      {2, "old module", Use::kNone, "table bytes", Use::kOpen, Use::kNone, false},
      {1, "module bytes", Use::kMapped, "table bytes", Use::kOpen, Use::kNone, false},
      {2, "module bytes", Use::kNone, "table bytes", Use::kNone, Use::kOpen, false},
      {2, "module bytes", Use::kOpen, "old table", Use::kOpen, Use::kNone, true},  // the table waits
      {1, "old module", Use::kMapped, "table bytes", Use::kOpen, Use::kNone, true},
  };
  for (const Case& c : cases) {
    Reset();
    Ship(u"C:\\tvl");
    fake.platform_id = c.family;
    fake.files[u"C:\\WINDOWS\\system32\\tvl1.IME"] = FakeFile{c.module, c.module_use};
    fake.files[u"C:\\WINDOWS\\system32\\tvl1.MB"] = FakeFile{c.table, c.table_use};
    fake.files[u"C:\\WINDOWS\\tvluninstall.exe"] = FakeFile{std::string(2030, 'u'), c.uninstaller_use};
    const std::string what = std::to_string(c.family) + " " + c.module + "/" + c.table;
    EXPECT_EQ(Run(), c.restart ? kSuccess + kRestartLine : kSuccess) << what;
    // The file that held the new bytes was not touched: still in use, named by no operation.
    for (const auto& [name, file] : fake.files)
      if (file.use != Use::kNone) EXPECT_EQ(fake.PendingAtRestart(ToText(name)), file.bytes.rfind("old", 0) == 0) << what;
    fake.Restart();
    EXPECT_EQ(Installed(u"tvl1.IME"), "module bytes") << what;
    EXPECT_EQ(Installed(u"tvl1.MB"), "table bytes") << what;
    EXPECT_EQ(fake.files.size(), 8u) << what << ": nothing left over";
  }
}

TEST_F(RunSequenceTest, LeftoversAreTakenForWhatTheirNamesSay) {
  // In the system directory, before the copies: a leftover, what tvl1.IME holds (null: none),
  // whether an operation pending at the restart names the leftover. An earlier file renamed
  // aside ("tvl", i for tvl1.IME, a number) goes back where its name is free; a copy, or an
  // older version's aside ("tvl" and hexadecimal digits), is deleted.
  struct Case { const char16_t* leftover; const char* module; bool pending; const char* module_before_copy; };
  const Case cases[] = {
      {u"tvli1.tmp", nullptr, false, "aside"},          {u"TVLI27.TMP", nullptr, false, "aside"},
      {u"tvli1.tmp", "module bytes", false, "module bytes"}, {u"tvl1A.tmp", nullptr, false, "<absent>"},
      {u"tvlE1.tmp", nullptr, false, "<absent>"},       {u"tvli1.tmp", nullptr, true, "<absent>"},
      {u"tvli.tmp", nullptr, false, "<absent>"},        {u"tvlia.tmp", nullptr, false, "<absent>"},
      {u"tvlx1.tmp", nullptr, false, "<absent>"},
  };
  for (const Case& c : cases) {
    Reset();
    Ship(u"C:\\tvl");
    const std::u16string leftover = u"C:\\WINDOWS\\system32\\" + std::u16string(c.leftover);
    fake.files[leftover] = FakeFile{"aside"};
    if (c.module) fake.files[u"C:\\WINDOWS\\system32\\tvl1.IME"] = FakeFile{c.module};
    if (c.pending) fake.at_restart.push_back({leftover, u""});
    fake.copies_fail = true;  // the run stops at its first copy: what the clean-up left shows
    Run();
    EXPECT_EQ(Installed(u"tvl1.IME"), c.module_before_copy) << ToAnsi(c.leftover);
    EXPECT_EQ(fake.File(leftover) != nullptr, c.pending) << ToAnsi(c.leftover);
  }
}

TEST_F(RunSequenceTest, AnAsideTakesTheFirstNumberNoFileAndNoPendingOperationHolds) {
  // A mapped module (NT) is renamed aside and deleted at the restart.
  fake.files[u"C:\\WINDOWS\\system32\\tvl1.IME"] = FakeFile{"old module", FakeFile::Use::kMapped};
  fake.at_restart.push_back({u"C:\\WINDOWS\\system32\\tvli1.tmp", u""});  // deleted already
  fake.files[u"C:\\WINDOWS\\system32\\tvli2.tmp"] = FakeFile{"stays"};
  fake.File(u"C:\\WINDOWS\\system32\\tvli2.tmp")->undeletable = true;
  EXPECT_EQ(Run(), kSuccess + kRestartLine);
  ASSERT_EQ(fake.at_restart.size(), 2u);
  EXPECT_EQ(fake.at_restart[1], (std::pair<std::u16string, std::u16string>{
                                    u"C:\\WINDOWS\\system32\\tvli3.tmp", u""}));
  EXPECT_EQ(fake.File(u"C:\\WINDOWS\\system32\\tvli3.tmp")->bytes, "old module");
}

}  // namespace

namespace {

// The uninstaller's run sequence.

const std::u16string kUninstalled = u"Tavrel输入法卸载成功完成！";
const std::u16string kNothingInstalled = u"Tavrel输入法未安装。";
const std::u16string kNotUninstalled = u"Tavrel输入法未能卸载成功！";
const std::u16string kUninstallRestartLine = u"\n请重新启动计算机以完成卸载。";

class UninstallTest : public RunSequenceTest {
 protected:
  // What an installation finds: another input method in slot 0, the user's lists, and
  // another file in the system directory.
  void SetUp() override {
    RunSequenceTest::SetUp();
    OtherImeIn(0);
    fake.PutString(kHkcu, PreloadKey(1), u"", u"00000804");
    fake.PutString(kHkcu, u"Keyboard Layout\\Preload", u"1", u"00000804");
    fake.files[u"C:\\WINDOWS\\system32\\other.ime"] = FakeFile{"other"};
  }
  // The whole uninstallation: Load, then Activate; returns the one message shown.
  std::u16string Uninstall() {
    fake.messages.clear();
    fake.unloaded = false;
    FrmUninstall form(fake, fake);
    form.Load();
    EXPECT_EQ(form.Outcome(), kExitNotRun) << "nothing reported yet";
    form.Activate();
    EXPECT_EQ(fake.caption, u"Tavrel输入法卸载");
    EXPECT_EQ(fake.open_handle_count(), 0);
    EXPECT_TRUE(fake.unloaded);
    if (fake.messages.size() != 1) return u"<" + ToU16(Text::Number(fake.messages.size())) + u" messages>";
    EXPECT_EQ(fake.messages[0].title, u"Tavrel输入法卸载");
    EXPECT_EQ(fake.messages[0].style, 64);
    const std::u16string& prompt = fake.messages[0].prompt;
    EXPECT_EQ(form.Outcome(), prompt == kNotUninstalled                       ? kExitReportedFailure
                              : prompt == kUninstalled + kUninstallRestartLine ? kExitRestartNeeded
                                                                               : kExitInstalled);
    return fake.messages[0].prompt;
  }
  std::string Files() {
    std::string names;
    for (const auto& [name, file] : fake.files) names += ToAnsi(name) + " ";
    return names;
  }
};

// The round trip's registry and files: the rows of InterruptionTest without an interruption.
TEST_F(UninstallTest, RemovesWhatTheInstallationPutInPlaceAndNothingElse) {
  const std::string hklm = Dump(kHklm);
  EXPECT_EQ(Run(), kSuccess);
  EXPECT_TRUE(fake.HasKey(kHklm, kEntry));
  EXPECT_EQ(Uninstall(), kUninstalled);
  EXPECT_EQ(fake.run_locks, 2) << "the installation's and the removal's";
  EXPECT_EQ(fake.profile_calls, (std::vector<std::u16string>{u"0804:E0210804 0", u"0804:E0210804 1"}));
  // The backdrop under the uninstaller's caption.
  EXPECT_FALSE(fake.prints.empty());
  EXPECT_EQ(fake.prints.back().text, u"Tavrel输入法卸载");
  // Nothing is left for a second run, and the next installation takes slot 1 again. The
  // per-user setup entry stays, turned into the removal every other user's sign-in runs.
  EXPECT_EQ(Uninstall(), kNothingInstalled);
  EXPECT_EQ(fake.String(kHklm, kSetupEntry, u"StubPath"), u"\"C:\\WINDOWS\\tvluser.exe\" /RemoveFromUser E0210804");
  fake.hive(kHklm).erase("software\\microsoft\\active setup\\installed components\\tavrelinputmethod");
  EXPECT_EQ(Dump(kHklm), hklm);
  fake.PutString(kHklm, kSetupEntry, u"Version", u"1,0,0,1");
  fake.messages.clear();
  EXPECT_EQ(Run(), kSuccess);
  EXPECT_EQ(fake.String(kHklm, SlotKey(1), u"Ime File"), u"tvl1.IME");
  Reset();
  SetUp();
  EXPECT_EQ(Uninstall(), kNothingInstalled);
  EXPECT_TRUE(fake.lock_came_first) << "the run lock is taken before anything else";
}

TEST_F(UninstallTest, WhatCannotBeRemovedIsReportedAndTheRestIsRemoved) {
  // The entry, and the uninstaller's copy it names, stay for a later attempt.
  for (const char* fault : {"slot", "file", "system directory", "preload value", "entry"}) {
    Reset();
    SetUp();
    EXPECT_EQ(Run(), kSuccess) << fault;
    const std::string f = fault;
    if (f == "slot") fake.undeletable_keys.insert("system\\currentcontrolset\\control\\keyboard layouts\\e0210804");
    if (f == "file") fake.File(u"C:\\WINDOWS\\system32\\tvl1.IME")->undeletable = true;
    if (f == "system directory") fake.system_dir_result_override = 0;
    if (f == "preload value") fake.undeletable_values.insert("2");
    if (f == "entry")
      fake.undeletable_keys.insert("software\\microsoft\\windows\\currentversion\\uninstall\\tavrelinputmethod");
    EXPECT_EQ(Uninstall(), kNotUninstalled) << fault;
    EXPECT_TRUE(fake.HasKey(kHklm, kEntry)) << fault;
    EXPECT_NE(fake.File(u"C:\\WINDOWS\\tvluninstall.exe"), nullptr) << fault;
    EXPECT_EQ(fake.HasKey(kHklm, SlotKey(1)), f == "slot") << fault;
    EXPECT_EQ(fake.String(kHkcu, PreloadKey(1), u""), u"00000804") << fault;
    EXPECT_FALSE(fake.HasKey(kHkcu, PreloadKey(2))) << fault;
    EXPECT_EQ(fake.File(u"C:\\WINDOWS\\system32\\tvl1.MB") != nullptr, f == "system directory") << fault;
  }
}

TEST_F(UninstallTest, RemovesTheNativeCopiesOn64BitWindows) {
  fake.native_dir = u"C:\\WINDOWS\\Sysnative";
  fake.files[u"C:\\tvl\\x64\\tvl1.IME"] = FakeFile{"64-bit module"};
  const std::string files = Files();
  EXPECT_EQ(Run(), kSuccess);
  EXPECT_NE(fake.File(u"C:\\WINDOWS\\Sysnative\\tvl1.MB"), nullptr);
  fake.File(u"C:\\WINDOWS\\Sysnative\\tvl1.IME")->use = FakeFile::Use::kMapped;
  EXPECT_EQ(Uninstall(), kUninstalled + kUninstallRestartLine);
  ASSERT_EQ(fake.at_restart.size(), 1u);
  // Stored as the native process reads it at the restart.
  EXPECT_EQ(fake.at_restart[0].first.substr(0, 23), u"C:\\WINDOWS\\system32\\tvl");
  EXPECT_EQ(fake.File(u"C:\\WINDOWS\\Sysnative\\tvl1.IME"), nullptr) << "its name is free at once";
  fake.Restart();
  EXPECT_TRUE(fake.files.erase(u"C:\\WINDOWS\\tvluser.exe")) << "kept for the removal at sign-in";
  EXPECT_EQ(Files(), files);
  // A native copy that stays is a failure; the rest is removed all the same.
  fake.messages.clear();
  EXPECT_EQ(Run(), kSuccess);
  fake.File(u"C:\\WINDOWS\\Sysnative\\tvl1.MB")->undeletable = true;
  EXPECT_EQ(Uninstall(), kNotUninstalled);
  EXPECT_EQ(fake.File(u"C:\\WINDOWS\\Sysnative\\tvl1.IME"), nullptr);
  EXPECT_EQ(fake.File(u"C:\\WINDOWS\\system32\\tvl1.IME"), nullptr);
}

TEST_F(UninstallTest, FileInUseAsksForTheRestartButTheRunningUninstallerDoesNot) {
  EXPECT_EQ(Run(), kSuccess);
  fake.File(u"C:\\WINDOWS\\system32\\tvl1.IME")->use = FakeFile::Use::kMapped;
  EXPECT_EQ(Uninstall(), kUninstalled + kUninstallRestartLine);
  EXPECT_EQ(fake.File(u"C:\\WINDOWS\\system32\\tvl1.IME"), nullptr) << "its name is free at once";
  fake.Restart();
  // The uninstaller's own copy, running, goes at the restart too where no per-user setup
  // entry needs it (an installation made before there was one): that alone needs none.
  fake.messages.clear();
  EXPECT_EQ(Run(), kSuccess);
  fake.hive(kHklm).erase("software\\microsoft\\active setup\\installed components\\tavrelinputmethod");
  fake.File(u"C:\\WINDOWS\\tvluninstall.exe")->use = FakeFile::Use::kMapped;
  EXPECT_EQ(Uninstall(), kUninstalled);
  EXPECT_EQ(fake.File(u"C:\\WINDOWS\\tvluninstall.exe"), nullptr);
  ASSERT_EQ(fake.at_restart.size(), 1u);
  EXPECT_EQ(fake.at_restart[0].first.substr(0, 14), u"C:\\WINDOWS\\tvl");
  EXPECT_FALSE(fake.HasKey(kHklm, kEntry));
}

}  // namespace

namespace {

// The two parts of an installation: the machine's for every user, the user's for the account
// the program runs as, and every other user's at sign-in through the per-user setup entry.

const std::u16string kCounterpart64 =
    u"Software\\Wow6432Node\\Microsoft\\Active Setup\\Installed Components\\TavrelInputMethod";

class PerUserSetupTest : public UninstallTest {
 protected:
  // What Windows does at a user's sign-in: runs the entry's command where the user's
  // counterpart is missing or older, then writes the entry's Version there.
  // A Version's comma-separated numbers.
  static std::vector<long> Numbers(const std::u16string& version) {
    std::vector<long> numbers(1, 0);
    for (char16_t c : version) {
      if (c == u',') numbers.push_back(0);
      else numbers.back() = 10 * numbers.back() + (c - u'0');
    }
    return numbers;
  }
  // As Windows does at sign-in: the command runs where the user's Version is missing, or
  // lower than the entry's, compared number by number.
  ExitStatus SignIn() {
    const std::u16string version = fake.String(kHklm, kSetupEntry, u"Version");
    const std::u16string users = fake.String(kHkcu, kSetupEntry, u"Version");
    if (users != u"<absent>" && !(Numbers(users) < Numbers(version))) return kExitNotRun;
    uint32_t slots = 0;
    const SignInCommand command = AsksForSignInCommand(ToText(fake.String(kHklm, kSetupEntry, u"StubPath")), &slots);
    EXPECT_NE(command, SignInCommand::kNone);
    const ExitStatus status = RunSignInCommand(fake, fake, command, slots);
    EXPECT_EQ(fake.open_handle_count(), 0);
    fake.PutString(kHkcu, kSetupEntry, u"Version", version);
    return status;
  }
  // A first user installs (their part is then done), a second gets theirs at sign-in, and the
  // first uninstalls. *first and *second: each user's part of the registry before the
  // uninstallation.
  void InstallForTwoUsersThenUninstall(FakePlatform::Hive* first, FakePlatform::Hive* second) {
    const FakePlatform::Hive other_user = fake.hive(kHkcu);
    EXPECT_EQ(Run(), kSuccess);
    EXPECT_EQ(fake.String(kHkcu, kSetupEntry, u"Version"), u"1,0,0,0");
    EXPECT_EQ(SignIn(), kExitNotRun);
    *first = fake.hive(kHkcu);
    SwitchUser(other_user);
    EXPECT_EQ(SignIn(), kExitInstalled);
    *second = fake.hive(kHkcu);
    SwitchUser(*first);
    EXPECT_EQ(Uninstall(), kUninstalled);
  }
  // Another user signs in: their own part of the registry, as it was before the installation.
  void SwitchUser(FakePlatform::Hive user) {
    fake.hive(kHkcu) = std::move(user);
    fake.profile.clear();
  }
  // The entry's default value, StubPath, Version and IsInstalled.
  std::u16string Entry() {
    return fake.String(kHklm, kSetupEntry, u"") + u" | " + fake.String(kHklm, kSetupEntry, u"StubPath") + u" | " +
           fake.String(kHklm, kSetupEntry, u"Version") + u" | " +
           ToU16(Text::Number(static_cast<long>(fake.Dword(kHklm, kSetupEntry, u"IsInstalled"))));
  }
};

TEST_F(PerUserSetupTest, SystemAccountRunDoesTheMachinesPartAndEachUserGetsTheirsAtSignIn) {
  const FakePlatform::Hive user = fake.hive(kHkcu);
  for (bool silent : {true, false}) {
    Reset();
    SetUp();
    fake.system_account = true;
    ExitStatus status = kExitNotRun;
    const std::u16string shown = Run(silent ? &status : nullptr);
    if (silent) EXPECT_EQ(status, kExitInstalled);
    else EXPECT_EQ(shown, kSuccess) << "no line asking to sign in again: nothing was to be activated";
    // The system account's list and profile are left alone; nothing is activated.
    EXPECT_EQ(fake.hive(kHkcu), user);
    EXPECT_TRUE(fake.profile_calls.empty() && fake.loaded_layouts.empty());
    EXPECT_EQ(fake.String(kHklm, SlotKey(1), u"Ime File"), u"tvl1.IME");
    EXPECT_EQ(Entry(), u"Tavrel输入法 | \"C:\\WINDOWS\\tvluser.exe\" /AddToUser E0210804 | 1,0,0,0 | 1");
    EXPECT_TRUE(fake.Wide(kHklm, kSetupEntry, u""));
    // A user signs in: their part only, nothing of the machine's.
    fake.system_account = false;
    const std::string hklm = Dump(kHklm);
    const size_t files = fake.files.size();
    const long changes = fake.changes;
    EXPECT_EQ(SignIn(), kExitInstalled);
    EXPECT_GT(fake.changes, changes);
    EXPECT_EQ(Dump(kHklm), hklm);
    EXPECT_EQ(fake.files.size(), files);
    EXPECT_EQ(fake.String(kHkcu, PreloadKey(2), u""), u"E0210804");
    EXPECT_EQ(fake.String(kHkcu, u"Keyboard Layout\\Preload", u"2"), u"E0210804");
    EXPECT_EQ(fake.profile, std::set<std::u16string>{u"0804:E0210804"});
    EXPECT_EQ(fake.messages.size(), silent ? 0u : 1u) << "the sign-in command shows nothing";
    EXPECT_TRUE(fake.loaded_layouts.empty());
    EXPECT_EQ(SignIn(), kExitNotRun) << "once for each user";
  }
}

TEST_F(PerUserSetupTest, UninstallingTurnsTheEntryIntoARemovalAndReinstallingTurnsItBack) {
  FakePlatform::Hive first_user, second_user;
  InstallForTwoUsersThenUninstall(&first_user, &second_user);
  // The entry now removes every other user's part, and the first user's counterpart is
  // brought up to it.
  EXPECT_EQ(Entry(), u"Tavrel输入法 | \"C:\\WINDOWS\\tvluser.exe\" /RemoveFromUser E0210804 | 1,0,0,1 | 1");
  EXPECT_EQ(SignIn(), kExitNotRun);
  EXPECT_NE(fake.File(u"C:\\WINDOWS\\tvluser.exe"), nullptr) << "the removal's command runs it";
  EXPECT_EQ(fake.File(u"C:\\WINDOWS\\tvluninstall.exe"), nullptr);
  EXPECT_EQ(Uninstall(), kNothingInstalled);
  EXPECT_EQ(fake.String(kHklm, kSetupEntry, u"Version"), u"1,0,0,1") << "a second removal raises nothing";
  SwitchUser(second_user);
  EXPECT_EQ(SignIn(), kExitInstalled);
  EXPECT_EQ(fake.String(kHkcu, PreloadKey(1), u""), u"00000804");
  EXPECT_FALSE(fake.HasKey(kHkcu, PreloadKey(2)));
  EXPECT_EQ(fake.String(kHkcu, u"Keyboard Layout\\Preload", u"2"), u"<absent>");
  EXPECT_EQ(fake.profile_calls.back(), u"0804:E0210804 1");
  // Installed again, by the second user: the entry installs again, for the first user too.
  fake.messages.clear();
  EXPECT_EQ(Run(), kSuccess);
  EXPECT_EQ(Entry(), u"Tavrel输入法 | \"C:\\WINDOWS\\tvluser.exe\" /AddToUser E0210804 | 1,0,0,2 | 1");
  SwitchUser(first_user);
  EXPECT_EQ(SignIn(), kExitInstalled);
  EXPECT_EQ(fake.String(kHkcu, PreloadKey(2), u""), u"E0210804");
  // An upgrade to the same release over a whole installation changes nothing for users; an
  // earlier release's entry is raised.
  fake.PutString(kHklm, kSetupEntry, u"Version", u"0,9,0,2");
  fake.messages.clear();
  EXPECT_EQ(Run(), kSuccess);
  EXPECT_EQ(fake.String(kHklm, kSetupEntry, u"Version"), u"1,0,0,2");
}

TEST_F(PerUserSetupTest, RemovalAtSignInLeavesTheEntriesOfASlotAnotherInputMethodTookSince) {
  FakePlatform::Hive first_user, second_user;
  InstallForTwoUsersThenUninstall(&first_user, &second_user);
  // The removal stays on the machine; meanwhile another input method takes the freed slot.
  fake.PutString(kHklm, SlotKey(1), u"Ime File", u"other.ime");
  SwitchUser(second_user);
  EXPECT_EQ(SignIn(), kExitInstalled);
  EXPECT_EQ(fake.String(kHkcu, PreloadKey(2), u""), u"E0210804");
  EXPECT_EQ(fake.String(kHkcu, u"Keyboard Layout\\Preload", u"2"), u"E0210804");
}

TEST_F(PerUserSetupTest, SystemAccountRunThatCannotWriteTheEntryFails) {
  // Without the sign-in program no user would ever get the input method.
  fake.system_account = true;
  fake.files.erase(u"C:\\tvl\\tvluser.exe");
  ExitStatus status = kExitNotRun;
  Run(&status);
  EXPECT_EQ(status, kExitReportedFailure);
  EXPECT_FALSE(fake.HasKey(kHklm, SlotKey(1)));
  EXPECT_FALSE(fake.HasKey(kHklm, kSetupEntry));
  EXPECT_EQ(fake.File(u"C:\\WINDOWS\\system32\\tvl1.IME"), nullptr);
}

TEST_F(PerUserSetupTest, SignInCommandWritesOnlyTheUsersPartAndOnlyForASlotOfOurs) {
  // The counterpart goes where Windows looks for it: below Wow6432Node on 64-bit Windows.
  for (bool windows64 : {false, true}) {
    Reset();
    SetUp();
    if (windows64) fake.native_dir = u"C:\\WINDOWS\\Sysnative", fake.files[u"C:\\tvl\\x64\\tvl1.IME"] = FakeFile{"64"};
    EXPECT_EQ(Run(), kSuccess);
    EXPECT_EQ(fake.String(kHkcu, windows64 ? kCounterpart64 : kSetupEntry, u"Version"), u"1,0,0,0");
    EXPECT_EQ(fake.HasKey(kHkcu, kSetupEntry), !windows64);
  }
  // A slot that is not ours (another input method's, or none) is never added to a list.
  const std::string hkcu = Dump(kHkcu);
  EXPECT_EQ(RunSignInCommand(fake, fake, SignInCommand::kAddToUser, 1u << 0), kExitInstalled);
  EXPECT_EQ(RunSignInCommand(fake, fake, SignInCommand::kAddToUser, 1u << 5), kExitInstalled);
  EXPECT_EQ(Dump(kHkcu), hkcu);
  // A write that fails is the exit status 1.
  fake.hive(kHkcu).clear();
  fake.uncreatable_keys.insert("keyboard layout\\preload\\1");
  EXPECT_EQ(RunSignInCommand(fake, fake, SignInCommand::kAddToUser, 1u << 1), kExitReportedFailure);
  fake.uncreatable_keys.clear();
  EXPECT_EQ(RunSignInCommand(fake, fake, SignInCommand::kAddToUser, 1u << 1), kExitInstalled);
  fake.undeletable_keys.insert("keyboard layout\\preload\\1");
  EXPECT_EQ(RunSignInCommand(fake, fake, SignInCommand::kRemoveFromUser, 1u << 1), kExitReportedFailure);
  EXPECT_EQ(fake.run_locks, 6) << "under the programs' lock";
}

TEST_F(PerUserSetupTest, AFailedRunLeavesTheEntryAsItWas) {
  // Windows 8 on: a profile that cannot be changed fails the run, after the entry is written.
  EXPECT_EQ(Run(), kSuccess);
  EXPECT_EQ(Uninstall(), kUninstalled);
  fake.input_dll_present = false;
  // Turned back from a removal by the failed run: a removal again, raised once more, so that
  // a user whose sign-in ran the installing command meanwhile has the layout removed again.
  fake.messages.clear();
  EXPECT_EQ(Run(), kNotInstalled);
  EXPECT_EQ(Entry(), u"Tavrel输入法 | \"C:\\WINDOWS\\tvluser.exe\" /RemoveFromUser E0210804 | 1,0,0,3 | 1");
  // Created by the failed run: deleted.
  fake.hive(kHklm).erase("software\\microsoft\\active setup\\installed components\\tavrelinputmethod");
  fake.messages.clear();
  EXPECT_EQ(Run(), kNotInstalled);
  EXPECT_FALSE(fake.HasKey(kHklm, kSetupEntry));
}

TEST(CommandLineTest, SignInCommandAndTheLayoutsItNames) {
  struct Case { const char* line; SignInCommand command; uint32_t slots; };
  const Case cases[] = {
      {"tvluninstall.exe", SignInCommand::kNone, 0},
      {"tvluninstall.exe /S E0210804", SignInCommand::kNone, 0},
      {"\"C:\\WINDOWS\\tvluser.exe\" /AddToUser E0210804", SignInCommand::kAddToUser, 1u << 1},
      {"\"C:\\a b\\tvluninstall.exe\"\t/addtouser\te0200804", SignInCommand::kAddToUser, 1u << 0},
      {"tvluninstall.exe /RemoveFromUser E0200804 E0290804 /S", SignInCommand::kRemoveFromUser, 1u << 0 | 1u << 9},
      {"tvluninstall.exe /RemoveFromUser E0200409 E02A0804 E020080 00000804", SignInCommand::kRemoveFromUser, 0},
      {"tvluninstall.exe /AddToUserX E0200804", SignInCommand::kNone, 0},
      {"C:\\/AddToUser\\tvluninstall.exe E0200804", SignInCommand::kNone, 0},
  };
  for (const Case& c : cases) {
    uint32_t slots = 99;
    EXPECT_EQ(AsksForSignInCommand(Text(c.line), &slots), c.command) << c.line;
    EXPECT_EQ(slots, c.slots) << c.line;
  }
  // What the per-user setup entry writes reads back as it was meant.
  for (SignInCommand command : {SignInCommand::kAddToUser, SignInCommand::kRemoveFromUser}) {
    uint32_t slots = 0;
    const Text line = Text("x.exe").Append(SignInArguments(command, 1u << 3 | 1u << 7));
    EXPECT_EQ(AsksForSignInCommand(line, &slots), command) << ToAnsi(ToU16(line));
    EXPECT_EQ(slots, 1u << 3 | 1u << 7);
  }
}

}  // namespace
