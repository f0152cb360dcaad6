#pragma once
// In-memory platform and removal operations for the unit tests: registry, files and window
// in maps, failures injected as data. It behaves as Windows does where the programs rely on
// it: key paths and value names match without regard to case, text crosses the "...A" calls
// in code page 936, a read with too small a byte count fails, reports the size needed and
// leaves the buffer alone, a failed create yields handle 0, a loaded input method's layout
// handle is its identifier read as a hexadecimal number, and a key with subkeys is not
// deleted (as on NT). Files follow the family chosen by platform_id: on NT a mapped module
// can be renamed but neither deleted nor replaced, and a file open without delete sharing
// can be neither renamed nor deleted; Windows 95/98/Me delete and rename a file even while
// it is open or mapped, and tell it in use by an open that refuses sharing. Operations
// scheduled for the restart are a list, carried out in order by Restart(). On 64-bit Windows
// (native_dir set) they are stored as Windows stores them: the names Win32Platform hands
// MoveFileEx (NameAtRestart), with a "<windows>\system32\..." name passed with redirection on
// mapped to "<windows>\SysWOW64\..."; Restart() reads them as the native process does.
//
// A run can be ended just before its Nth changing call (end_before): every registry create,
// set and delete, every file operation and InstallLayoutOrTip counts. The fake then throws
// ProcessEnded, which the test catches, so that no error path of the program runs; EndProcess
// then drops what ends with a process (handles, loaded layouts) and keeps the rest.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

std::string ToAnsi(const std::u16string& text);     // code page 936
std::u16string FromAnsi(const std::string& bytes);
std::u16string ToU16(const Text& text);
Text ToText(const std::u16string& s);

struct FakeKey {
  std::map<std::string, std::string> values;  // lower-cased name -> stored bytes
  // Names of values stored by RegSetValueExW: their bytes are UTF-16LE. Each form of read
  // converts a value stored by the other form, as NT does.
  std::set<std::string> wide;
  std::set<std::string> dwords;  // names of REG_DWORD values (4 bytes, little-endian)
  bool operator==(const FakeKey& other) const {
    return values == other.values && wide == other.wide && dwords == other.dwords;
  }
};

/// Thrown by a changing call of the fake when the run is to end there.
struct ProcessEnded {};

struct FakeFile {
  enum class Use { kNone, kOpen, kMapped };
  std::string bytes;
  Use use = Use::kNone;       // held by another program: open (NT: without delete sharing), or mapped
  bool read_only = false;
  bool hidden = false;
  bool system = false;
  bool directory = false;
  bool locked = false;        // denied: cannot be replaced or renamed, now or at the restart; can be read
  bool undeletable = false;   // cannot be deleted, renamed aside or scheduled for deletion
  bool unreadable = false;    // presence test fails with an error
};

struct PaintCall {
  int x1, y1, x2, y2;
  int32_t colour;
};
struct PrintCall {
  int x, y;
  std::u16string text;
  int32_t colour;
};

class FakePlatform final : public Platform, public PlatformRemoval {
 public:
  // --- Set-up and inspection ------------------------------------------------------
  using Hive = std::map<std::string, FakeKey>;  // lower-cased path -> key
  Hive& hive(RegistryRoot root) { return root == RegistryRoot::kLocalMachine ? hklm_ : hkcu_; }
  void PutString(RegistryRoot root, const std::u16string& path, const std::u16string& name,
                 const std::u16string& value);
  void PutKey(RegistryRoot root, const std::u16string& path);
  bool HasKey(RegistryRoot root, const std::u16string& path);
  /// Stored bytes of a value, or "<absent>".
  std::string Bytes(RegistryRoot root, const std::u16string& path, const std::u16string& name);
  std::u16string String(RegistryRoot root, const std::u16string& path, const std::u16string& name);
  /// True when the value was stored by RegSetValueExW.
  bool Wide(RegistryRoot root, const std::u16string& path, const std::u16string& name);
  /// A REG_DWORD value, or -1 when there is none of that type.
  int64_t Dword(RegistryRoot root, const std::u16string& path, const std::u16string& name);
  void PutDword(RegistryRoot root, const std::u16string& path, const std::u16string& name, uint32_t value);

  std::set<std::string> uncreatable_keys;   // lower-cased paths whose create fails
  std::set<std::string> unwritable_values;  // lower-cased value names whose write fails
  bool version_query_fails = false;
  int32_t platform_id = 2;
  uint32_t major_version = 6, minor_version = 2;  // as Windows 8 to 11 report it
  std::u16string native_dir;  // 64-bit Windows: the native system directory
  uint16_t native_machine = kMachineAmd64;  // 64-bit Windows: what its native programs run on
  int virtualization_calls = 0;
  bool system_account = false;  // the process token's user is S-1-5-18
  bool virtualization_came_first = false;  // turned off before any registry key was opened

  std::string system_dir = "C:\\WINDOWS\\system32";
  int system_dir_result_override = -1;  // >= 0: the call returns this and writes nothing
  std::u16string windows_dir = u"C:\\WINDOWS";  // empty: cannot be read
  std::u16string current_dir = u"C:\\tvl";
  std::u16string program_dir = u"C:\\tvl";
  std::map<std::u16string, FakeFile> files;  // full path as given; matched without case
  FakeFile* File(const std::u16string& path);

  // kReturnsOtherLayout: the load gives another layout's handle, as Windows may instead of 0.
  enum class LayoutLoad { kLoads, kReturnsZero, kReturnsOtherLayout, kCannotBeCalled };
  LayoutLoad layout_load = LayoutLoad::kLoads;
  std::vector<std::u16string> loaded_layouts;
  std::vector<uint32_t> layout_list;  // what GetKeyboardLayoutList reports; a load adds to it

  int run_locks = 0;              // how often TakeRunLock was called
  bool lock_came_first = false;   // no caption, painting, registry key or message before it
  bool input_dll_present = true;  // Windows 7 on: InstallLayoutOrTip is there
  std::vector<std::u16string> profile_calls;  // "0804:E0200804 0": profile, space, flags

  double client_width = 635, client_height = 547;
  int screen_height_twips = 768 * 15;
  std::u16string caption = u"Form1";
  std::vector<PaintCall> paints;
  std::vector<PrintCall> prints;
  int label_left = 0, label_top = 504;
  struct Message {
    std::u16string prompt;
    int32_t style;
    std::u16string title;
    size_t layouts_loaded;  // loaded_layouts.size() when it was shown
  };
  std::vector<Message> messages;
  bool unloaded = false;

  // Faults of the caller, for the tests to assert on.
  int open_handle_count() const { return static_cast<int>(open_.size()); }
  std::set<std::string> undeletable_keys;    // lower-cased paths whose deletion fails
  std::set<std::string> undeletable_values;  // lower-cased value names whose deletion fails
  // Operations scheduled for the next restart: {from, to}, to empty for a deletion.
  std::vector<std::pair<std::u16string, std::u16string>> at_restart;
  bool restart_ops_denied = false;  // NT without an administrator's rights
  bool copies_fail = false;         // a full disk: a copy stops half-way
  std::set<std::u16string> profile;  // the user's language profile, as InstallLayoutOrTip left it
  /// Carries out the operations scheduled for the restart, in order; every program has ended.
  void Restart();
  /// The file a name stored for the restart reaches then, as the native process that carries
  /// the operations out resolves it; nullptr when there is none.
  FakeFile* FileAtRestart(const std::u16string& stored);

  // Ending the run: before changing call number end_before (from 0), ProcessEnded is thrown.
  long end_before = -1;
  long changes = 0;  // changing calls so far
  /// What the process ending leaves behind: open handles and loaded layouts go.
  void EndProcess();
  // With keep_history, each hive as it was before each changing call (history[root][n]) and
  // the number of changing calls before its latest flush: a power cut may leave each hive as
  // of any moment since then.
  bool keep_history = false;
  std::vector<Hive> history[2];
  long flushed[2] = {0, 0};
  int bad_closes = 0;        // closing 0, an unknown or an already closed handle
  int buffer_overruns = 0;   // a read asked to fill more bytes than its buffer holds

  // --- Platform -----------------------------------------------------------------
  int32_t RegOpenKeyA(RegistryRoot root, const Text& path, int32_t* handle) override;
  int32_t RegCreateKeyA(RegistryRoot root, const Text& path, int32_t* handle) override;
  int32_t RegQueryValueExA(int32_t handle, const Text& name, int32_t* type, Text* buffer,
                           int32_t* size) override;
  int32_t RegSetValueExA(int32_t handle, const Text& name, const Text& data) override;
  int32_t RegQueryValueExW(int32_t handle, const Text& name, int32_t* type, Text* buffer,
                           int32_t* size) override;
  int32_t RegSetValueExW(int32_t handle, const Text& name, const Text& data) override;
  int32_t RegSetDwordA(int32_t handle, const Text& name, uint32_t data) override;
  int32_t RegQueryDwordA(int32_t handle, const Text& name, uint32_t* data) override;
  int32_t RegCloseKey(int32_t handle) override;
  int32_t GetSystemDirectoryA(Text* buffer, int32_t capacity) override;
  Text WindowsDirectory() override;
  bool GetVersionExA(OsVersionInfo* info) override;
  Text NativeSystemDirectory() override { return ToText(native_dir); }
  uint16_t NativeMachine() override { return native_dir.empty() ? kMachineI386 : native_machine; }
  bool TurnOffVirtualization() override {
    if (virtualization_calls++ == 0) virtualization_came_first = next_handle_ == 0x100;
    return true;
  }
  bool RunsAsSystemAccount() override { return system_account; }
  bool LoadKeyboardLayoutA(const Text& layout_id, uint32_t flags, uintptr_t* layout) override;
  int GetKeyboardLayoutList(int capacity, uintptr_t* layouts) override;
  bool InstallLayoutOrTip(const Text& profile, uint32_t flags) override;
  Presence FileExists(const Text& name) override;
  uint32_t FileAttributes(const Text& path) override;
  bool SetFileAttributes(const Text& path, uint32_t attributes) override;
  bool MakeFileBeside(const Text& path, Text* made) override;
  bool CreateNewFile(const Text& path) override;
  bool CopyFlushed(const Text& source, const Text& target) override;
  bool MoveFile(const Text& from, const Text& to, bool replace) override;
  bool DeleteFile(const Text& path) override;
  bool FileInUse(const Text& path) override;
  bool MoveAtRestart(const Text& from, const Text& to) override;
  bool PendingAtRestart(const Text& path) override;
  bool FindLeftover(const Text& directory, int index, Text* path) override;
  int32_t FileSize(const Text& name) override;
  bool FilesMatch(const Text& a, const Text& b) override;
  Text ProgramDirectory() override;
  void TakeRunLock() override;
  void SetCaption(const Text& text) override { caption = ToU16(text); }
  Text Caption() override;
  double ClientWidth() override { return client_width; }
  double ClientHeight() override { return client_height; }
  void PaintRectangle(int x1, int y1, int x2, int y2, int32_t colour) override {
    paints.push_back({x1, y1, x2, y2, colour});
  }
  void PrintText(int x, int y, const Text& text, int32_t colour) override {
    prints.push_back({x, y, ToU16(text), colour});
  }
  void MoveLabel(int left, int top) override { label_left = left, label_top = top; }
  int ScreenHeight() override { return screen_height_twips; }
  void ShowMessage(const Text& prompt, int32_t style, const Text& title) override {
    messages.push_back({ToU16(prompt), style, ToU16(title), loaded_layouts.size()});
  }
  void UnloadWindow() override { unloaded = true; }

  // --- PlatformRemoval ----------------------------------------------------------
  int32_t RegDeleteKeyA(RegistryRoot root, const Text& path) override;
  int32_t RegDeleteValueA(int32_t handle, const Text& name) override;
  void RegFlushKey(RegistryRoot root) override { flushed[root == RegistryRoot::kCurrentUser] = changes; }

 private:
  struct OpenKey {
    RegistryRoot root;
    std::string path;
  };
  FakeKey* KeyOf(int32_t handle);
  // Counts a changing call; throws ProcessEnded where the run is to end.
  void Change();
  bool Nt() const { return platform_id == 2; }
  std::map<std::u16string, FakeFile>::iterator Find(const std::u16string& path);
  // The name MoveFileEx stores for `path`, handed to it as Win32Platform hands it.
  std::u16string StoredAtRestart(const Text& path);
  // The path as this program names the file a native process reaches under `name`.
  std::u16string AsProgramNamesIt(const std::u16string& name);
  // The value's characters, its zero included, whichever form stored it.
  static std::u16string Chars(const FakeKey& key, const std::string& name);
  // Stores a value's bytes as written by the "...A" or (wide) the "...W" function.
  int32_t Store(int32_t handle, const Text& name, const std::string& bytes, bool wide);
  int32_t NewHandle(RegistryRoot root, const std::string& path);

  Hive hklm_, hkcu_;
  std::map<int32_t, OpenKey> open_;
  int32_t next_handle_ = 0x100;
};

