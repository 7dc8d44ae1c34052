#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/files.h"
#include "platform/posix/host.h"
#include "support/scratch_dir.h"
#include "support/write_failure.h"

using namespace platform;
using testing_support::ScratchDir;

namespace {

HANDLE Open(const std::u16string& path, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

// Opens `path` in a child process and reports the child's result: 0 when the open
// succeeded, else its last-error code.
DWORD OpenInChild(const std::u16string& path, DWORD access, DWORD share) {
  pid_t child = ::fork();
  if (child == 0) {
    HANDLE file = Open(path, access, share, OPEN_EXISTING);
    ::_exit(file == INVALID_HANDLE_VALUE ? static_cast<int>(GetLastError() & 0xFF) : 0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? static_cast<DWORD>(WEXITSTATUS(status)) : 0xFFFF;
}

struct ShareCase {
  DWORD FirstAccess, FirstShare, SecondAccess, SecondShare, Expected;
};

constexpr DWORD R = GENERIC_READ;
constexpr DWORD W = GENERIC_WRITE;
constexpr DWORD SR = FILE_SHARE_READ;
constexpr DWORD SW = FILE_SHARE_WRITE;

TEST(CreateFileW, ShareModeHoldsBetweenProcesses) {
  ScratchDir scratch;
  std::u16string path = scratch.JoinW("shared.txt");
  scratch.WriteFile("shared.txt", "content");
  const ShareCase cases[] = {
      {R, SR, R, SR, 0},
      {R, SR | SW, R | W, SR | SW, 0},
      {R, SR, W, SR | SW, ERROR_SHARING_VIOLATION},          // the first denies writing
      {R | W, SR | SW, R, SR, ERROR_SHARING_VIOLATION},      // the second denies it
      {W, 0, R, SR | SW, ERROR_SHARING_VIOLATION},           // the first denies reading
      {R, SR | SW, R, SW, ERROR_SHARING_VIOLATION},          // the second denies reading
      {R | W, SR, R, SR | SW, 0},                            // reading shared,
      {R | W, SR, R | W, SR | SW, ERROR_SHARING_VIOLATION},  // writing not
      {R | W, SR | SW, R | W, SR | SW, 0},
  };
  for (const ShareCase& row : cases) {
    ScopedKernelHandle first(Open(path, row.FirstAccess, row.FirstShare, OPEN_EXISTING));
    ASSERT_TRUE(first);
    EXPECT_EQ(OpenInChild(path, row.SecondAccess, row.SecondShare), row.Expected)
        << std::hex << row.FirstAccess << "/" << row.FirstShare << " then " << row.SecondAccess
        << "/" << row.SecondShare;
  }
  // Closed, the file is free again.
  EXPECT_EQ(OpenInChild(path, W, 0), 0u);
}

TEST(CreateFileW, ShareModeHoldsWithinTheProcessAndSparesTheContent) {
  ScratchDir scratch;
  std::u16string path = scratch.JoinW("list.txt");
  scratch.WriteFile("list.txt", "keep");
  // As the patch-list writer holds its file: others may read, not write.
  ScopedKernelHandle writer(Open(path, R | W, SR, OPEN_ALWAYS));
  ASSERT_TRUE(writer);
  ScopedKernelHandle reader(Open(path, R, SR | SW, OPEN_EXISTING));
  EXPECT_TRUE(reader);
  SetLastError(0);
  EXPECT_EQ(Open(path, W, SR | SW, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(*scratch.ReadFile("list.txt"), "keep");  // a refused CREATE_ALWAYS truncates nothing
}

TEST(DeleteFileW, RefusedWhileAHandleDeniesDeleting) {
  ScratchDir scratch;
  scratch.WriteFile("a", "x");
  scratch.WriteFile("b", "x");
  {
    ScopedKernelHandle held(Open(scratch.JoinW("a"), R, SR | SW, OPEN_EXISTING));
    EXPECT_FALSE(DeleteFileW(scratch.JoinW("a").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    ScopedKernelHandle sharing(
        Open(scratch.JoinW("b"), R, SR | SW | FILE_SHARE_DELETE, OPEN_EXISTING));
    EXPECT_TRUE(DeleteFileW(scratch.JoinW("b").c_str()));
  }
  EXPECT_TRUE(DeleteFileW(scratch.JoinW("a").c_str()));
  EXPECT_FALSE(scratch.ReadFile("a"));
}

TEST(CreateFileW, CreateNewNeverGoesThroughALink) {
  ScratchDir scratch;
  scratch.WriteFile("target", "keep");
  ASSERT_EQ(::symlink(scratch.Join("target").c_str(), scratch.Join("link").c_str()), 0);
  ASSERT_EQ(::symlink(scratch.Join("missing").c_str(), scratch.Join("dangling").c_str()), 0);
  for (const char* name : {"link", "dangling", "target"}) {
    SetLastError(0);
    EXPECT_EQ(Open(scratch.JoinW(name), W, 0, CREATE_NEW), INVALID_HANDLE_VALUE) << name;
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS) << name;
  }
  EXPECT_EQ(*scratch.ReadFile("target"), "keep");
  EXPECT_FALSE(scratch.ReadFile("missing"));
}

TEST(CreateFileW, ReportsMissingNamesAndRefusalsAsWindowsDoes) {
  ScratchDir scratch;
  scratch.WriteFile("file", "x");
  ::mkdir(scratch.Join("dir").c_str(), 0755);
  struct Row {
    std::string Name;
    DWORD Access, Disposition, Expected;
  };
  const Row rows[] = {
      {"absent", R, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
      {"absent", W, TRUNCATE_EXISTING, ERROR_FILE_NOT_FOUND},
      {"nodir/absent", R, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
      {"nodir/new", W, CREATE_NEW, ERROR_PATH_NOT_FOUND},
      {"nodir/new", W, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
      {"file/below", W, OPEN_ALWAYS, ERROR_PATH_NOT_FOUND},
      {"dir", R, OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {"dir", W, OPEN_EXISTING, ERROR_ACCESS_DENIED},
      {"file", R, TRUNCATE_EXISTING, ERROR_INVALID_PARAMETER},
  };
  for (const Row& row : rows) {
    SetLastError(0);
    EXPECT_EQ(Open(scratch.JoinW(row.Name), row.Access, 0, row.Disposition), INVALID_HANDLE_VALUE)
        << row.Name;
    EXPECT_EQ(GetLastError(), row.Expected) << row.Name << " disposition " << row.Disposition;
  }
  if (::geteuid() != 0) {  // permissions do not bind the superuser
    ::chmod(scratch.Join("file").c_str(), 0);
    EXPECT_EQ(Open(scratch.JoinW("file"), R, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  }
}

// Names as NTFS takes them: any letter case finds the existing file (in every component),
// trailing dots and spaces are dropped, and the characters Windows refuses in names are
// refused with ERROR_INVALID_NAME, creating nothing.
TEST(WindowsNames, AnyCaseOpensTheExistingFileAndTrailingDotsAndSpacesGo) {
  ScratchDir scratch;
  ::mkdir(scratch.Join("Sub Dir").c_str(), 0755);
  scratch.WriteFile("Sub Dir/List.txt", "");
  scratch.WriteFile("Ärger.txt", "");
  scratch.WriteFile("Файл.txt", "");
  const std::string names[] = {"Sub Dir/List.txt",  "sub dir/LIST.TXT",      "SUB DIR\\list.Txt",
                               "Sub Dir/List.txt.", "Sub Dir/list.txt . ..", "ärger.TXT",
                               "фАЙЛ.txt"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    HANDLE file = Open(scratch.JoinW(name), W, 0, OPEN_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    DWORD written = 0;
    EXPECT_TRUE(SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER);
    EXPECT_TRUE(WriteFile(file, "x", 1, &written, nullptr));
    CloseHandle(file);
    EXPECT_NE(GetFileAttributesW(scratch.JoinW(name).c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Open(scratch.JoinW(name), W, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  }
  // Every write went to the three files there were; no other name was made.
  EXPECT_EQ(scratch.ReadFile("Sub Dir/List.txt"), "xxxxx");
  EXPECT_EQ(scratch.ReadFile("Ärger.txt"), "x");
  EXPECT_EQ(scratch.ReadFile("Файл.txt"), "x");
  EXPECT_EQ(testing_support::EntryNames(scratch.Path()),
            (std::vector<std::string>{"Sub Dir", "Ärger.txt", "Файл.txt"}));
  EXPECT_EQ(testing_support::EntryNames(scratch.Join("Sub Dir")),
            std::vector<std::string>{"List.txt"});
  // A new name keeps the case it was given, without its trailing dots and spaces.
  CloseHandle(Open(scratch.JoinW("SUB DIR/New.Log. "), W, 0, CREATE_NEW));
  EXPECT_EQ(testing_support::EntryNames(scratch.Join("Sub Dir")),
            (std::vector<std::string>{"List.txt", "New.Log"}));
  // Moves and deletes find the names in any case too.
  EXPECT_TRUE(MoveFileExW(scratch.JoinW("sub dir/new.log").c_str(),
                          scratch.JoinW("SUB DIR/list.TXT").c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(testing_support::EntryNames(scratch.Join("Sub Dir")),
            std::vector<std::string>{"List.txt"});
  EXPECT_TRUE(DeleteFileW(scratch.JoinW("SUB DIR/LIST.TXT").c_str()));
  EXPECT_TRUE(testing_support::EntryNames(scratch.Join("Sub Dir")).empty());
}

TEST(WindowsNames, RefusedCharactersGiveInvalidName) {
  ScratchDir scratch;
  scratch.WriteFile("file", "x");
  for (const char* name :
       {"a<b", "a>b", "a:b", "a\"b", "a|b", "a?b", "a*b", "a\x01b", "a\tb", "bad|dir/file"}) {
    SCOPED_TRACE(name);
    SetLastError(0);
    EXPECT_EQ(Open(scratch.JoinW(name), W, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    EXPECT_EQ(GetFileAttributesW(scratch.JoinW(name).c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    EXPECT_FALSE(DeleteFileW(scratch.JoinW(name).c_str()));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    EXPECT_FALSE(MoveFileExW(scratch.JoinW("file").c_str(), scratch.JoinW(name).c_str(), 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  }
  EXPECT_EQ(testing_support::EntryNames(scratch.Path()), std::vector<std::string>{"file"});
}

TEST(CreateFileW, DispositionsAndTheirLastError) {
  ScratchDir scratch;
  std::u16string path = scratch.JoinW("f");
  // OPEN_ALWAYS: created (0), then opened (183) with the content kept.
  SetLastError(77);
  {
    ScopedKernelHandle file(Open(path, W, 0, OPEN_ALWAYS));
    ASSERT_TRUE(file);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.Get(), "hello", 5, &written, nullptr));
  }
  {
    ScopedKernelHandle file(Open(path, R | W, 0, OPEN_ALWAYS));
    ASSERT_TRUE(file);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  }
  EXPECT_EQ(*scratch.ReadFile("f"), "hello");
  // CREATE_ALWAYS on an existing file: 183, emptied.
  {
    ScopedKernelHandle file(Open(path, W, 0, CREATE_ALWAYS));
    ASSERT_TRUE(file);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  }
  EXPECT_EQ(*scratch.ReadFile("f"), "");
  // TRUNCATE_EXISTING empties; backslashes separate.
  scratch.WriteFile("f", "again");
  std::u16string windowsPath = path;
  windowsPath[windowsPath.rfind(u'/')] = u'\\';
  ScopedKernelHandle file(Open(windowsPath, W, 0, TRUNCATE_EXISTING));
  ASSERT_TRUE(file);
  EXPECT_EQ(*scratch.ReadFile("f"), "");
}

TEST(WriteFile, WritesElevenMegabytesInOneRequest) {
  ScratchDir scratch;
  std::string data(11 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 131) >> 3);
  ScopedKernelHandle file(Open(scratch.JoinW("big"), W, 0, CREATE_NEW));
  ASSERT_TRUE(file);
  DWORD written = 0;
  EXPECT_EQ(WriteFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr),
            1);
  EXPECT_EQ(written, data.size());
  file.Reset();
  EXPECT_EQ(*scratch.ReadFile("big"), data);
}

// Bytes of the program's own read-only image, as an embedded resource is: WriteFile copies
// them from the executable file, and they must arrive exactly, from any start within the
// image, after bytes from the heap, and into a pipe, where the kernel cannot copy.
constexpr auto kImageBytes = [] {
  std::array<unsigned char, 70001> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<unsigned char>(i * 37 + (i >> 9));
  return bytes;
}();

TEST(WriteFile, BytesOfTheImageArriveWholeInAFileAndAPipe) {
  ScratchDir scratch;
  ScopedKernelHandle file(Open(scratch.JoinW("image"), W, 0, CREATE_NEW));
  ASSERT_TRUE(file);
  std::string heap(777, 'h');
  DWORD written = 0;
  ASSERT_EQ(WriteFile(file.Get(), heap.data(), static_cast<DWORD>(heap.size()), &written, nullptr),
            1);
  ASSERT_EQ(
      WriteFile(file.Get(), kImageBytes.data() + 1, kImageBytes.size() - 1, &written, nullptr), 1);
  EXPECT_EQ(written, kImageBytes.size() - 1);
  file.Reset();
  std::string expected = heap + std::string(kImageBytes.begin() + 1, kImageBytes.end());
  EXPECT_EQ(*scratch.ReadFile("image"), expected);

  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  EXPECT_EQ(posix::WriteFromMemoryOrImage(pipe[1], kImageBytes.data() + 3, 1000), 1000);
  std::string received(1000, '\0');
  EXPECT_EQ(::read(pipe[0], received.data(), received.size()), 1000);
  EXPECT_EQ(received, std::string(kImageBytes.begin() + 3, kImageBytes.begin() + 1003));
  ::close(pipe[0]);
  ::close(pipe[1]);
}

TEST(WriteFile, AFailureHalfWayReportsWhatWasWritten) {
  ScratchDir scratch;
  ScopedKernelHandle file(Open(scratch.JoinW("half"), W, 0, CREATE_NEW));
  ASSERT_TRUE(file);
  std::string data(5000, 'x');
  DWORD written = 12345;
  {
    testing_support::ScopedWriteFailure full(1000);
    EXPECT_EQ(WriteFile(file.Get(), data.data(), 5000, &written, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  }
  EXPECT_EQ(written, 1000u);
  EXPECT_EQ(scratch.ReadFile("half")->size(), 1000u);
  // The hook is gone: the rest goes out.
  EXPECT_EQ(WriteFile(file.Get(), data.data(), 4000, &written, nullptr), 1);
  EXPECT_EQ(scratch.ReadFile("half")->size(), 5000u);
}

TEST(Files, PointerReadTruncateAndAccess) {
  ScratchDir scratch;
  scratch.WriteFile("f", "0123456789");
  ScopedKernelHandle file(Open(scratch.JoinW("f"), R | W, 0, OPEN_EXISTING));
  ASSERT_TRUE(file);
  // Appending as the patch-list writer does.
  EXPECT_EQ(SetFilePointer(file.Get(), 0, nullptr, FILE_END), 10u);
  DWORD count = 0;
  ASSERT_TRUE(WriteFile(file.Get(), "ab", 2, &count, nullptr));
  // A move before the start fails and leaves the pointer.
  EXPECT_EQ(SetFilePointer(file.Get(), -100, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  EXPECT_EQ(SetFilePointer(file.Get(), 0, nullptr, FILE_CURRENT), 12u);
  LONG high = -1;  // with the high part, -4 is the 64-bit value -4
  EXPECT_EQ(SetFilePointer(file.Get(), -4, &high, FILE_CURRENT), 8u);
  EXPECT_EQ(high, 0);
  char buffer[16] = {};
  ASSERT_TRUE(ReadFile(file.Get(), buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(std::string(buffer, count), "89ab");
  ASSERT_TRUE(ReadFile(file.Get(), buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(count, 0u);  // the end: success with nothing
  SetFilePointer(file.Get(), 3, nullptr, FILE_BEGIN);
  ASSERT_TRUE(SetEndOfFile(file.Get()));
  EXPECT_TRUE(FlushFileBuffers(file.Get()));
  EXPECT_EQ(*scratch.ReadFile("f"), "012");

  ScopedKernelHandle readOnly(Open(scratch.JoinW("f"), R, SR | SW, OPEN_EXISTING));
  EXPECT_FALSE(readOnly);  // the first handle shares nothing
  file.Reset();
  readOnly.Reset(Open(scratch.JoinW("f"), R, SR | SW, OPEN_EXISTING));
  ASSERT_TRUE(readOnly);
  EXPECT_FALSE(WriteFile(readOnly.Get(), "x", 1, &count, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(CloseHandle, RefusesWhatIsNotAnOpenHandle) {
  ScratchDir scratch;
  HANDLE file = Open(scratch.JoinW("f"), W, 0, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_FALSE(CloseHandle(file));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  DWORD written = 0;
  EXPECT_FALSE(WriteFile(file, "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(MoveFileExW, ReplacesOnlyWhenAsked) {
  ScratchDir scratch;
  scratch.WriteFile("new", "new");
  scratch.WriteFile("old", "old");
  EXPECT_FALSE(MoveFileExW(scratch.JoinW("new").c_str(), scratch.JoinW("old").c_str(), 0));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(*scratch.ReadFile("old"), "old");
  EXPECT_TRUE(MoveFileExW(scratch.JoinW("new").c_str(), scratch.JoinW("old").c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
  EXPECT_EQ(*scratch.ReadFile("old"), "new");
  EXPECT_FALSE(scratch.ReadFile("new"));
  EXPECT_FALSE(MoveFileExW(scratch.JoinW("new").c_str(), scratch.JoinW("x").c_str(), 0));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(MoveFileExW(scratch.JoinW("old").c_str(), scratch.JoinW("nodir/x").c_str(),
                           MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST(MoveFileExW, NeverReplacesAnOpenFileAndMovesNoFileThatDeniesDeleting) {
  ScratchDir scratch;
  scratch.WriteFile("new", "new");
  scratch.WriteFile("old", "old");
  const std::u16string from = scratch.JoinW("new");
  const std::u16string to = scratch.JoinW("old");
  {
    // Windows refuses the replacement even when the open handle shares everything.
    ScopedKernelHandle open(Open(
        to, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING));
    ASSERT_TRUE(open);
    EXPECT_FALSE(MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(*scratch.ReadFile("old"), "old");
  }
  {
    ScopedKernelHandle open(Open(from, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    ASSERT_TRUE(open);
    EXPECT_FALSE(MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  }
  EXPECT_TRUE(MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(*scratch.ReadFile("old"), "new");
}

TEST(GetFileAttributesW, KindsAndMissingNames) {
  ScratchDir scratch;
  scratch.WriteFile("file", "x");
  ::mkdir(scratch.Join("dir").c_str(), 0755);
  ::symlink(scratch.Join("file").c_str(), scratch.Join("link").c_str());
  ::symlink(scratch.Join("dir").c_str(), scratch.Join("dirlink").c_str());
  EXPECT_EQ(GetFileAttributesW(scratch.JoinW("file").c_str()), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(GetFileAttributesW(scratch.JoinW("dir").c_str()), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesW(scratch.JoinW("link").c_str()), FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(GetFileAttributesW(scratch.JoinW("dirlink").c_str()),
            FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesW(scratch.JoinW("absent").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesW(scratch.JoinW("nodir\\absent").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(DeleteFileW(scratch.JoinW("dir").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFileW(scratch.JoinW("absent").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(GetFullPathNameW, MakesPathsAbsoluteByTheWindowsConvention) {
  ScratchDir scratch;
  char* saved = ::getcwd(nullptr, 0);
  ASSERT_EQ(::chdir(scratch.Path().c_str()), 0);
  struct Row {
    const char16_t* Path;
    std::u16string Expected;
    const char16_t* FilePart;
  };
  const Row rows[] = {
      {u"out.msp", scratch.PathW() + u"/out.msp", u"out.msp"},
      {u"a\\b\\..\\c.txt", scratch.PathW() + u"/a/c.txt", u"c.txt"},
      {u"/x/./y//z", u"/x/y/z", u"z"},
      {u"/x/y/", u"/x/y/", nullptr},
      {u"/..", u"/", nullptr},
  };
  for (const Row& row : rows) {
    char16_t buffer[MAX_PATH];
    LPWSTR filePart = buffer;
    DWORD length = GetFullPathNameW(row.Path, MAX_PATH, buffer, &filePart);
    EXPECT_EQ(std::u16string(buffer, length), row.Expected);
    if (row.FilePart == nullptr) {
      EXPECT_EQ(filePart, nullptr);
    } else {
      EXPECT_EQ(std::u16string(filePart), row.FilePart);
    }
  }
  // Too small: the size needed, terminator included.
  char16_t tiny[8];
  EXPECT_EQ(GetFullPathNameW(u"/abcd", 4, tiny, nullptr), 6u);
  EXPECT_EQ(GetFullPathNameW(u"/abcd", 6, tiny, nullptr), 5u);
  ASSERT_EQ(::chdir(saved), 0);
  std::free(saved);
}

}  // namespace
