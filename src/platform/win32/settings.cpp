// The screensaver's settings in the registry and its settings dialog.
#include "platform/win32/settings.h"

#include <windows.h>

#include "platform/win32/settings_dialog.h"

namespace nebla::platform::win32 {
namespace {

constexpr wchar_t kKey[] = L"Software\\Nebla\\Screensaver";
constexpr wchar_t kTextValue[] = L"Text";
constexpr int kFirstProgramRamp = 1;

// Invalid input becomes U+FFFD either way, as the conversions do by default.
std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
  return out;
}

std::wstring utf16(const std::string& text) {
  if (text.empty()) return {};
  int size =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

bool readNumber(::HKEY key, const wchar_t* name, ::DWORD& value) {
  ::DWORD type = 0;
  ::DWORD size = sizeof value;
  return ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<::BYTE*>(&value), &size) ==
             ERROR_SUCCESS &&
         type == REG_DWORD && size == sizeof value;
}

// Every UTF-16 unit is at least one UTF-8 byte, so a value of more units
// than the limit allows is too long without reading it.
void readText(::HKEY key, ScreenSaverSettings& settings) {
  ::DWORD type = 0;
  ::DWORD size = 0;
  if (::RegQueryValueExW(key, kTextValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return;
  if (size / sizeof(wchar_t) > kMaxStoredTextBytes + 1) {
    settings.textTooLong = true;
    return;
  }
  std::wstring text(size / sizeof(wchar_t), L'\0');
  if (::RegQueryValueExW(key, kTextValue, nullptr, &type, reinterpret_cast<::BYTE*>(text.data()),
                         &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return;
  text.resize(size / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  std::string converted = utf8(text);
  if (converted.size() > kMaxStoredTextBytes)
    settings.textTooLong = true;
  else
    settings.text = std::move(converted);
}

bool writeText(::HKEY key, const std::string& text) {
  std::wstring wide = utf16(text);
  auto bytes = static_cast<::DWORD>((wide.size() + 1) * sizeof(wchar_t));
  return ::RegSetValueExW(key, kTextValue, 0, REG_SZ, reinterpret_cast<const ::BYTE*>(wide.c_str()),
                          bytes) == ERROR_SUCCESS;
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
  // The box holds as many characters as the limit has bytes; the limit
  // itself is checked on OK, since a character can take up to four.
  ::SendDlgItemMessageW(dialog, NEBLA_SETTINGS_TEXT, EM_SETLIMITTEXT, kMaxStoredTextBytes, 0);
  ::SetDlgItemTextW(dialog, NEBLA_SETTINGS_TEXT, utf16(settings.text).c_str());
}

ScreenSaverSettings readDialog(::HWND dialog) {
  ScreenSaverSettings settings;
  auto item = ::SendDlgItemMessageW(dialog, NEBLA_SETTINGS_RAMP, CB_GETCURSEL, 0, 0);
  if (item >= 0 && item < 10) settings.ramp = rampOfItem(static_cast<int>(item));
  settings.light = ::IsDlgButtonChecked(dialog, NEBLA_SETTINGS_LIGHT) == BST_CHECKED;
  settings.autopilot = ::IsDlgButtonChecked(dialog, NEBLA_SETTINGS_AUTOPILOT) == BST_CHECKED;
  ::HWND box = ::GetDlgItem(dialog, NEBLA_SETTINGS_TEXT);
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(box)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(::GetWindowTextW(box, text.data(), static_cast<int>(text.size()))));
  settings.text = utf8(text);
  return settings;
}

// False after telling the user why the text cannot be kept.
bool textAccepted(::HWND dialog, const std::string& text, const TextCheck& check) {
  std::string reason;
  if (text.size() > kMaxStoredTextBytes)
    reason = "too long: more than 1 MiB";
  else if (text.empty() || check(text, reason))
    return true;
  std::wstring message = L"Your text cannot be used: " + utf16(reason) +
                         L".\n\nShorten it, or leave the box empty for Nebla's own text.";
  ::MessageBoxW(dialog, message.c_str(), L"Nebla", MB_OK | MB_ICONWARNING);
  ::SetFocus(::GetDlgItem(dialog, NEBLA_SETTINGS_TEXT));
  return false;
}

void confirm(::HWND dialog) {
  const auto& check = *reinterpret_cast<const TextCheck*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  ScreenSaverSettings chosen = readDialog(dialog);
  if (!textAccepted(dialog, chosen.text, check)) return;
  if (!saveSettings(chosen))
    ::MessageBoxW(dialog, L"The settings could not be saved.", L"Nebla", MB_OK | MB_ICONWARNING);
  ::EndDialog(dialog, IDOK);
}

::INT_PTR CALLBACK dialogProcedure(::HWND dialog, ::UINT message, ::WPARAM wParam,
                                   ::LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      fillDialog(dialog, loadSettings());
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        confirm(dialog);
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
  readText(key, settings);
  ::RegCloseKey(key);
  return settings;
}

bool saveSettings(const ScreenSaverSettings& settings) {
  if (settings.text.size() > kMaxStoredTextBytes) return false;
  ::HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
    return false;
  bool saved = writeNumber(key, L"Ramp", static_cast<::DWORD>(settings.ramp)) &&
               writeNumber(key, L"Light", settings.light ? 1 : 0) &&
               writeNumber(key, L"Autopilot", settings.autopilot ? 1 : 0) &&
               writeText(key, settings.text);
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

void runSettingsDialog(std::uintptr_t owner, const TextCheck& check) {
  ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(NEBLA_SETTINGS_DIALOG),
                    reinterpret_cast<::HWND>(owner), dialogProcedure,
                    reinterpret_cast<::LPARAM>(&check));
}

}  // namespace nebla::platform::win32
