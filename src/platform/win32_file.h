#pragma once
// Owner of a file handle, for the file operations on Windows.
#include <windows.h>

class File {
 public:
  /// Takes over `handle`, INVALID_HANDLE_VALUE when the open failed.
  explicit File(HANDLE handle) : handle_(handle) {}
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { Close(); }
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  // Bytes read into `buffer`, 0 at the end, -1 on error.
  long Read(char* buffer, DWORD capacity) {
    DWORD got = 0;
    return ReadFile(handle_, buffer, capacity, &got, nullptr) ? static_cast<long>(got) : -1;
  }
  // True when all `count` bytes were written.
  bool Write(const char* buffer, DWORD count) {
    DWORD written = 0;
    return WriteFile(handle_, buffer, count, &written, nullptr) && written == count;
  }
  // Puts what was written on the disk before closing: a rename that follows may reach the
  // disk before data still held in the cache. False when either step failed.
  bool FlushAndClose() { return FlushFileBuffers(handle_) && Close(); }
  // False when the handle was open and closing it failed (data not written).
  bool Close() {
    if (!ok()) return true;
    const BOOL closed = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed != FALSE;
  }

 private:
  HANDLE handle_;
};
