#include "host/host_guard.h"

#include <cstring>
#include <string>
#include <vector>

#include "app/process_state.h"
#include "log/run_log.h"
#include "messages/message_catalogue.h"
#include "messages/message_ids.h"

using namespace platform;

WCHAR WatchedImageName[kWatchedImageNameCapacity] = {};

namespace {

// The host application's process image name.
constexpr WCHAR kHostImageName[] = u"kyro.exe";

// The one entry the box names as the program to close; the line break belongs to it.
constexpr WCHAR kProgramList[] = u"Velmora\n";

// Room the box text has beyond its format for what the two %s bring in.
constexpr std::size_t kBoxTextSpare = 512;

// Retry and Cancel, the error icon, in front of every other window.
constexpr UINT kGuardBoxStyle = MB_RETRYCANCEL | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST;
static_assert(kGuardBoxStyle == 0x50015);

}  // namespace

bool IsProcessRunning(LPCWSTR imageName) {
  // 1. Without a process list nothing proves the host has ended, so it counts as running.
  ScopedKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (snapshot.Get() == INVALID_HANDLE_VALUE) return true;

  // 2. One entry for the whole walk: its size set, every other byte zero.
  PROCESSENTRY32W entry;
  std::memset(&entry, 0, sizeof(entry));
  entry.dwSize = sizeof(entry);

  // 3. An empty list.
  if (!Process32FirstW(snapshot.Get(), &entry)) return false;

  // 4. The system entry (id 0) is never the host, whatever name it reports.
  do {
    if (entry.th32ProcessID != 0 && lstrcmpiW(entry.szExeFile, imageName) == 0) return true;
  } while (Process32NextW(snapshot.Get(), &entry));

  // 5. No entry left.
  return false;
}

bool ConfirmHostClosed() {
  // 1. Texts are loaded once, in the language the thread has now.
  std::u16string caption;
  std::u16string format;
  LoadMessageText(ModuleInstance, kCaptionInstallError, caption, kMessageTextCapacity);
  LoadMessageText(ModuleInstance, kTextProgramsRunning, format, kMessageTextCapacity);

  // 2. The box text is the same for every pass of the loop.
  std::vector<WCHAR> text(format.size() + kBoxTextSpare, u'\0');
  wsprintfW(text.data(), format.c_str(), kProgramList, u"");

  // 3. The name every check of this call looks for; it stays here afterwards.
  lstrcpyW(WatchedImageName, kHostImageName);

  // 4. and 5. Checking and asking until the host has ended or the user gives up. The box is
  // shown directly: a quiet run must still wait for the host to close.
  bool closed = false;
  for (;;) {
    if (!IsProcessRunning(WatchedImageName)) {
      closed = true;
      break;
    }
    int answer = MessageBoxW(nullptr, text.data(), caption.c_str(), kGuardBoxStyle);
    LogBox(kTextProgramsRunning, caption, text.data(), answer);
    if (answer == IDCANCEL) break;
  }

  // 6. The strings and the box text go with the scope.
  return closed;
}
