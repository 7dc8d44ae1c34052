// Resources of the emulated host: lookups by type, name and language in a module's
// embedded table, in the way FindResourceW and LoadStringW search a Windows module.
#include <cstring>
#include <vector>

#include "platform/language_order.h"
#include "platform/posix/host.h"

namespace platform {
namespace {

using posix::EmbeddedResource;

// A type or name as a caller gives it: an integer id (MAKEINTRESOURCEW or "#206"), or a
// string compared without regard to case, as Windows upper-cases resource names.
struct ResourceKey {
  bool IsId = false;
  WORD Id = 0;
  LPCWSTR Text = nullptr;
};

ResourceKey ParseKey(LPCWSTR key) {
  if (IS_INTRESOURCE(key)) return {true, static_cast<WORD>(reinterpret_cast<ULONG_PTR>(key)), {}};
  if (key[0] == u'#' && key[1] != u'\0') {
    DWORD value = 0;
    bool digits = true;
    for (LPCWSTR c = key + 1; *c != u'\0' && digits; ++c) {
      digits = *c >= u'0' && *c <= u'9';
      value = value * 10 + (*c - u'0');
      digits = digits && value <= 0xFFFF;
    }
    if (digits) return {true, static_cast<WORD>(value), {}};
  }
  return {false, 0, key};
}

char16_t UpperCase(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
  return c;
}

bool KeyMatches(const ResourceKey& key, const char16_t* text, WORD id) {
  if (key.IsId) return text == nullptr && id == key.Id;
  if (text == nullptr) return false;
  std::size_t i = 0;
  for (; key.Text[i] != u'\0' && text[i] != u'\0'; ++i) {
    if (UpperCase(key.Text[i]) != UpperCase(text[i])) return false;
  }
  return key.Text[i] == text[i];
}

HINSTANCE ModuleOrMain(HMODULE module) { return module != nullptr ? module : posix::MainModule(); }

// The entries of `module` with the given type and name, set aside by language below.
// Sets 1813 when the module has no resource of the type, 1814 when none of the name.
struct Candidates {
  const EmbeddedResource* First = nullptr;  // the first entry of the type and name
  HINSTANCE Module = nullptr;
  ResourceKey Type;
  ResourceKey Name;

  bool Matches(const EmbeddedResource& entry) const {
    return KeyMatches(Type, entry.TypeName, entry.TypeId) &&
           KeyMatches(Name, entry.Name, entry.NameId);
  }

  // The entry of exactly `language`.
  const EmbeddedResource* WithLanguage(LANGID language) const {
    for (std::size_t i = 0; i < Module->Count; ++i) {
      const EmbeddedResource& entry = Module->Resources[i];
      if (entry.Language == language && Matches(entry)) return &entry;
    }
    return nullptr;
  }

  // The languages of the entries, in module order.
  std::vector<LANGID> Languages() const {
    std::vector<LANGID> languages;
    for (std::size_t i = 0; i < Module->Count; ++i) {
      if (Matches(Module->Resources[i])) languages.push_back(Module->Resources[i].Language);
    }
    return languages;
  }
};

Candidates Collect(HMODULE module, LPCWSTR name, LPCWSTR type) {
  Candidates candidates;
  candidates.Module = ModuleOrMain(module);
  if (name == nullptr || type == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return candidates;
  }
  candidates.Type = ParseKey(type);
  candidates.Name = ParseKey(name);
  bool typeSeen = false;
  for (std::size_t i = 0; i < candidates.Module->Count; ++i) {
    const EmbeddedResource& entry = candidates.Module->Resources[i];
    if (!KeyMatches(candidates.Type, entry.TypeName, entry.TypeId)) continue;
    typeSeen = true;
    if (KeyMatches(candidates.Name, entry.Name, entry.NameId)) {
      candidates.First = &entry;
      return candidates;
    }
  }
  SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return candidates;
}

// The entry in the first language of the order both backends share (language_order.h).
const EmbeddedResource* FindInLanguageOrder(HMODULE module, LPCWSTR name, LPCWSTR type) {
  Candidates candidates = Collect(module, name, type);
  if (candidates.First == nullptr) return nullptr;
  const std::vector<LANGID> ordered = LanguagesInPreferenceOrder(
      candidates.Languages(), static_cast<LANGID>(GetThreadLocale() & 0xFFFF),
      static_cast<LANGID>(GetUserDefaultLCID() & 0xFFFF));
  return candidates.WithLanguage(ordered.front());
}

HRSRC ToHandle(const EmbeddedResource* entry) {
  return reinterpret_cast<HRSRC>(const_cast<EmbeddedResource*>(entry));
}

const EmbeddedResource* FromHandle(HRSRC resource) {
  return reinterpret_cast<const EmbeddedResource*>(resource);
}

}  // namespace

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  return ToHandle(FindInLanguageOrder(module, name, type));
}

HRSRC FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
  Candidates candidates = Collect(module, name, type);
  if (candidates.First == nullptr) return nullptr;
  const EmbeddedResource* entry = candidates.WithLanguage(language);
  if (entry == nullptr) SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
  return ToHandle(entry);
}

DWORD SizeofResource(HMODULE /*module*/, HRSRC resource) {
  if (resource == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  const EmbeddedResource* entry = FromHandle(resource);
  return static_cast<DWORD>(entry->End - entry->Begin);
}

HGLOBAL LoadResource(HMODULE /*module*/, HRSRC resource) {
  if (resource == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // The data lies in the executable's read-only image; the handle is its address, which
  // callers only read.
  return const_cast<unsigned char*>(FromHandle(resource)->Begin);
}

LPVOID LockResource(HGLOBAL data) { return data; }

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax) {
  if (buffer == nullptr || bufferMax < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (bufferMax > 0) buffer[0] = u'\0';

  // 1. The block of 16 strings that holds the id, in the language order.
  const UINT block = (id & 0xFFFF) / 16 + 1;
  const EmbeddedResource* entry = FindInLanguageOrder(instance, MAKEINTRESOURCEW(block), RT_STRING);
  if (entry == nullptr) return 0;

  // 2. Walk the counted strings before the one wanted; a table cut short holds no text.
  const unsigned char* at = entry->Begin;
  WORD length = 0;
  for (UINT slot = 0; slot <= id % 16; ++slot) {
    if (entry->End - at < 2) return 0;
    std::memcpy(&length, at, sizeof length);
    at += 2;
    if (slot < id % 16) {
      if (entry->End - at < 2 * static_cast<std::ptrdiff_t>(length)) return 0;
      at += 2 * length;
    }
  }
  if (entry->End - at < 2 * static_cast<std::ptrdiff_t>(length)) return 0;
  if (length == 0) return 0;

  // 3. bufferMax 0 asks for a read-only pointer to the text itself, which is not
  //    terminated; otherwise copy what fits and terminate.
  if (bufferMax == 0) {
    LPCWSTR text = reinterpret_cast<LPCWSTR>(at);
    std::memcpy(buffer, &text, sizeof text);
    return length;
  }
  const int copied = length < bufferMax - 1 ? length : bufferMax - 1;
  std::memcpy(buffer, at, sizeof(char16_t) * static_cast<std::size_t>(copied));
  buffer[copied] = u'\0';
  return copied;
}

}  // namespace platform
