// Pieces shared by the files of the Windows backend: the Windows headers in the order
// platform.h needs, the text conversion at the API boundary, and the safe loading of
// system libraries.
#pragma once

// platform.h first: the Windows headers below define many of its names as macros.
#include "platform/platform.h"

#include <windows.h>

#include <vector>

namespace platform::win32 {

// char16_t and wchar_t are the same UTF-16 code units on Windows; only the type differs.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t must be UTF-16 on Windows");

inline const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
inline const char16_t* Utf16(const wchar_t* text) {
  return reinterpret_cast<const char16_t*>(text);
}
inline char16_t* Utf16(wchar_t* text) { return reinterpret_cast<char16_t*>(text); }

inline ::HMODULE NativeModule(HMODULE module) { return reinterpret_cast<::HMODULE>(module); }
inline ::HRSRC NativeResource(HRSRC resource) { return reinterpret_cast<::HRSRC>(resource); }

// The languages in which `module` holds the resource (type, name), in the order every
// lookup by type and name tries them (LanguagesInPreferenceOrder of language_order.h, the
// order the posix host follows too). A name "#" and decimal digits stands for its integer
// id. Empty, with the last error 1813 (no such type) or 1814 (no such name), when there is
// none.
std::vector<::LANGID> LanguagesInLookupOrder(::HMODULE module, const wchar_t* type,
                                             const wchar_t* name);

// Restricts the library search of the process to the system directory, so that a DLL
// planted beside the executable (a download folder) is never loaded. Called first by
// wWinMain, before anything loads a library that is not a load-time import.
void EnableSafeLibraryLoading();

// Loads `name` (a file name without directory) from the system directory only. nullptr
// with the last error set when it cannot be loaded.
::HMODULE LoadSystemLibrary(const wchar_t* name);

}  // namespace platform::win32
