// The payloads the executable carries as resources: the patch package ("MSP" "IDR_MSP")
// and the deployment notes ("TXT" 206, 207 ...), all in ModuleInstance.
#pragma once

#include "platform/platform.h"

// The bytes of one embedded resource, readable while the process lives.
struct ResourceBytes {
  platform::LPCVOID Data = nullptr;
  platform::DWORD Size = 0;
};

enum class ResourceLookup {
  Found,     // `bytes` holds the resource
  Missing,   // no such resource (last error 1813 or 1814)
  Unusable,  // found, but empty or not loadable (last error as the failing call left it)
};

// Finds resource `name` of `type` in ModuleInstance, whatever the thread's language, and
// obtains its bytes without copying them. `bytes` is set only when Found.
ResourceLookup LoadEmbeddedResource(platform::LPCWSTR name, platform::LPCWSTR type,
                                    ResourceBytes& bytes);
