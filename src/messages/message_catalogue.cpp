#include "messages/message_catalogue.h"

#include <vector>

int LoadMessageText(platform::HINSTANCE instance, platform::UINT id, std::u16string& text,
                    int capacity) {
  text.clear();
  // A capacity of 0 would ask LoadStringW for a pointer into the resource instead of a copy.
  if (capacity < 1) return 0;

  // 1. The lookup buffer.
  std::vector<platform::WCHAR> buffer(static_cast<std::size_t>(capacity), u'\0');

  // 2. At most capacity - 1 characters and a terminator; "" and 0 when there is no text.
  int count = platform::LoadStringW(instance, id, buffer.data(), capacity);
  if (count < 0) count = 0;
  if (count > capacity - 1) count = capacity - 1;

  // 3. The text up to its terminator.
  text.assign(buffer.data(), static_cast<std::size_t>(count));
  return count;
}
