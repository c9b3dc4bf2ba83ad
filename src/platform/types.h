// The platform's basic value types and constants, under the names the
// program's display, window and kernel calls use.
#pragma once

#include <cstdint>

namespace nebla::platform {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = std::uint32_t;
using BOOL = int;
using SHORT = std::int16_t;
using ATOM = std::uint16_t;
using HRESULT = std::int32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using ULONG_PTR = std::uintptr_t;
using PVOID = void*;
using COLORREF = DWORD;
using LPCSTR = const char*;
using LONG_PTR = std::intptr_t;
using HANDLE = void*;

// Handles of the platform's objects: opaque pointers to its own records.
struct WindowObject;
struct DeviceContext;
struct GdiBitmap;
struct ModuleObject;
struct IconObject;
struct CursorObject;
struct BrushObject;
struct MenuObject;
using HWND = WindowObject*;
using HDC = DeviceContext*;
using HBITMAP = GdiBitmap*;
using HGDIOBJ = void*;
using HINSTANCE = ModuleObject*;
using HICON = IconObject*;
using HCURSOR = CursorObject*;
using HBRUSH = BrushObject*;
using HMENU = MenuObject*;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;

  friend bool operator==(const RECT&, const RECT&) = default;
};

struct POINT {
  LONG x;
  LONG y;

  friend bool operator==(const POINT&, const POINT&) = default;
};

struct PALETTEENTRY {
  BYTE peRed;
  BYTE peGreen;
  BYTE peBlue;
  BYTE peFlags;

  friend bool operator==(const PALETTEENTRY&, const PALETTEENTRY&) = default;
};

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;

  friend bool operator==(const RGBQUAD&, const RGBQUAD&) = default;
};

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) |
         (static_cast<COLORREF>(b) << 16);
}

// System error numbers reported through GetLastError.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_CLASS_DOES_NOT_EXIST = 1411;
constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr DWORD ERROR_NO_MORE_USER_HANDLES = 1158;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_INVALID_DATA = 13;
constexpr DWORD ERROR_CLASS_HAS_WINDOWS = 1412;
constexpr DWORD ERROR_INVALID_INDEX = 1413;
constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;

}  // namespace nebla::platform
