#include "payload/resource_catalogue.h"

#include "app/process_state.h"

using namespace platform;

ResourceLookup LoadEmbeddedResource(LPCWSTR name, LPCWSTR type, ResourceBytes& bytes) {
  HRSRC resource = FindResourceW(ModuleInstance, name, type);
  if (resource == nullptr) return ResourceLookup::Missing;
  DWORD size = SizeofResource(ModuleInstance, resource);
  if (size == 0) return ResourceLookup::Unusable;
  HGLOBAL loaded = LoadResource(ModuleInstance, resource);
  if (loaded == nullptr) return ResourceLookup::Unusable;
  LPCVOID data = LockResource(loaded);
  if (data == nullptr) return ResourceLookup::Unusable;
  bytes = ResourceBytes{data, size};
  return ResourceLookup::Found;
}
