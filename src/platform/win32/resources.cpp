// Resources by type, name and language. Windows' own FindResourceW follows the thread's
// user-interface language, which SetThreadLocale does not move; the lookups here follow
// the thread locale with the same fallback order as the string tables.
#include <iterator>

#include "platform/win32/win32.h"

#include "platform/language_order.h"

namespace platform {
namespace win32 {
namespace {

// "#" and decimal digits name an integer id; the enumeration below is given the id itself.
const wchar_t* IntegerNameOrSelf(const wchar_t* name) {
  if (IS_INTRESOURCE(name) || name[0] != L'#' || name[1] == L'\0') return name;
  unsigned long value = 0;
  for (const wchar_t* digit = name + 1; *digit != L'\0'; ++digit) {
    if (*digit < L'0' || *digit > L'9') return name;
    value = value * 10 + static_cast<unsigned long>(*digit - L'0');
    if (value > 0xFFFF) return name;
  }
  return reinterpret_cast<const wchar_t*>(static_cast<::ULONG_PTR>(value));
}

::BOOL CALLBACK CollectLanguage(::HMODULE, const wchar_t*, const wchar_t*, ::WORD language,
                                ::LONG_PTR found) {
  reinterpret_cast<std::vector<::LANGID>*>(found)->push_back(language);
  return TRUE;
}

}  // namespace

std::vector<::LANGID> LanguagesInLookupOrder(::HMODULE module, const wchar_t* type,
                                             const wchar_t* name) {
  // 1. The languages the module holds for this type and name.
  std::vector<::LANGID> available;
  if (!::EnumResourceLanguagesW(module, IntegerNameOrSelf(type), IntegerNameOrSelf(name),
                                CollectLanguage, reinterpret_cast<::LONG_PTR>(&available))) {
    return {};
  }

  // 2. Ordered as both backends order them.
  return LanguagesInPreferenceOrder(available, LANGIDFROMLCID(::GetThreadLocale()),
                                    LANGIDFROMLCID(::GetUserDefaultLCID()));
}

}  // namespace win32

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  ::HMODULE native = win32::NativeModule(module);
  std::vector<::LANGID> languages =
      win32::LanguagesInLookupOrder(native, win32::Wide(type), win32::Wide(name));
  if (languages.empty()) return nullptr;
  return reinterpret_cast<HRSRC>(
      ::FindResourceExW(native, win32::Wide(type), win32::Wide(name), languages.front()));
}

HRSRC FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
  return reinterpret_cast<HRSRC>(::FindResourceExW(win32::NativeModule(module), win32::Wide(type),
                                                   win32::Wide(name), language));
}

DWORD SizeofResource(HMODULE module, HRSRC resource) {
  return ::SizeofResource(win32::NativeModule(module), win32::NativeResource(resource));
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
  return ::LoadResource(win32::NativeModule(module), win32::NativeResource(resource));
}

LPVOID LockResource(HGLOBAL data) { return ::LockResource(data); }

}  // namespace platform
