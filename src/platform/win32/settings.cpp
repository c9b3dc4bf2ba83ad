// The screensaver's settings in the registry and its settings dialog.
#include "platform/win32/settings.h"

#include <windows.h>

#include "platform/win32/settings_dialog.h"

namespace nebla::platform::win32 {
namespace {

constexpr wchar_t kKey[] = L"Software\\Nebla\\Screensaver";
constexpr int kFirstProgramRamp = 1;

bool readNumber(::HKEY key, const wchar_t* name, ::DWORD& value) {
  ::DWORD type = 0;
  ::DWORD size = sizeof value;
  return ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<::BYTE*>(&value), &size) ==
             ERROR_SUCCESS &&
         type == REG_DWORD && size == sizeof value;
}

bool writeNumber(::HKEY key, const wchar_t* name, ::DWORD value) {
  return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const ::BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

// The ramps are listed by their keys, 1 to 9 and then 0, as on the keyboard.
int rampOfItem(int item) { return item == 9 ? 0 : item + 1; }
int itemOfRamp(int ramp) { return ramp == 0 ? 9 : ramp - 1; }

void fillDialog(::HWND dialog, const ScreenSaverSettings& settings) {
  ::HWND ramps = ::GetDlgItem(dialog, NEBLA_SETTINGS_RAMP);
  for (int item = 0; item < 10; ++item) {
    wchar_t text[32];
    ::wsprintfW(text, L"Ramp %d", rampOfItem(item));
    ::SendMessageW(ramps, CB_ADDSTRING, 0, reinterpret_cast<::LPARAM>(text));
  }
  ::SendMessageW(ramps, CB_SETCURSEL, static_cast<::WPARAM>(itemOfRamp(settings.ramp)), 0);
  ::CheckDlgButton(dialog, NEBLA_SETTINGS_LIGHT, settings.light ? BST_CHECKED : BST_UNCHECKED);
  ::CheckDlgButton(dialog, NEBLA_SETTINGS_AUTOPILOT,
                   settings.autopilot ? BST_CHECKED : BST_UNCHECKED);
}

ScreenSaverSettings readDialog(::HWND dialog) {
  ScreenSaverSettings settings;
  auto item = ::SendDlgItemMessageW(dialog, NEBLA_SETTINGS_RAMP, CB_GETCURSEL, 0, 0);
  if (item >= 0 && item < 10) settings.ramp = rampOfItem(static_cast<int>(item));
  settings.light = ::IsDlgButtonChecked(dialog, NEBLA_SETTINGS_LIGHT) == BST_CHECKED;
  settings.autopilot = ::IsDlgButtonChecked(dialog, NEBLA_SETTINGS_AUTOPILOT) == BST_CHECKED;
  return settings;
}

::INT_PTR CALLBACK dialogProcedure(::HWND dialog, ::UINT message, ::WPARAM wParam, ::LPARAM) {
  switch (message) {
    case WM_INITDIALOG: fillDialog(dialog, loadSettings()); return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        if (!saveSettings(readDialog(dialog)))
          ::MessageBoxW(dialog, L"The settings could not be saved.", L"Nebla",
                        MB_OK | MB_ICONWARNING);
        ::EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        ::EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    default: return FALSE;
  }
}

}  // namespace

ScreenSaverSettings loadSettings() {
  ScreenSaverSettings settings;
  ::HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return settings;
  ::DWORD value = 0;
  if (readNumber(key, L"Ramp", value) && value <= 9) settings.ramp = static_cast<int>(value);
  if (readNumber(key, L"Light", value) && value <= 1) settings.light = value == 1;
  if (readNumber(key, L"Autopilot", value) && value <= 1) settings.autopilot = value == 1;
  ::RegCloseKey(key);
  return settings;
}

bool saveSettings(const ScreenSaverSettings& settings) {
  ::HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
    return false;
  bool saved = writeNumber(key, L"Ramp", static_cast<::DWORD>(settings.ramp)) &&
               writeNumber(key, L"Light", settings.light ? 1 : 0) &&
               writeNumber(key, L"Autopilot", settings.autopilot ? 1 : 0);
  ::RegCloseKey(key);
  return saved;
}

std::vector<int> startKeys(const ScreenSaverSettings& settings) {
  std::vector<int> keys;
  if (settings.ramp != kFirstProgramRamp) keys.push_back('0' + settings.ramp);
  if (settings.light) keys.push_back(VK_SPACE);
  return keys;
}

void enterTemporaryFolder() {
  wchar_t path[MAX_PATH + 1];
  ::DWORD length = ::GetTempPathW(MAX_PATH + 1, path);
  if (length > 0 && length <= MAX_PATH) ::SetCurrentDirectoryW(path);
}

void runSettingsDialog(std::uintptr_t owner) {
  ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(NEBLA_SETTINGS_DIALOG),
                    reinterpret_cast<::HWND>(owner), dialogProcedure, 0);
}

}  // namespace nebla::platform::win32
