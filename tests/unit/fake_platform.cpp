#include "fake_platform.h"

#include "platform/restart_names.h"

#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace {

constexpr int32_t kErrorAccessDenied = 5;
constexpr int32_t kErrorInvalidHandle = 6;
constexpr int32_t kErrorInvalidParameter = 87;

std::string Convert(const char* to, const char* from, const std::string& in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open");
  std::string out(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  size_t src_left = in.size();
  char* dst = out.data();
  size_t dst_left = out.size();
  if (iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1)) {
    iconv_close(cd);
    throw std::runtime_error("iconv");
  }
  iconv_close(cd);
  out.resize(out.size() - dst_left);
  return out;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string KeyName(const std::u16string& s) { return Lower(ToAnsi(s)); }

// File names reach Windows as zero-terminated strings: a zero character ends the path.
std::u16string PathOf(const Text& name) {
  const std::u16string all = ToU16(name);
  return all.substr(0, all.find(u'\0'));
}

}  // namespace

std::string ToAnsi(const std::u16string& text) {
  return Convert("GBK", "UTF-16LE", std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
}

std::u16string FromAnsi(const std::string& bytes) {
  const std::string wide = Convert("UTF-16LE", "GBK", bytes);
  return std::u16string(reinterpret_cast<const char16_t*>(wide.data()), wide.size() / 2);
}

std::u16string ToU16(const Text& text) { return std::u16string(text.data(), text.size()); }

Text ToText(const std::u16string& s) {
  Text t;
  for (char16_t c : s) t.Append(c);
  return t;
}

void FakePlatform::PutKey(RegistryRoot root, const std::u16string& path) { hive(root)[KeyName(path)]; }

void FakePlatform::PutString(RegistryRoot root, const std::u16string& path, const std::u16string& name,
                             const std::u16string& value) {
  hive(root)[KeyName(path)].values[KeyName(name)] = ToAnsi(value) + '\0';
  hive(root)[KeyName(path)].wide.erase(KeyName(name));
}

bool FakePlatform::HasKey(RegistryRoot root, const std::u16string& path) {
  return hive(root).count(KeyName(path)) != 0;
}

std::string FakePlatform::Bytes(RegistryRoot root, const std::u16string& path, const std::u16string& name) {
  auto key = hive(root).find(KeyName(path));
  if (key == hive(root).end()) return "<absent>";
  auto value = key->second.values.find(KeyName(name));
  return value == key->second.values.end() ? "<absent>" : value->second;
}

int64_t FakePlatform::Dword(RegistryRoot root, const std::u16string& path, const std::u16string& name) {
  auto key = hive(root).find(KeyName(path));
  if (key == hive(root).end() || !key->second.dwords.count(KeyName(name))) return -1;
  uint32_t value = 0;
  std::copy_n(key->second.values[KeyName(name)].data(), 4, reinterpret_cast<char*>(&value));
  return value;
}

void FakePlatform::PutDword(RegistryRoot root, const std::u16string& path, const std::u16string& name,
                            uint32_t value) {
  FakeKey& key = hive(root)[KeyName(path)];
  key.values[KeyName(name)] = std::string(reinterpret_cast<const char*>(&value), 4);
  key.wide.erase(KeyName(name));
  key.dwords.insert(KeyName(name));
}

bool FakePlatform::Wide(RegistryRoot root, const std::u16string& path, const std::u16string& name) {
  auto key = hive(root).find(KeyName(path));
  return key != hive(root).end() && key->second.wide.count(KeyName(name)) != 0;
}

std::u16string FakePlatform::Chars(const FakeKey& key, const std::string& name) {
  const std::string& bytes = key.values.at(name);
  if (!key.wide.count(name)) return FromAnsi(bytes);
  return std::u16string(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
}

std::u16string FakePlatform::String(RegistryRoot root, const std::u16string& path, const std::u16string& name) {
  if (Wide(root, path, name)) {
    std::u16string chars = Chars(hive(root)[KeyName(path)], KeyName(name));
    chars.pop_back();
    return chars;
  }
  std::string bytes = Bytes(root, path, name);
  if (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
  return FromAnsi(bytes);
}

FakeKey* FakePlatform::KeyOf(int32_t handle) {
  auto open = open_.find(handle);
  if (open == open_.end()) return nullptr;
  auto key = hive(open->second.root).find(open->second.path);
  return key == hive(open->second.root).end() ? nullptr : &key->second;
}

int32_t FakePlatform::NewHandle(RegistryRoot root, const std::string& path) {
  const int32_t handle = next_handle_++;
  open_[handle] = {root, path};
  return handle;
}

int32_t FakePlatform::RegOpenKeyA(RegistryRoot root, const Text& path, int32_t* handle) {
  const std::string name = KeyName(ToU16(path));
  if (!hive(root).count(name)) return kErrorFileNotFound;
  *handle = NewHandle(root, name);
  return 0;
}

void FakePlatform::Change() {
  if (keep_history) {
    history[0].push_back(hklm_);
    history[1].push_back(hkcu_);
  }
  if (changes++ == end_before) throw ProcessEnded{};
}

void FakePlatform::EndProcess() {
  open_.clear();
  loaded_layouts.clear();
  layout_list.clear();
}

int32_t FakePlatform::RegCreateKeyA(RegistryRoot root, const Text& path, int32_t* handle) {
  Change();
  const std::string name = KeyName(ToU16(path));
  if (uncreatable_keys.count(name)) {
    *handle = 0;
    return kErrorAccessDenied;
  }
  hive(root)[name];
  *handle = NewHandle(root, name);
  return 0;
}

int32_t FakePlatform::RegQueryValueExA(int32_t handle, const Text& name, int32_t* type, Text* buffer,
                                       int32_t* size) {
  std::string bytes = ToAnsi(ToU16(*buffer));
  if (*size < 0 || static_cast<size_t>(*size) > bytes.size()) {
    ++buffer_overruns;
    return kErrorInvalidParameter;
  }
  FakeKey* key = KeyOf(handle);
  if (!key) return kErrorInvalidHandle;
  auto value = key->values.find(KeyName(ToU16(name)));
  if (value == key->values.end()) return kErrorFileNotFound;
  *type = kRegSz;
  const std::string stored = key->wide.count(value->first) ? ToAnsi(Chars(*key, value->first)) : value->second;
  const int32_t needed = static_cast<int32_t>(stored.size());
  if (*size < needed) {
    *size = needed;
    return kErrorMoreData;
  }
  std::copy(stored.begin(), stored.end(), bytes.begin());
  *size = needed;
  *buffer = ToText(FromAnsi(bytes));
  return 0;
}

int32_t FakePlatform::Store(int32_t handle, const Text& name, const std::string& bytes, bool wide) {
  Change();
  FakeKey* key = KeyOf(handle);
  if (!key) return kErrorInvalidHandle;
  const std::string value_name = KeyName(ToU16(name));
  if (unwritable_values.count(value_name)) return kErrorAccessDenied;
  key->values[value_name] = bytes;
  if (wide) key->wide.insert(value_name); else key->wide.erase(value_name);
  key->dwords.erase(value_name);
  return 0;
}

int32_t FakePlatform::RegSetDwordA(int32_t handle, const Text& name, uint32_t data) {
  const int32_t result = Store(handle, name, std::string(reinterpret_cast<const char*>(&data), 4), false);
  if (result == 0) KeyOf(handle)->dwords.insert(KeyName(ToU16(name)));
  return result;
}

int32_t FakePlatform::RegQueryDwordA(int32_t handle, const Text& name, uint32_t* data) {
  FakeKey* key = KeyOf(handle);
  if (!key) return kErrorInvalidHandle;
  const std::string value_name = KeyName(ToU16(name));
  if (!key->values.count(value_name)) return kErrorFileNotFound;
  if (!key->dwords.count(value_name)) return kErrorInvalidParameter;
  std::copy_n(key->values[value_name].data(), 4, reinterpret_cast<char*>(data));
  return 0;
}

int32_t FakePlatform::RegSetValueExA(int32_t handle, const Text& name, const Text& data) {
  return Store(handle, name, ToAnsi(ToU16(data)) + '\0', /*wide=*/false);
}

int32_t FakePlatform::RegQueryValueExW(int32_t handle, const Text& name, int32_t* type, Text* buffer,
                                       int32_t* size) {
  std::u16string chars = ToU16(*buffer);
  if (*size < 0 || static_cast<size_t>(*size) > 2 * chars.size()) {
    ++buffer_overruns;
    return kErrorInvalidParameter;
  }
  FakeKey* key = KeyOf(handle);
  if (!key) return kErrorInvalidHandle;
  const std::string value_name = KeyName(ToU16(name));
  if (!key->values.count(value_name)) return kErrorFileNotFound;
  *type = kRegSz;
  const std::u16string value = Chars(*key, value_name);
  const int32_t needed = static_cast<int32_t>(2 * value.size());
  if (*size < needed) {
    *size = needed;
    return kErrorMoreData;
  }
  std::copy(value.begin(), value.end(), chars.begin());
  *size = needed;
  *buffer = ToText(chars);
  return 0;
}

int32_t FakePlatform::RegSetValueExW(int32_t handle, const Text& name, const Text& data) {
  const std::u16string chars = ToU16(data) + u'\0';
  return Store(handle, name, std::string(reinterpret_cast<const char*>(chars.data()), 2 * chars.size()), true);
}

int32_t FakePlatform::RegCloseKey(int32_t handle) {
  if (!open_.erase(handle)) {
    ++bad_closes;
    return kErrorInvalidHandle;
  }
  return 0;
}

int32_t FakePlatform::GetSystemDirectoryA(Text* buffer, int32_t capacity) {
  if (system_dir_result_override >= 0) return system_dir_result_override;
  const int32_t length = static_cast<int32_t>(system_dir.size());
  if (length + 1 > capacity) return length + 1;
  std::string bytes = ToAnsi(ToU16(*buffer));
  std::copy(system_dir.begin(), system_dir.end(), bytes.begin());
  bytes[length] = '\0';
  *buffer = ToText(FromAnsi(bytes));
  return length;
}

bool FakePlatform::GetVersionExA(OsVersionInfo* info) {
  if (version_query_fails || info->size != sizeof(OsVersionInfo)) return false;
  info->platform_id = platform_id;
  info->major_version = major_version;
  info->minor_version = minor_version;
  return true;
}

bool FakePlatform::LoadKeyboardLayoutA(const Text& layout_id, uint32_t flags, uintptr_t* layout) {
  if (layout_load == LayoutLoad::kCannotBeCalled) return false;
  *layout = 0;
  if (layout_load != LayoutLoad::kReturnsZero && flags == kKlfActivate &&
      HasKey(RegistryRoot::kLocalMachine,
             u"System\\CurrentControlSet\\Control\\Keyboard Layouts\\" + ToU16(layout_id))) {
    // The identifier read as hex, or the system's default Chinese (PRC) layout; sign-extended
    // to pointer size as on 64-bit Windows.
    const uint32_t value =
        layout_load == LayoutLoad::kLoads ? std::stoul(ToAnsi(ToU16(layout_id)), nullptr, 16) : 0x08040804u;
    if (layout_load == LayoutLoad::kLoads) {
      loaded_layouts.push_back(ToU16(layout_id));
      if (std::find(layout_list.begin(), layout_list.end(), value) == layout_list.end()) layout_list.push_back(value);
    }
    *layout = static_cast<uintptr_t>(static_cast<intptr_t>(static_cast<int32_t>(value)));
  }
  return true;
}

int FakePlatform::GetKeyboardLayoutList(int capacity, uintptr_t* layouts) {
  int count = 0;
  for (; count < capacity && count < static_cast<int>(layout_list.size()); ++count)
    layouts[count] = static_cast<uintptr_t>(static_cast<intptr_t>(static_cast<int32_t>(layout_list[count])));
  return count;
}

void FakePlatform::TakeRunLock() {
  if (run_locks++ == 0)
    lock_came_first = caption == u"Form1" && paints.empty() && prints.empty() && next_handle_ == 0x100 &&
                      messages.empty() && loaded_layouts.empty() && !unloaded;
}

FakeFile* FakePlatform::File(const std::u16string& path) {
  const std::string wanted = KeyName(path);
  for (auto& [name, file] : files)
    if (KeyName(name) == wanted) return &file;
  return nullptr;
}

Presence FakePlatform::FileExists(const Text& name) {
  std::u16string path = PathOf(name);
  if (path.find(u':') == std::u16string::npos && path.rfind(u"\\", 0) != 0) path = current_dir + u"\\" + path;
  FakeFile* file = File(path);
  if (!file) return Presence::kAbsent;
  if (file->unreadable) return Presence::kError;
  return file->hidden || file->system || file->directory ? Presence::kAbsent : Presence::kPresent;
}

int32_t FakePlatform::FileSize(const Text& name) {
  FakeFile* file = File(PathOf(name));
  return file && !file->directory ? static_cast<int32_t>(file->bytes.size()) : -1;
}

bool FakePlatform::InstallLayoutOrTip(const Text& name, uint32_t flags) {
  Change();
  profile_calls.push_back(ToU16(name) + u" " + ToU16(Text::Number(flags)));
  if (!input_dll_present) return false;
  if (flags == 1) profile.erase(ToU16(name)); else profile.insert(ToU16(name));
  return true;
}

std::map<std::u16string, FakeFile>::iterator FakePlatform::Find(const std::u16string& path) {
  const std::string wanted = KeyName(path);
  for (auto file = files.begin(); file != files.end(); ++file)
    if (KeyName(file->first) == wanted) return file;
  return files.end();
}

namespace {

std::u16string DirectoryOf(const std::u16string& path) { return path.substr(0, path.rfind(u'\\')); }
std::u16string NameOf(const std::u16string& path) { return path.substr(path.rfind(u'\\') + 1); }

}  // namespace

uint32_t FakePlatform::FileAttributes(const Text& path) {
  FakeFile* file = File(PathOf(path));
  if (!file) return kNoFile;
  return 0x20 | (file->read_only ? 1 : 0) | (file->hidden ? 2 : 0) | (file->system ? 4 : 0) |
         (file->directory ? 0x10 : 0);
}

bool FakePlatform::SetFileAttributes(const Text& path, uint32_t attributes) {
  Change();
  FakeFile* file = File(PathOf(path));
  if (!file || file->locked) return false;
  file->read_only = attributes & 1;
  return true;
}

bool FakePlatform::MakeFileBeside(const Text& path, Text* made) {
  Change();
  const std::u16string directory = DirectoryOf(PathOf(path));
  if (directory.empty() || (File(directory) && !File(directory)->directory)) return false;
  // Windows picks the number from the clock: a name taken in one directory is, in practice,
  // not met again in another, nor among the names a pending operation holds.
  auto taken = [this](const std::string& name) {
    for (const auto& [path, file] : files)
      if (KeyName(NameOf(path)) == name) return true;
    for (const auto& [from, to] : at_restart)
      if (KeyName(NameOf(from)) == name || KeyName(NameOf(to)) == name) return true;
    return false;
  };
  for (int unique = 1;; ++unique) {
    char name[16];
    snprintf(name, sizeof name, "tvl%X.tmp", unique);
    const std::u16string candidate = directory + u"\\" + FromAnsi(name);
    if (!taken(KeyName(FromAnsi(name)))) {
      files[candidate] = FakeFile{};
      *made = ToText(candidate);
      return true;
    }
  }
}

bool FakePlatform::CreateNewFile(const Text& path) {
  Change();
  const std::u16string name = PathOf(path), directory = DirectoryOf(name);
  if (File(name) || directory.empty() || (File(directory) && !File(directory)->directory)) return false;
  files[name] = FakeFile{};
  return true;
}

bool FakePlatform::CopyFlushed(const Text& source, const Text& target) {
  Change();
  FakeFile* from = File(PathOf(source));
  FakeFile* to = File(PathOf(target));
  if (!from || from->directory || !to || to->locked || to->directory) return false;
  if (copies_fail) {
    to->bytes = from->bytes.substr(0, from->bytes.size() / 2);
    return false;
  }
  to->bytes = from->bytes;
  return true;
}

bool FakePlatform::MoveFile(const Text& from_path, const Text& to_path, bool replace) {
  Change();
  auto from = Find(PathOf(from_path));
  if (from == files.end() || from->second.locked || from->second.undeletable) return false;
  if (Nt() && from->second.use == FakeFile::Use::kOpen) return false;
  auto to = Find(PathOf(to_path));
  if (to != files.end()) {
    if (!replace || to->second.locked || to->second.undeletable || to->second.read_only || to->second.directory)
      return false;
    if (Nt() && to->second.use != FakeFile::Use::kNone) return false;
    files.erase(to);
  }
  const FakeFile moved = from->second;
  files.erase(from);
  files[PathOf(to_path)] = moved;
  return true;
}

bool FakePlatform::DeleteFile(const Text& path) {
  Change();
  auto file = Find(PathOf(path));
  if (file == files.end() || file->second.locked || file->second.undeletable || file->second.read_only ||
      file->second.directory)
    return false;
  if (Nt() && file->second.use != FakeFile::Use::kNone) return false;
  files.erase(file);
  return true;
}

bool FakePlatform::FileInUse(const Text& path) {
  FakeFile* file = File(PathOf(path));
  return file && (Nt() ? file->use == FakeFile::Use::kOpen : file->use != FakeFile::Use::kNone);
}

bool FakePlatform::MoveAtRestart(const Text& from_path, const Text& to_path) {
  Change();
  const std::u16string from = PathOf(from_path), to = PathOf(to_path);
  FakeFile* source = File(from);
  FakeFile* target = to.empty() ? nullptr : File(to);
  if ((Nt() && restart_ops_denied) || (source && source->undeletable) || (target && target->locked)) return false;
  // Windows 95/98/Me name both files by their 8.3 names, which only existing files have.
  if (!Nt() && (!source || (!to.empty() && !target))) return false;
  at_restart.push_back({StoredAtRestart(from_path), to.empty() ? to : StoredAtRestart(to_path)});
  return true;
}

namespace {

// The rest of `path` after `directory` and a backslash (ASCII case ignored); false when it is
// not in there.
bool Below(const std::u16string& path, const std::u16string& directory, std::u16string* rest) {
  const std::u16string prefix = directory + u"\\";
  if (directory.empty() || path.size() <= prefix.size() || KeyName(path.substr(0, prefix.size())) != KeyName(prefix))
    return false;
  *rest = path.substr(prefix.size());
  return true;
}

}  // namespace

std::u16string FakePlatform::StoredAtRestart(const Text& path) {
  const std::u16string system = FromAnsi(system_dir);
  RestartName call;
  NameAtRestart(ToText(PathOf(path)), ToText(system), ToText(native_dir), &call);
  const std::u16string name = PathOf(call.name);
  // The redirector, as MoveFileEx(MOVEFILE_DELAY_UNTIL_REBOOT) meets it under WoW64 (Server
  // 2003 SP1 and XP x64 SP1 on): a name in "<windows>\system32" is the 32-bit directory's.
  std::u16string rest;
  if (!native_dir.empty() && !call.native && Below(name, system, &rest))
    return DirectoryOf(system) + u"\\SysWOW64\\" + rest;
  return name;
}

std::u16string FakePlatform::AsProgramNamesIt(const std::u16string& name) {
  if (native_dir.empty()) return name;
  // A native process: "system32" is the native directory, "SysWOW64" the 32-bit one, and
  // "Sysnative" nothing at all.
  const std::u16string system = FromAnsi(system_dir), windows = DirectoryOf(system);
  std::u16string rest;
  if (Below(name, system, &rest)) return native_dir + u"\\" + rest;
  if (Below(name, windows + u"\\SysWOW64", &rest)) return system + u"\\" + rest;
  if (Below(name, windows + u"\\Sysnative", &rest)) return u"";
  return name;
}

FakeFile* FakePlatform::FileAtRestart(const std::u16string& stored) {
  const std::u16string path = AsProgramNamesIt(stored);
  return path.empty() ? nullptr : File(path);
}

bool FakePlatform::PendingAtRestart(const Text& path) {
  const std::string name = KeyName(NameOf(PathOf(path)));
  for (const auto& [from, to] : at_restart)
    if (KeyName(NameOf(from)) == name || (!to.empty() && KeyName(NameOf(to)) == name)) return true;
  return false;
}

bool FakePlatform::FindLeftover(const Text& directory, int index, Text* path) {
  const std::string wanted = KeyName(PathOf(directory));
  for (const auto& [name, file] : files) {
    const std::string base = KeyName(NameOf(name));
    if (KeyName(DirectoryOf(name)) == wanted && base.rfind("tvl", 0) == 0 && base.size() > 7 &&
        base.substr(base.size() - 4) == ".tmp" && index-- == 0) {
      *path = ToText(name);
      return true;
    }
  }
  return false;
}

void FakePlatform::Restart() {
  EndProcess();
  for (auto& [name, file] : files) file.use = FakeFile::Use::kNone;
  for (const auto& [stored_from, stored_to] : at_restart) {
    const std::u16string from = AsProgramNamesIt(stored_from), to = AsProgramNamesIt(stored_to);
    auto source = from.empty() ? files.end() : Find(from);
    // Nothing there, or a target in no directory the native process knows: the file stays.
    if (source == files.end() || (to.empty() && !stored_to.empty())) continue;
    const FakeFile moved = source->second;
    files.erase(source);
    if (to.empty()) continue;
    auto target = Find(to);
    if (target != files.end()) files.erase(target);
    files[to] = moved;
  }
  at_restart.clear();
}

bool FakePlatform::FilesMatch(const Text& a, const Text& b) {
  FakeFile* first = File(PathOf(a));
  FakeFile* second = File(PathOf(b));
  return first && second && !first->directory && !second->directory && first->bytes == second->bytes;
}

Text FakePlatform::WindowsDirectory() { return ToText(windows_dir); }

Text FakePlatform::ProgramDirectory() { return ToText(program_dir); }

Text FakePlatform::Caption() { return ToText(caption); }

// A key that has subkeys is not deleted, as on NT.
int32_t FakePlatform::RegDeleteKeyA(RegistryRoot root, const Text& path) {
  Change();
  const std::string name = KeyName(ToU16(path));
  if (!hive(root).count(name)) return kErrorFileNotFound;
  auto next = hive(root).lower_bound(name + "\\");
  const bool has_subkeys = next != hive(root).end() && next->first.rfind(name + "\\", 0) == 0;
  if (undeletable_keys.count(name) || has_subkeys) return kErrorAccessDenied;
  hive(root).erase(name);
  return 0;
}

int32_t FakePlatform::RegDeleteValueA(int32_t handle, const Text& name) {
  Change();
  FakeKey* key = KeyOf(handle);
  if (!key) return kErrorInvalidHandle;
  const std::string value_name = KeyName(ToU16(name));
  if (!key->values.count(value_name)) return kErrorFileNotFound;
  if (undeletable_values.count(value_name)) return kErrorAccessDenied;
  key->values.erase(value_name);
  return 0;
}

