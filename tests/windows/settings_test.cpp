// The screensaver's settings in the registry of the test's own Wine prefix:
// the user's text kept through UTF-16 and back, and the limit on its size
// whether it comes from the dialog or was written there by someone else.
#include "platform/win32/settings.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace nebla::platform::win32 {
namespace {

constexpr wchar_t kKey[] = L"Software\\Nebla\\Screensaver";

class StoredSettings : public ::testing::Test {
 protected:
  void SetUp() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Nebla"); }
  void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Nebla"); }

  // A "Text" value as another program could leave it.
  static void storeRaw(DWORD type, const std::wstring& text) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(key, L"Text", 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
  }
};

TEST_F(StoredSettings, TheTextComesBackAsItWentIn) {
  ScreenSaverSettings settings;
  settings.ramp = 4;
  settings.text =
      "Gr\xC3\xBC\xC3\x9F"
      "e \xE2\x98\x83 \xF0\x9F\x8C\xAB\r\n---\r\nzwei";
  ASSERT_TRUE(saveSettings(settings));
  ScreenSaverSettings loaded = loadSettings();
  EXPECT_EQ(loaded.ramp, 4);
  EXPECT_EQ(loaded.text, settings.text);
  EXPECT_FALSE(loaded.textTooLong);
  // Emptied again: Nebla's own text.
  settings.text.clear();
  ASSERT_TRUE(saveSettings(settings));
  EXPECT_EQ(loadSettings().text, "");
}

TEST_F(StoredSettings, ATextOverTheLimitIsNeitherStoredNorRead) {
  ScreenSaverSettings settings;
  settings.text.assign(kMaxStoredTextBytes, 'a');
  ASSERT_TRUE(saveSettings(settings));
  EXPECT_EQ(loadSettings().text.size(), kMaxStoredTextBytes);
  settings.text.push_back('a');
  EXPECT_FALSE(saveSettings(settings));
  // Few enough UTF-16 units, but three bytes each in UTF-8.
  storeRaw(REG_SZ, std::wstring(kMaxStoredTextBytes / 3 + 1, L'\u20AC'));
  ScreenSaverSettings loaded = loadSettings();
  EXPECT_TRUE(loaded.textTooLong);
  EXPECT_EQ(loaded.text, "");
  storeRaw(REG_SZ, std::wstring(kMaxStoredTextBytes + 1, L'a'));
  EXPECT_TRUE(loadSettings().textTooLong);
}

TEST_F(StoredSettings, ATextOfAnotherTypeIsIgnored) {
  storeRaw(REG_BINARY, L"not a string");
  ScreenSaverSettings loaded = loadSettings();
  EXPECT_EQ(loaded.text, "");
  EXPECT_FALSE(loaded.textTooLong);
}

}  // namespace
}  // namespace nebla::platform::win32
