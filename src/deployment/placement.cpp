#include "deployment/placement.h"

#include "deployment/installed_files.h"

namespace {

// The letter after "tvl" in the name of an earlier file renamed aside. None is a hexadecimal
// digit, so no name MakeFileBeside gives ("tvl" and hexadecimal digits) reads as an aside.
struct AsideLetter {
  const char* target;
  char16_t letter;
};
const AsideLetter kAsideLetters[] = {
    {kModuleName, u'i'}, {kTableName, u'm'}, {kUninstallerFile, u'u'}, {kSignInProgram, u's'}};

// Up to four digits after "tvl" and the letter: an 8.3 name.
constexpr long kLastAsideNumber = 9999;

// Where the last component of `path` starts.
size_t NameStart(const Text& path) {
  size_t start = path.size();
  while (start > 0 && path[start - 1] != u'\\') --start;
  return start;
}

Text NameOf(const Text& path) {
  const size_t start = NameStart(path);
  return Text().Append(path.data() + start, path.size() - start);
}

// The installed file that `leftover` is an aside of, in the same directory; empty when its
// name is not that of an aside.
Text TargetOfAside(const Text& leftover) {
  const size_t start = NameStart(leftover);
  const Text name = NameOf(leftover);
  if (name.size() < 9) return Text();  // the shortest, "tvli1.tmp"
  const size_t digits_end = name.size() - 4;  // before ".tmp"
  if (!name.Left(3).EqualsIgnoringCase("tvl") || !Text(name.data() + digits_end).EqualsIgnoringCase(".tmp"))
    return Text();
  for (size_t i = 4; i < digits_end; ++i)
    if (name[i] < u'0' || name[i] > u'9') return Text();
  for (const AsideLetter& aside : kAsideLetters)
    if (FoldAsciiCase(name[3]) == aside.letter) return leftover.Left(start).Append(aside.target);
  return Text();
}

// Makes a new empty file beside `target` under a name of an aside of it, free and named by
// no operation pending at the restart, and writes its full path into *aside. False when
// none was made (or `target` is none of the installed files).
bool MakeAside(Platform& platform, const Text& target, Text* aside) {
  const Text name = NameOf(target);
  char16_t letter = 0;
  for (const AsideLetter& candidate : kAsideLetters)
    if (name.EqualsIgnoringCase(candidate.target)) letter = candidate.letter;
  if (letter == 0) return false;
  for (long number = 1; number <= kLastAsideNumber; ++number) {
    (*aside = target.Left(NameStart(target))).Append("tvl").Append(letter).AppendNumber(number).Append(".tmp");
    if (platform.PendingAtRestart(*aside)) continue;
    if (platform.CreateNewFile(*aside)) return true;
    if (platform.FileAttributes(*aside) == kNoFile) return false;  // not taken: it cannot be made
  }
  return false;
}

// The copy is complete beside `target`, which holds an earlier file (`attributes`).
Placement ReplaceExisting(InstallerState& state, Platform& platform, const Text& copy, const Text& target,
                          uint32_t attributes, bool wait) {
  const bool read_only = attributes & kAttributeReadOnly;  // neither renamed nor replaced as it is
  if (read_only) platform.SetFileAttributes(target, attributes & ~kAttributeReadOnly);
  Text aside;
  bool schedule = true;
  if (!wait && !platform.FileInUse(target) && MakeAside(platform, target, &aside)) {
    if (platform.MoveFile(target, aside, /*replace=*/true)) {
      if (platform.MoveFile(copy, target, /*replace=*/false)) {
        // Only now that the target holds the new file may the old one go; a module still
        // mapped (NT) is deleted at the next restart.
        if (!platform.DeleteFile(aside) && platform.MoveAtRestart(aside, Text())) state.RestartNeeded = true;
        return Placement::kReplaced;
      }
      // Should even the way back fail, the restart gives the old file its name back.
      if (!platform.MoveFile(aside, target, /*replace=*/false)) platform.MoveAtRestart(aside, target);
      schedule = false;
    } else {
      platform.DeleteFile(aside);  // taken in use since it was probed, or denied
    }
  }
  // The complete copy waits beside the target and takes its place at the next restart.
  if (schedule && platform.MoveAtRestart(copy, target)) {
    state.RestartNeeded = true;
    return Placement::kAtRestart;
  }
  if (read_only) platform.SetFileAttributes(target, attributes);
  return Placement::kFailed;
}

// Puts back under its name each earlier file an ended run left aside in `directory`, where
// the name is free and no operation pending at the restart names the aside.
void PutBackAsides(Platform& platform, const Text& directory) {
  Text leftover;
  for (int index = 0; platform.FindLeftover(directory, index, &leftover);) {
    const Text target = TargetOfAside(leftover);
    const bool put_back = !target.empty() && !platform.PendingAtRestart(leftover) &&
                          platform.FileAttributes(target) == kNoFile &&
                          platform.MoveFile(leftover, target, /*replace=*/false);
    if (!put_back) ++index;  // a leftover put back leaves the list: the next one takes its index
  }
}

}  // namespace

Placement PlaceFile(InstallerState& state, Platform& platform, const Text& source, const Text& target,
                    bool wait) {
  const uint32_t attributes = platform.FileAttributes(target);
  Text copy;
  if ((attributes != kNoFile && (attributes & kAttributeDirectory)) || !platform.MakeFileBeside(target, &copy))
    return Placement::kFailed;
  // The copy is a new file made here, so it is never read-only, whatever the source is.
  if (platform.CopyFlushed(source, copy)) {
    if (attributes == kNoFile) {
      if (platform.MoveFile(copy, target, /*replace=*/false)) return Placement::kCreated;
    } else {
      const Placement placed = ReplaceExisting(state, platform, copy, target, attributes, wait);
      if (placed != Placement::kFailed) return placed;
    }
  }
  platform.DeleteFile(copy);
  return Placement::kFailed;
}

FileRemoval RemoveInstalledFile(InstallerState& state, Platform& platform, const Text& path) {
  const uint32_t attributes = platform.FileAttributes(path);
  if (attributes == kNoFile) return FileRemoval::kAbsent;
  if (attributes & kAttributeDirectory) return FileRemoval::kFailed;
  const bool read_only = attributes & kAttributeReadOnly;  // not deleted as it is
  if (read_only) platform.SetFileAttributes(path, attributes & ~kAttributeReadOnly);
  // A replacement pending at the restart would bring the file back: its deletion is
  // scheduled after it, under its own name.
  const bool pending = platform.PendingAtRestart(path);
  if (!pending && !platform.FileInUse(path) && platform.DeleteFile(path)) return FileRemoval::kRemoved;
  // Renamed aside first, so that an installation before the restart finds the name free (a
  // deletion scheduled under it would take the new file).
  Text aside;
  if (!pending && MakeAside(platform, path, &aside)) {
    if (platform.MoveFile(path, aside, /*replace=*/true)) {
      if (platform.MoveAtRestart(aside, Text())) {
        state.RestartNeeded = true;
        return FileRemoval::kRemoved;
      }
      platform.MoveFile(aside, path, /*replace=*/false);
    } else {
      platform.DeleteFile(aside);
    }
  }
  if (platform.MoveAtRestart(path, Text())) {
    state.RestartNeeded = true;
    return FileRemoval::kRemoved;
  }
  // Nothing scheduled: the file as it was.
  if (read_only) platform.SetFileAttributes(path, attributes);
  return FileRemoval::kFailed;
}

void RemoveLeftovers(InstallerState& state, Platform& platform, const Text& directory) {
  PutBackAsides(platform, directory);
  Text leftover;
  for (int index = 0; platform.FindLeftover(directory, index, &leftover);) {
    if (platform.PendingAtRestart(leftover)) {
      state.RestartNeeded = true;  // an ended run's operation: the restart it waits for is still to come
      ++index;
    } else if (!platform.DeleteFile(leftover)) {
      // An old module renamed aside and still mapped.
      if (platform.MoveAtRestart(leftover, Text())) state.RestartNeeded = true;
      ++index;
    }
  }
}
