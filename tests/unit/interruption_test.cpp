// Both programs ended before each of their changing calls in turn, from a table of starting
// machines, then run again: the rerun must give what an uninterrupted run gives.
#include <algorithm>
#include <cstdio>

#include "installer_test.h"
#include "window/frm_setup.h"
#include "window/frm_uninstall.h"
#include "window/user_part.h"

namespace {

const std::u16string kSystem = u"C:\\WINDOWS\\system32\\";
const std::u16string kValues = u"Keyboard Layout\\Preload";
const std::u16string kSetupEntry = u"Software\\Microsoft\\Active Setup\\Installed Components\\TavrelInputMethod";
using Use = FakeFile::Use;

// A starting machine. Lists hold both forms alike (u"-": no entry at that number).
struct Start {
  const char* name;
  int32_t platform_id;
  std::vector<std::u16string> slots;  // "Ime File" of slot n; u"-" none, u"" a key without values
  std::vector<std::u16string> list;
  bool installed = false;  // earlier files in the system directory
  Use module_use = Use::kNone, table_use = Use::kNone;
  bool wow64 = false;  // 64-bit Windows, with the 64-bit module shipped
  bool system_account = false;  // the programs run as the system account, as deployment tools run them
};

const Start kStarts[] = {
    {"fresh NT", 2, {}, {u"00000804"}},
    {"fresh 9x", 1, {}, {u"00000804"}},
    {"upgrade NT", 2, {u"tvl1.IME"}, {u"00000804", u"E0200804"}, true},
    {"upgrade NT, module mapped", 2, {u"tvl1.IME"}, {u"E0200804"}, true, Use::kMapped},
    {"upgrade NT, both in use", 2, {u"tvl1.IME"}, {u"E0200804"}, true, Use::kMapped, Use::kOpen},
    {"upgrade 9x, table open", 1, {u"tvl1.IME"}, {u"E0200804", u"00000409"}, true, Use::kNone, Use::kOpen},
    {"nine slots taken", 2, {u"a.ime", u"b.ime", u"c.ime", u"d.ime", u"e.ime", u"f.ime", u"g.ime", u"h.ime", u"i.ime"},
     {u"00000804"}},
    {"all slots taken", 2,
     {u"a.ime", u"b.ime", u"c.ime", u"d.ime", u"e.ime", u"f.ime", u"g.ime", u"h.ime", u"i.ime", u"j.ime"},
     {u"00000804"}},
    {"gaps, our entry first", 2, {u"-", u"tvl1.IME"}, {u"E0210804", u"00000804", u"-", u"00000409"}, true},
    {"lower case, our entry in the middle", 1, {u"a.ime", u"TVL1.ime"}, {u"00000804", u"e0210804", u"00000409"}, true},
    {"our entry last, lower case", 2, {u"tvl1.IME"}, {u"00000804", u"00000409", u"e0200804"}, true},
    {"two slots of ours", 2, {u"tvl1.IME", u"a.ime", u"tvl1.ime"}, {u"E0220804", u"00000804", u"E0200804"}, true},
    {"empty slot key", 2, {u"a.ime", u""}, {u"00000804"}},
    {"64-bit upgrade, module mapped", 2, {u"tvl1.IME"}, {u"E0200804"}, true, Use::kMapped, Use::kNone, true},
    {"64-bit upgrade, both in use", 2, {u"tvl1.IME"}, {u"E0200804"}, true, Use::kMapped, Use::kOpen, true},
    {"fresh NT, system account", 2, {}, {u"00000804"}, false, Use::kNone, Use::kNone, false, true},
    {"upgrade NT, system account", 2, {u"a.ime", u"tvl1.IME"}, {u"E0210804"}, true, Use::kNone, Use::kNone, false, true},
};

// The restart operations an uninterrupted installation on 64-bit Windows leaves, as stored:
// "<file moved> -> <its target>" ("" for a deletion), temporary names as "tvl#.tmp". The
// native process that carries them out reads "system32" as the native directory.
const struct {
  const char* start;
  std::vector<std::string> stored;
} kStoredOn64BitWindows[] = {
    // The old modules, renamed aside, are deleted at the restart.
    {"64-bit upgrade, module mapped", {"C:\\WINDOWS\\SysWOW64\\tvl#.tmp -> ", "C:\\WINDOWS\\system32\\tvl#.tmp -> "}},
    // Each pair waits whole beside the files in use.
    {"64-bit upgrade, both in use",
     {"C:\\WINDOWS\\SysWOW64\\tvl#.tmp -> C:\\WINDOWS\\SysWOW64\\tvl1.IME",
      "C:\\WINDOWS\\SysWOW64\\tvl#.tmp -> C:\\WINDOWS\\SysWOW64\\tvl1.MB",
      "C:\\WINDOWS\\system32\\tvl#.tmp -> C:\\WINDOWS\\system32\\tvl1.IME",
      "C:\\WINDOWS\\system32\\tvl#.tmp -> C:\\WINDOWS\\system32\\tvl1.MB"}},
};

// What a run leaves, after the restart it may wait for.
struct Outcome {
  std::string hklm, hkcu, files, profile, message;
  int exit;
  bool operator==(const Outcome& o) const {
    return hklm == o.hklm && hkcu == o.hkcu && files == o.files && profile == o.profile && message == o.message &&
           exit == o.exit;
  }
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  return out << "HKLM\n" << o.hklm << "HKCU\n" << o.hkcu << "files: " << o.files << "\nprofile: " << o.profile
             << "\nmessage: " << o.message << " exit " << o.exit;
}

class InterruptionTest : public InstallerTest {
 protected:
  FakePlatform Machine(const Start& s) {
    FakePlatform m;
    m.platform_id = s.platform_id;
    m.system_account = s.system_account;
    m.files[u"C:\\tvl\\tvl1.IME"] = FakeFile{"module bytes"};
    m.files[u"C:\\tvl\\tvl1.MB"] = FakeFile{"table bytes"};
    m.files[u"C:\\tvl\\tvluninstall.exe"] = FakeFile{"uninstaller"};
    m.files[u"C:\\tvl\\tvluser.exe"] = FakeFile{"sign-in program"};
    if (s.wow64) {
      m.native_dir = u"C:\\WINDOWS\\Sysnative";
      m.files[u"C:\\tvl\\x64\\tvl1.IME"] = FakeFile{"64-bit module"};
    }
    m.files[kSystem + u"other.ime"] = FakeFile{"other"};
    for (size_t n = 0; n < s.slots.size(); ++n) {
      if (s.slots[n] == u"-") continue;
      m.PutKey(kHklm, SlotKey(static_cast<int>(n)));
      if (!s.slots[n].empty()) {
        m.PutString(kHklm, SlotKey(static_cast<int>(n)), u"Ime File", s.slots[n]);
        m.PutString(kHklm, SlotKey(static_cast<int>(n)), u"Layout File", u"kbdus.dll");
      }
    }
    for (size_t n = 0; n < s.list.size(); ++n) {
      if (s.list[n] == u"-") continue;
      m.PutString(kHkcu, PreloadKey(static_cast<int>(n) + 1), u"", s.list[n]);
      if (s.platform_id == 2) m.PutString(kHkcu, kValues, ToU16(Text::Number(static_cast<long>(n) + 1)), s.list[n]);
    }
    for (const std::u16string& dir : {kSystem, m.native_dir + u"\\"}) {
      if (!s.installed || dir == u"\\") continue;
      m.files[dir + u"tvl1.IME"] = FakeFile{"old module", s.module_use};
      m.files[dir + u"tvl1.MB"] = FakeFile{"old table", s.table_use};
    }
    return m;
  }

  // One run of a program (or, given its command line, of the per-user setup entry's command at
  // a user's sign-in); ProcessEnded ends it where the fake was told to.
  static int RunProgram(FakePlatform& m, bool uninstall, const std::u16string& sign_in = u"") {
    m.messages.clear();
    try {
      uint32_t slots = 0;
      const SignInCommand command = AsksForSignInCommand(ToText(sign_in), &slots);
      if (command != SignInCommand::kNone) return RunSignInCommand(m, m, command, slots);
      if (uninstall) {
        FrmUninstall form(m, m);
        form.Load();
        form.Activate();
        return form.Outcome();
      }
      FrmSetup form(m, m);
      form.Load();
      form.Activate();
      return form.Outcome();
    } catch (const ProcessEnded&) {
      m.EndProcess();
      return -1;
    }
  }

  Outcome OutcomeOf(FakePlatform m, int exit) {
    EXPECT_EQ(m.open_handle_count(), 0);
    Outcome o{"", "", "", "", m.messages.size() == 1 ? ToAnsi(m.messages[0].prompt) : "<no message>", exit};
    // No run deletes a file that an operation pending at the restart still needs.
    // On 64-bit Windows, a name stored for the wrong directory reaches no file of the run's.
    for (const auto& [from, to] : m.at_restart) EXPECT_NE(m.FileAtRestart(from), nullptr) << ToAnsi(from);
    m.Restart();
    std::swap(fake, m);
    o.hklm = Dump(kHklm);
    std::swap(fake, m);
    // The lists as Windows reads them; a run ended while it moved entries down may leave one twice.
    for (bool named : {false, true})
      for (const std::string& id : Others(m, named, "")) o.hkcu += id + (named ? " " : "; ");
    for (const auto& [path, key] : m.hive(kHkcu))
      if (path.rfind("keyboard layout\\preload", 0) != 0) o.hkcu += "\n" + path;
    for (const auto& [name, file] : m.files) o.files += ToAnsi(name) + "=" + file.bytes + " ";
    for (const auto& entry : m.profile) o.profile += ToAnsi(entry) + " ";
    return o;
  }

  // The entries of one form of a list, numbers 1 to 20, adjacent repeats as one: a run
  // ended while it moved entries down may leave one twice.
  static std::vector<std::string> Others(FakePlatform& m, bool named, const std::string& own_slots) {
    std::vector<std::string> list;
    for (int n = 1; n <= 20; ++n) {
      const std::u16string number = ToU16(Text::Number(n));
      const std::string bytes = named ? m.Bytes(kHkcu, kValues, number) : m.Bytes(kHkcu, PreloadKey(n), u"");
      if (bytes == "<absent>") continue;
      std::string id = bytes.substr(0, bytes.find('\0'));
      for (char& c : id) c = static_cast<char>(toupper(c));
      if (id.size() == 8 && id.rfind("E02", 0) == 0 && own_slots.find(id[3]) != std::string::npos) continue;
      if (list.empty() || list.back() != id) list.push_back(id);
    }
    return list;
  }

  static std::string OwnSlots(FakePlatform& m) {
    std::string own;
    for (int n = 0; n < 10; ++n) {
      std::string ime = m.Bytes(kHklm, SlotKey(n), u"Ime File");
      for (char& c : ime) c = static_cast<char>(tolower(c));
      if (ime == std::string("tvl1.ime") + '\0') own += static_cast<char>('0' + n);
    }
    return own;
  }

  // What any moment of a run may show: the slots of others as they were, the list entries
  // of others in their order, and no list entry naming a layout slot that is not ours (except
  // entries the removal at sign-in is there to take out, the slots having gone before).
  void ExpectNothingOfOthersTouched(FakePlatform& before, FakePlatform& m, const std::string& where,
                                    bool entries_of_removed_slots = false) {
    for (int n = 0; n < 10; ++n) {
      const std::string ime = before.Bytes(kHklm, SlotKey(n), u"Ime File");
      if (ime.empty() || ime == "<absent>" || OwnSlots(before).find(static_cast<char>('0' + n)) != std::string::npos)
        continue;
      EXPECT_EQ(m.Bytes(kHklm, SlotKey(n), u"Ime File"), ime) << where << " slot " << n;
    }
    const std::string own = OwnSlots(m);
    for (bool named : {false, true}) {
      EXPECT_EQ(Others(m, named, "0123456789"), Others(before, named, "0123456789")) << where;
      // Every identifier E02n0804 left in a list names a slot of ours.
      if (!entries_of_removed_slots) EXPECT_EQ(Others(m, named, own), Others(m, named, "0123456789")) << where << (named ? " values" : " subkeys");
    }
  }

  // Ends the program before each of its changing calls in turn (and, with power_cut, lets
  // each part of the registry fall back to any moment since its last flush), checks what is
  // left, runs it again and compares with an uninterrupted run. Returns the number of points.
  long EndEverywhere(FakePlatform start, bool uninstall, const std::string& what, bool power_cut,
                     const std::u16string& sign_in = u"") {
    start.changes = 0;
    start.flushed[0] = start.flushed[1] = 0;
    FakePlatform whole = start;
    const int exit = RunProgram(whole, uninstall, sign_in);
    const Outcome expected = OutcomeOf(whole, exit);
    EXPECT_EQ(expected.files.find(".tmp"), std::string::npos) << what << ": a leftover of the uninterrupted run";
    for (long n = 0; n < whole.changes; ++n) {
      FakePlatform ended = start;
      ended.end_before = n;
      ended.keep_history = power_cut;
      EXPECT_EQ(RunProgram(ended, uninstall, sign_in), -1) << what << " ended before call " << n;
      std::vector<std::pair<long, long>> moments = {{n, n}};
      // Each earlier state of a part once (a call that changed the other part adds none).
      for (long m = power_cut ? ended.flushed[0] : n; m < n; ++m)
        if (!(ended.history[0][m] == ended.history[0][m + 1])) moments.push_back({m, n});
      for (long m = power_cut ? ended.flushed[1] : n; m < n; ++m)
        if (!(ended.history[1][m] == ended.history[1][m + 1])) moments.push_back({n, m});
      for (const auto& [machine, user] : moments) {
        FakePlatform cut = ended;
        if (power_cut) {
          cut.hive(kHklm) = ended.history[0][machine];
          cut.hive(kHkcu) = ended.history[1][user];
        }
        cut.end_before = -1;
        cut.keep_history = false;
        const std::string where = what + " ended before call " + std::to_string(n) + " (registry as of " +
                                  std::to_string(machine) + "/" + std::to_string(user) + ")";
        FakePlatform original = start;
        // The system account's lists are left alone: the uninstaller run as it keeps them.
        ExpectNothingOfOthersTouched(original, cut, where, sign_in.find(u"/RemoveFromUser") != std::u16string::npos ||
                                                               (uninstall && start.system_account));
        const int rerun = RunProgram(cut, uninstall, sign_in);
        EXPECT_EQ(OutcomeOf(cut, rerun), expected) << where;
      }
    }
    return whole.changes;
  }
};

TEST_F(InterruptionTest, TheNextRunFinishesWhatAnEndedRunBegan) {
  for (const Start& s : kStarts) {
    FakePlatform machine = Machine(s);
    const long install_points = EndEverywhere(machine, false, std::string(s.name) + ", installer", false);
    RunProgram(machine, false);
    machine.EndProcess();
    // A second user, whose lists are as the first user's were, signs in: the per-user setup
    // entry's command adds their part; after the uninstallation, it removes it.
    FakePlatform second_user = machine;
    second_user.hive(kHkcu) = Machine(s).hive(kHkcu);
    second_user.system_account = false;
    const std::u16string add = machine.String(kHklm, kSetupEntry, u"StubPath");
    long sign_in_points = EndEverywhere(second_user, false, std::string(s.name) + ", sign-in", false, add);
    RunProgram(second_user, false, add);
    const long uninstall_points = EndEverywhere(machine, true, std::string(s.name) + ", uninstaller", false);
    RunProgram(machine, true);
    const std::u16string remove = machine.String(kHklm, kSetupEntry, u"StubPath");
    machine.hive(kHkcu) = second_user.hive(kHkcu);
    machine.system_account = false;
    sign_in_points += EndEverywhere(machine, false, std::string(s.name) + ", sign-in after removal", false, remove);
    printf("%-40s installer %2ld, uninstaller %2ld, sign-in %2ld interruption points\n", s.name, install_points,
           uninstall_points, sign_in_points);
  }
}

TEST_F(InterruptionTest, APowerCutLeavesEachPartOfTheRegistryAsOfAnEarlierMoment) {
  for (const Start& s : kStarts) {
    FakePlatform machine = Machine(s);
    EndEverywhere(machine, false, std::string(s.name) + ", installer", true);
    RunProgram(machine, false);
    machine.EndProcess();
    EndEverywhere(machine, true, std::string(s.name) + ", uninstaller", true);
  }
}

TEST_F(InterruptionTest, RestartOperationsOn64BitWindowsAreStoredForTheNativeProcessThatRunsThem) {
  for (const auto& c : kStoredOn64BitWindows) {
    const Start* s = std::find_if(std::begin(kStarts), std::end(kStarts),
                                  [&](const Start& start) { return std::string(start.name) == c.start; });
    ASSERT_NE(s, std::end(kStarts)) << c.start;
    FakePlatform machine = Machine(*s);
    EXPECT_EQ(RunProgram(machine, false), kExitRestartNeeded) << c.start;
    std::vector<std::string> stored;
    for (const auto& [from, to] : machine.at_restart) {
      std::string op = ToAnsi(from) + " -> " + ToAnsi(to);
      const size_t tmp = op.find("tvl"), end = op.find(".tmp");
      if (tmp != std::string::npos && end != std::string::npos && tmp < end) op.replace(tmp, end - tmp, "tvl#");
      stored.push_back(op);
    }
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(stored, c.stored) << c.start;
    // After the restart each directory holds the files built for its programs.
    machine.Restart();
    auto bytes = [&machine](const std::u16string& path) {
      const FakeFile* file = machine.File(path);
      return file ? file->bytes : "<absent>";
    };
    EXPECT_EQ(bytes(kSystem + u"tvl1.IME"), "module bytes") << c.start;
    EXPECT_EQ(bytes(u"C:\\WINDOWS\\Sysnative\\tvl1.IME"), "64-bit module") << c.start;
    EXPECT_EQ(bytes(u"C:\\WINDOWS\\Sysnative\\tvl1.MB"), "table bytes") << c.start;
  }
}

TEST_F(InterruptionTest, ARerunThatFailsKeepsTheFilesAnEarlierInstallationPutInPlace) {
  // An upgrade ended at every point (between the two renames of a replacement among them),
  // then a run that fails (the language profile, or a full disk) and removes what it
  // created: the slot stays, and so do the module and the code table it needs, old or new,
  // in each directory of the pair.
  for (const Start& s : kStarts) {
    if (!s.installed) continue;
    for (const char* fault : {"language profile", "copy"}) {
      FakePlatform start = Machine(s);
      start.changes = 0;
      FakePlatform whole = start;
      RunProgram(whole, false);
      for (long n = 0; n < whole.changes; ++n) {
        const std::string where = std::string(s.name) + " ended before call " + std::to_string(n) + ", then a " +
                                  fault + " that fails";
        FakePlatform m = start;
        m.end_before = n;
        EXPECT_EQ(RunProgram(m, false), -1) << where;
        m.end_before = -1;
        // From Windows 8 on a language profile that cannot be written fails the run; the
        // system account writes none.
        if (*fault == 'l') m.input_dll_present = false;
        m.copies_fail = *fault == 'c';
        const int exit = RunProgram(m, false);
        if (*fault == 'l' && s.platform_id == 2 && !s.system_account) EXPECT_EQ(exit, kExitReportedFailure) << where;
        m.EndProcess();
        m.Restart();
        ExpectNothingOfOthersTouched(start, m, where);
        EXPECT_NE(OwnSlots(m), "") << where;
        for (const std::u16string& dir : {kSystem, s.wow64 ? m.native_dir + u"\\" : kSystem}) {
          FakeFile* module = m.File(dir + u"tvl1.IME");
          FakeFile* table = m.File(dir + u"tvl1.MB");
          const std::string new_module = dir == kSystem ? "module bytes" : "64-bit module";
          EXPECT_TRUE(module && (module->bytes == "old module" || module->bytes == new_module))
              << where << " " << ToAnsi(dir);
          EXPECT_TRUE(table && (table->bytes == "old table" || table->bytes == "table bytes")) << where;
        }
        // Nothing left aside in the system directories (a failed run leaves the Windows
        // directory's leftovers to the next run that gets that far).
        for (const auto& [name, file] : m.files)
          if (name.rfind(kSystem, 0) == 0 || (s.wow64 && name.rfind(m.native_dir, 0) == 0))
            EXPECT_EQ(ToAnsi(name).find(".tmp"), std::string::npos) << where;
      }
    }
  }
}

TEST_F(InterruptionTest, UninstallingAfterInstallingLeavesTheMachineAsItWas) {
  // The round trip, uninterrupted: what others had stays, in its order.
  for (const Start& s : kStarts) {
    if (s.installed || std::count(s.slots.begin(), s.slots.end(), u"")) continue;
    FakePlatform machine = Machine(s);
    FakePlatform before = machine;
    RunProgram(machine, false);
    machine.EndProcess();
    const bool installed = !OwnSlots(machine).empty();
    EXPECT_EQ(RunProgram(machine, true), kExitInstalled) << s.name;
    // What stays for every other user's next sign-in: the per-user setup entry, turned into the
    // removal, and the sign-in program's copy its command runs.
    const std::string entry = "software\\microsoft\\active setup\\installed components\\tavrelinputmethod";
    EXPECT_EQ(machine.String(kHklm, kSetupEntry, u"StubPath").find(u"/RemoveFromUser E02") != std::u16string::npos,
              installed) << s.name;
    EXPECT_EQ(machine.hive(kHklm).erase(entry), installed ? 1u : 0u) << s.name;
    EXPECT_EQ(machine.hive(kHkcu).erase(entry), installed && !s.system_account ? 1u : 0u) << s.name << ": the user's counterpart";
    EXPECT_EQ(machine.files.erase(u"C:\\WINDOWS\\tvluser.exe"), installed ? 1u : 0u) << s.name;
    EXPECT_EQ(OutcomeOf(machine, 0).hklm, OutcomeOf(before, 0).hklm) << s.name;
    EXPECT_EQ(OutcomeOf(machine, 0).hkcu, OutcomeOf(before, 0).hkcu) << s.name;
    EXPECT_EQ(OutcomeOf(machine, 0).files, OutcomeOf(before, 0).files) << s.name;
  }
}

}  // namespace
