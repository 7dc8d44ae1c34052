// String tables read directly from their RT_STRING blocks. Windows' LoadStringW follows
// the thread's user-interface language, which SetThreadLocale does not change on current
// versions; the system needs the thread locale's language, so the block is found by
// language here and its counted string read without the user32 call.
#include <cstring>

#include "platform/win32/win32.h"

namespace platform {
namespace {

// The counted string `index` (0 to 15) of one block: 16 entries of a length in
// characters followed by that many characters. Empty when the block is too short.
std::pair<const wchar_t*, std::size_t> StringInBlock(const ::WORD* block, std::size_t words,
                                                     unsigned index) {
  std::size_t at = 0;
  for (unsigned entry = 0; entry < 16; ++entry) {
    if (at >= words) return {nullptr, 0};
    std::size_t length = block[at++];
    if (length > words - at) return {nullptr, 0};
    if (entry == index) return {reinterpret_cast<const wchar_t*>(block + at), length};
    at += length;
  }
  return {nullptr, 0};
}

}  // namespace

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax) {
  if (buffer == nullptr || bufferMax < 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (bufferMax > 0) buffer[0] = u'\0';
  // Only the low 16 bits name a string, as for user32's LoadStringW and the posix host.
  id &= 0xFFFF;

  // 1. The block that holds the id (16 strings per block, numbered from 1), in the first
  //    language of the lookup order that has the block, as Windows picks a block: a slot
  //    left empty there is no text, even where another language has one.
  ::HMODULE module = win32::NativeModule(instance);
  const wchar_t* type = reinterpret_cast<const wchar_t*>(static_cast<::ULONG_PTR>(6));  // RT_STRING
  const wchar_t* block = reinterpret_cast<const wchar_t*>(static_cast<::ULONG_PTR>(id / 16 + 1));
  std::vector<::LANGID> languages = win32::LanguagesInLookupOrder(module, type, block);
  if (languages.empty()) return 0;
  ::HRSRC found = ::FindResourceExW(module, type, block, languages.front());
  ::HGLOBAL loaded = found == nullptr ? nullptr : ::LoadResource(module, found);
  const void* data = loaded == nullptr ? nullptr : ::LockResource(loaded);
  if (data == nullptr) return 0;

  // 2. The counted string of the id; a block cut short holds no text.
  auto [text, length] = StringInBlock(static_cast<const ::WORD*>(data),
                                      ::SizeofResource(module, found) / sizeof(::WORD), id % 16);
  if (length == 0) return 0;

  // 3. bufferMax 0 asks for a read-only pointer to the text itself, not terminated, as
  //    Windows gives it; otherwise copy what fits, terminated, and count without the
  //    terminator.
  if (bufferMax == 0) {
    const char16_t* address = win32::Utf16(text);
    std::memcpy(buffer, &address, sizeof address);
    return static_cast<int>(length);
  }
  std::size_t count = length < static_cast<std::size_t>(bufferMax)
                          ? length
                          : static_cast<std::size_t>(bufferMax) - 1;
  for (std::size_t i = 0; i < count; ++i) buffer[i] = static_cast<char16_t>(text[i]);
  buffer[count] = u'\0';
  return static_cast<int>(count);
}

}  // namespace platform
