#pragma once
#include "platform/platform.h"
#include "window/installer_state.h"

/// The installer's only window. Its Load handler runs the whole installation while the
/// window is hidden; Resize repaints the backdrop; Activate reports and unloads.
class FrmSetup {
 public:
  explicit FrmSetup(Platform& platform) : platform_(platform) {}
  FrmSetup(const FrmSetup&) = delete;
  FrmSetup& operator=(const FrmSetup&) = delete;

  void Load();
  void Resize();
  void Activate();

  const InstallerState& state() const { return state_; }

 private:
  Platform& platform_;
  InstallerState state_;
};

extern const char16_t kCaption[];
extern const char16_t kSuccessMessage[];
