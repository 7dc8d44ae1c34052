#include "install/patch_application.h"

#include "app/process_state.h"
#include "log/run_log.h"
#include "messages/message_box.h"
#include "messages/message_catalogue.h"
#include "messages/message_ids.h"

using namespace platform;

namespace {

// The longest line the installer is handed, and the buffer it is formatted into.
constexpr std::size_t kCommandLineCapacity = 1024;

// A value inside double quotes by the installer's property syntax: a quote is doubled.
std::u16string QuotedValue(const std::u16string& value) {
  std::u16string quoted;
  for (char16_t c : value) {
    quoted += c;
    if (c == u'"') quoted += u'"';
  }
  return quoted;
}

}  // namespace

bool BuildPatchCommandLine(ProductRecord& record, const std::u16string& packagePath) {
  static constexpr char16_t kFormat[] =
      u"PATCH=\"%s\" PATCH_NO_UNINSTALL=0 REBOOTPROMPT=S FILESINUSETEXT=\"%s\"";
  // The format's own characters, without its two "%s".
  constexpr std::size_t kFixedLength = sizeof(kFormat) / sizeof(kFormat[0]) - 1 - 4;

  // 1. The installer takes PATCH as a ";"-separated list of packages.
  if (packagePath.find(u';') != std::u16string::npos) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  // 2. Text 316 in the product's language; a missing text leaves the value empty.
  std::u16string closeText;
  LoadMessageText(ModuleInstance, kTextCloseApplications, closeText, kMessageTextCapacity);
  // 3. Both values quoted; the whole line must fit the buffer with its terminator.
  std::u16string path = QuotedValue(packagePath);
  std::u16string text = QuotedValue(closeText);
  if (kFixedLength + path.size() + text.size() >= kCommandLineCapacity) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  // 4. Format and keep it in the record.
  char16_t buffer[kCommandLineCapacity];
  wsprintfW(buffer, kFormat, path.c_str(), text.c_str());
  record.PatchCommandLine = buffer;
  return true;
}

bool IsPatchApplied(UINT result) {
  return result == ERROR_SUCCESS || result == ERROR_SUCCESS_REBOOT_INITIATED ||
         result == ERROR_SUCCESS_REBOOT_REQUIRED;
}

UINT ReconfigureProduct(const ProductRecord& record) {
  // 1. The installer applies the patch named on the command line.
  LogLine({u"patch ", record.ProductCode, u": command line ", record.PatchCommandLine});
  UINT result = MsiConfigureProductExW(record.ProductCode.c_str(), INSTALLLEVEL_DEFAULT,
                                       INSTALLSTATE_DEFAULT, record.PatchCommandLine.c_str());
  LogLine({u"patch ", record.ProductCode, u": the installer returned ", LogNumber(result)});
  // 2. The outcome; nothing may stand between setting the code and the message that
  // prints it.
  if (IsPatchApplied(result)) {
    ShowMessage(kMessageInstallSucceeded);
  } else {
    SetLastError(result);
    ShowMessage(kMessageInstallFailed);
  }
  return result;
}
