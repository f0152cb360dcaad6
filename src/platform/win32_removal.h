#pragma once
// The removal operations on Windows: registry keys and values. Defined in win32_registry.cpp,
// beside the operations that write them.
#include "platform/platform.h"

class Win32Removal final : public PlatformRemoval {
 public:
  int32_t RegDeleteKeyA(RegistryRoot root, const Text& path) override;
  int32_t RegDeleteValueA(int32_t handle, const Text& name) override;
  void RegFlushKey(RegistryRoot root) override;
};
