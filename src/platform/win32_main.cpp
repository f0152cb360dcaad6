// Program start: creating the installer window starts the installation.
#include <windows.h>

#include "platform/win32_platform.h"
#include "window/frm_setup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  Win32Platform platform(instance);
  if (!platform.CreateMainWindow()) {
    MessageBoxW(nullptr, L"安装程序无法创建窗口，安装未进行。", L"Tavrel输入法安装", MB_ICONERROR | MB_OK);
    return 1;
  }
  FrmSetup form(platform);
  return platform.Run(form);
}
