#include "payload/patch_list.h"

#include <cstdint>
#include <optional>

#include "messages/message_box.h"
#include "log/run_log.h"
#include "messages/message_ids.h"
#include "payload/extraction.h"
#include "payload/resource_catalogue.h"
#include "platform/platform.h"
#include "products/patch_targets.h"

using namespace platform;

namespace {

// Notes are "TXT" resources numbered from 206 on; resource ids are 16-bit.
constexpr UINT kFirstNoteId = 206;
constexpr UINT kLastResourceId = 0xFFFF;
constexpr char kSeparator[] = "*****\r\n";
constexpr char kLineEnd[] = "\r\n";
constexpr std::size_t kNameCharacters = 4;

// Steps 1-6: the default name. The temporary package copy is left where it was written.
std::u16string DefaultListName() {
  std::u16string packagePath;
  if (!ExtractPackage(packagePath)) return u"patchlist.txt";
  std::u16string targets;
  if (!ReadPatchTargets(packagePath, targets)) return u"patchlist.txt";
  return PatchListNameFromTargets(targets);
}

// Moves the file pointer; its new position, 64-bit, or nothing when the move failed.
std::optional<std::uint64_t> Seek(HANDLE file, std::int64_t distance, DWORD method) {
  LONG high = static_cast<LONG>(static_cast<std::uint64_t>(distance) >> 32);
  SetLastError(ERROR_SUCCESS);
  DWORD low = SetFilePointer(file, static_cast<LONG>(static_cast<DWORD>(distance)), &high, method);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return std::nullopt;
  return (static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low;
}

// A write counts only when every byte went out.
bool WriteAll(HANDLE file, LPCVOID data, DWORD size) {
  DWORD written = 0;
  return WriteFile(file, data, size, &written, nullptr) != 0 && written == size;
}

// Steps 9 and 11: note `id`, found by its "#<id>" name in whatever language it is filed.
ResourceLookup LocateNote(UINT id, ResourceBytes& note) {
  char16_t name[1024];
  wsprintfW(name, u"#%d", static_cast<int>(id));
  return LoadEmbeddedResource(name, u"TXT", note);
}

// Steps 12-14: one block at the end of the file. Readers and deployment tools split the
// list at its separators, so a block whose write fails, its line end included, is cut off
// again: the file keeps the length it had before the block. Stuck when the file could not
// be put back (or its length not read), after which nothing more may be appended.
enum class BlockWrite { Written, CutOff, Stuck };
BlockWrite AppendBlock(HANDLE file, const ResourceBytes& note) {
  std::optional<std::uint64_t> start = Seek(file, 0, FILE_CURRENT);
  if (!start) return BlockWrite::Stuck;
  if (WriteAll(file, kSeparator, sizeof kSeparator - 1) && WriteAll(file, note.Data, note.Size) &&
      WriteAll(file, kLineEnd, sizeof kLineEnd - 1)) {
    return BlockWrite::Written;
  }
  DWORD code = GetLastError();
  bool putBack =
      Seek(file, static_cast<std::int64_t>(*start), FILE_BEGIN) == start && SetEndOfFile(file) != 0;
  SetLastError(code);
  return putBack ? BlockWrite::CutOff : BlockWrite::Stuck;
}

}  // namespace

std::u16string PatchListNameFromTargets(const std::u16string& targets) {
  // 4. What follows the first colon, or all of it.
  std::u16string::size_type colon = targets.find(u':');
  std::u16string rest = colon == std::u16string::npos ? targets : targets.substr(colon + 1);
  // 5. At most four characters after the first dash, or the first four.
  std::u16string::size_type dash = rest.find(u'-');
  std::u16string characters = dash == std::u16string::npos ? rest.substr(0, kNameCharacters)
                                                           : rest.substr(dash + 1, kNameCharacters);
  // 6. The name.
  return u"patchlist" + characters + u".txt";
}

bool WritePatchList(std::u16string& path) {
  // 1-6. A name of its own when none was given.
  if (path.empty()) path = DefaultListName();

  // 7. Open for appending; other processes may read the list meanwhile but not write it.
  ScopedKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    LogLine({u"patch list: ", LogQuoted(path), u" could not be opened (error ",
             LogNumber(GetLastError()), u")"});
    ShowMessage(kMessagePatchListFailed);
    return false;
  }

  // 8. The end of the file, 64-bit: a pointer left at the start would overwrite the list.
  if (!Seek(file.Get(), 0, FILE_END)) {
    LogLine({u"patch list: the end of ", LogQuoted(path), u" could not be found (error ",
             LogNumber(GetLastError()), u")"});
    ShowMessage(kMessagePatchListFailed);
    return false;
  }

  // 9-14. One block per note, in id order, until an id is missing.
  unsigned appended = 0;
  for (UINT id = kFirstNoteId; id <= kLastResourceId; ++id) {
    ResourceBytes note;
    ResourceLookup lookup = LocateNote(id, note);
    if (lookup == ResourceLookup::Missing) {
      if (id == kFirstNoteId) ShowMessage(kMessagePatchListFailed);
      break;
    }
    if (lookup == ResourceLookup::Unusable) {
      LogLine({u"patch list: note ", LogNumber(id), u" is empty or cannot be loaded"});
      ShowMessage(kMessageInstallFailed);
      break;
    }
    BlockWrite written = AppendBlock(file.Get(), note);
    if (written == BlockWrite::Written) {
      ++appended;
      continue;
    }
    LogLine({u"patch list: note ", LogNumber(id), u" could not be written (error ",
             LogNumber(GetLastError()),
             written == BlockWrite::CutOff ? u"); the file was left without it"
                                           : u"); the file could not be put back"});
    if (written == BlockWrite::Stuck) break;
  }

  // 15. The holder closes the file.
  LogLine(
      {u"patch list: ", LogNumber(appended), u" deployment notes appended to ", LogQuoted(path)});
  return true;
}
