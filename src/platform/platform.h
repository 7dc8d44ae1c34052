// The Windows operations the system calls, in their Windows shape: the same names,
// handles, buffers with capacities counted in characters, counts returned, result codes
// and last-error values with their documented numbers. Text is UTF-16 (char16_t).
//
// Two backends define everything declared here: win32/ binds it to kernel32, user32,
// shell32 and msi.dll; posix/ is a small emulated Windows host. System code includes
// this header and nothing of either operating system.
//
// A backend that also includes <windows.h> must include this header first: the Windows
// headers define many of the names below as macros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace platform {

// ---------------------------------------------------------------------------------------
// Types
// ---------------------------------------------------------------------------------------

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using INT = int;
using LONG = std::int32_t;
using ULONG_PTR = std::uintptr_t;
using LCID = DWORD;
using LANGID = WORD;
using WCHAR = char16_t;
using LPWSTR = char16_t*;
using LPCWSTR = const char16_t*;
using LPVOID = void*;
using LPCVOID = const void*;

using HANDLE = void*;
struct HINSTANCE__;  // completed by each backend
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
struct HRSRC__;
using HRSRC = HRSRC__*;
using HGLOBAL = void*;
struct HWND__;
using HWND = HWND__*;

// An installer handle: a nonzero 32-bit value, 0 for none. Closed by MsiCloseHandle.
using MSIHANDLE = std::uint32_t;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

inline constexpr DWORD MAX_PATH = 260;

// One running process as a snapshot walk reports it.
struct PROCESSENTRY32W {
  DWORD dwSize;
  DWORD cntUsage;
  DWORD th32ProcessID;
  ULONG_PTR th32DefaultHeapID;
  DWORD th32ModuleID;
  DWORD cntThreads;
  DWORD th32ParentProcessID;
  LONG pcPriClassBase;
  DWORD dwFlags;
  WCHAR szExeFile[MAX_PATH];
};

// ---------------------------------------------------------------------------------------
// Result codes and last-error values
// ---------------------------------------------------------------------------------------

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_INVALID_DATA = 13;
inline constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
inline constexpr DWORD ERROR_NO_MORE_FILES = 18;
inline constexpr DWORD ERROR_BAD_LENGTH = 24;
inline constexpr DWORD ERROR_WRITE_FAULT = 29;
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_FILE_EXISTS = 80;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_OPEN_FAILED = 110;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_ENVVAR_NOT_FOUND = 203;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_NO_DATA = 232;
inline constexpr DWORD ERROR_PIPE_NOT_CONNECTED = 233;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
inline constexpr DWORD ERROR_UNABLE_TO_REMOVE_REPLACED = 1175;
inline constexpr DWORD ERROR_UNABLE_TO_MOVE_REPLACEMENT = 1176;
inline constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
inline constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
inline constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
inline constexpr DWORD ERROR_RESOURCE_LANG_NOT_FOUND = 1815;

// Windows Installer results.
inline constexpr UINT ERROR_INSTALL_SERVICE_FAILURE = 1601;
inline constexpr UINT ERROR_INSTALL_USEREXIT = 1602;
inline constexpr UINT ERROR_INSTALL_FAILURE = 1603;
inline constexpr UINT ERROR_UNKNOWN_PRODUCT = 1605;
inline constexpr UINT ERROR_UNKNOWN_PROPERTY = 1608;
inline constexpr UINT ERROR_INVALID_HANDLE_STATE = 1609;
inline constexpr UINT ERROR_BAD_CONFIGURATION = 1610;
inline constexpr UINT ERROR_BAD_QUERY_SYNTAX = 1615;
inline constexpr UINT ERROR_INVALID_FIELD = 1616;
inline constexpr UINT ERROR_INSTALL_ALREADY_RUNNING = 1618;
inline constexpr UINT ERROR_INSTALL_PACKAGE_OPEN_FAILED = 1619;
inline constexpr UINT ERROR_INSTALL_PACKAGE_INVALID = 1620;
inline constexpr UINT ERROR_INSTALL_TRANSFORM_FAILURE = 1624;
inline constexpr UINT ERROR_FUNCTION_FAILED = 1627;
inline constexpr UINT ERROR_INVALID_TABLE = 1628;
inline constexpr UINT ERROR_DATATYPE_MISMATCH = 1629;
inline constexpr UINT ERROR_CREATE_FAILED = 1631;
inline constexpr UINT ERROR_PATCH_PACKAGE_OPEN_FAILED = 1635;
inline constexpr UINT ERROR_PATCH_PACKAGE_INVALID = 1636;
inline constexpr UINT ERROR_INVALID_COMMAND_LINE = 1639;
inline constexpr UINT ERROR_SUCCESS_REBOOT_INITIATED = 1641;
inline constexpr UINT ERROR_PATCH_TARGET_NOT_FOUND = 1642;
inline constexpr UINT ERROR_SUCCESS_REBOOT_REQUIRED = 3010;

// ---------------------------------------------------------------------------------------
// Kernel, user-interface and shell services
// ---------------------------------------------------------------------------------------

// The calling thread's last-error code. A code set just before is the code read.
DWORD GetLastError();
void SetLastError(DWORD code);

// The process command line: on the posix host, argv quoted back so that splitting it
// with CommandLineToArgvW gives argv again. Valid while the process lives.
LPWSTR GetCommandLineW();

// Splits a command line by the Windows rules (program name, quotes, backslashes). Returns
// a vector of *numArgs strings released with GlobalFree, or nullptr (last error set).
LPWSTR* CommandLineToArgvW(LPCWSTR commandLine, int* numArgs);

// Releases memory handed out by CommandLineToArgvW. Returns nullptr on success.
HGLOBAL GlobalFree(HGLOBAL memory);

// Language identifiers and locales. A locale's language is its low 16 bits.
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
LCID GetUserDefaultLCID();
LCID GetThreadLocale();
// Makes `locale` the calling thread's locale; later string lookups on this thread use its
// language. 0 and LOCALE_USER_DEFAULT stand for the user default locale.
BOOL SetThreadLocale(LCID locale);

// Resources. A name or type is either a string, "#" and decimal digits for an integer id,
// or an integer id made by MAKEINTRESOURCEW.
inline LPCWSTR MAKEINTRESOURCEW(UINT id) {
  return reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(id)));
}
inline bool IS_INTRESOURCE(LPCWSTR name) { return (reinterpret_cast<ULONG_PTR>(name) >> 16) == 0; }
inline const LPCWSTR RT_ICON = MAKEINTRESOURCEW(3);
inline const LPCWSTR RT_STRING = MAKEINTRESOURCEW(6);
inline const LPCWSTR RT_GROUP_ICON = MAKEINTRESOURCEW(14);
inline const LPCWSTR RT_MANIFEST = MAKEINTRESOURCEW(24);

// Finds a resource by name and type in `module`: the thread language's entry when there
// is one, else the entry of the fallback order, so a resource filed under one language
// only is found whatever the thread's language. nullptr when missing (1813 no such type,
// 1814 no such name).
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
// Finds the entry of exactly `language`; nullptr when missing (1813, 1814, 1815).
HRSRC FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language);
// The size of a found resource in bytes; 0 on failure.
DWORD SizeofResource(HMODULE module, HRSRC resource);
// The resource's data handle and its bytes, readable while the process lives.
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);

// Copies string `id` of the thread locale's language (with the resource fallback order)
// into `buffer`, cut to bufferMax - 1 characters and terminated. Returns the number of
// characters copied; 0 when the string is missing or empty (the buffer then holds "").
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax);

// Message boxes.
inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_OKCANCEL = 0x1;
inline constexpr UINT MB_YESNO = 0x4;
inline constexpr UINT MB_RETRYCANCEL = 0x5;
inline constexpr UINT MB_ICONERROR = 0x10;
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONWARNING = 0x30;
inline constexpr UINT MB_ICONINFORMATION = 0x40;
inline constexpr UINT MB_SETFOREGROUND = 0x10000;
inline constexpr UINT MB_TOPMOST = 0x40000;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDRETRY = 4;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Shows a modal box and waits for the answer. Returns the button pressed (IDOK ...);
// closing the box answers IDCANCEL, or IDOK for a box with only an OK button.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// Formats into `buffer` as wsprintfW does for the conversions the system uses: %d (a 32-bit
// signed int), %s (a UTF-16 string), %%. Writes at most 1024 characters, the terminator
// included; `buffer` must hold the formatted text. Returns the number of characters
// stored, the terminator not counted.
int wsprintfW(LPWSTR buffer, LPCWSTR format, ...);

// Converts `length` UTF-16 units of `text` (-1: up to and with its terminator) to the code
// page `codePage`; only CP_UTF8 is used, with `flags` 0 and no default character. A lone
// surrogate becomes U+FFFD. Returns the bytes written into `buffer`, or with `bufferSize`
// 0 the bytes needed; 0 on failure (ERROR_INSUFFICIENT_BUFFER when they do not fit).
inline constexpr UINT CP_UTF8 = 65001;
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, char* buffer,
                        int bufferSize, const char* defaultChar, BOOL* usedDefaultChar);

int lstrlenW(LPCWSTR text);
// Compares two texts ignoring case; 0 when equal, negative or positive otherwise.
int lstrcmpiW(LPCWSTR first, LPCWSTR second);
// Copies `source` and its terminator into `destination`; returns `destination`.
LPWSTR lstrcpyW(LPWSTR destination, LPCWSTR source);

// Environment. Returns the value's length without terminator when it fits `size`, else
// the size needed with terminator; 0 when unset (ERROR_ENVVAR_NOT_FOUND).
DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size);

// The temporary directory with a trailing separator: the length without terminator, a
// larger number (the size needed) when it does not fit `bufferLength`, 0 on failure.
DWORD GetTempPathW(DWORD bufferLength, LPWSTR buffer);

// Files. A backslash in a path is a separator on every backend.
inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
// Writing at the end of the file only: without GENERIC_WRITE, every write lands whole at the
// file's end as it is at that moment, whoever else appends meanwhile.
inline constexpr DWORD FILE_APPEND_DATA = 0x4;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD FILE_SHARE_WRITE = 0x2;
inline constexpr DWORD FILE_SHARE_DELETE = 0x4;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
inline constexpr DWORD FILE_FLAG_OPEN_REPARSE_POINT = 0x00200000;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~ULONG_PTR{0});

// Opens or creates a file. The share mode holds between processes: while one handle
// denies writing, another open for writing fails with ERROR_SHARING_VIOLATION (32).
// CREATE_NEW never opens an existing name, a link included (ERROR_FILE_EXISTS).
// FILE_FLAG_OPEN_REPARSE_POINT: a link at `path` is not followed. Windows opens the link
// itself (GetFileInformationByHandle then shows FILE_ATTRIBUTE_REPARSE_POINT); the posix host,
// where a link cannot be opened as a file, fails. Either way nothing behind the link is reached.
// Returns INVALID_HANDLE_VALUE on failure. With OPEN_ALWAYS, an existing file sets the
// last error to ERROR_ALREADY_EXISTS and a new one to 0. A device or pipe is opened for
// the access asked and never cut; a pipe nobody reads gives ERROR_PIPE_NOT_CONNECTED (233).
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, void* security, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
// Moves the file pointer; returns the low 32 bits of the new position, or
// INVALID_SET_FILE_POINTER with the last error set.
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod);
// Writes `count` bytes at the file pointer; nonzero on success, *written = bytes written.
BOOL WriteFile(HANDLE file, LPCVOID data, DWORD count, DWORD* written, void* overlapped);
BOOL ReadFile(HANDLE file, LPVOID data, DWORD count, DWORD* read, void* overlapped);
// Cuts or extends the file at the file pointer.
BOOL SetEndOfFile(HANDLE file);
BOOL FlushFileBuffers(HANDLE file);
BOOL CloseHandle(HANDLE handle);
BOOL DeleteFileW(LPCWSTR path);
// Renames `existing` to `destination` in one step; with MOVEFILE_REPLACE_EXISTING an
// existing destination file is replaced atomically, unless a handle has it open
// (ERROR_ACCESS_DENIED). ERROR_ALREADY_EXISTS without the flag, ERROR_SHARING_VIOLATION
// when a handle of `existing` denies deleting, ERROR_NOT_SAME_DEVICE across volumes.
BOOL MoveFileExW(LPCWSTR existing, LPCWSTR destination, DWORD flags);
// The attributes of a path, INVALID_FILE_ATTRIBUTES when it does not exist (2 or 3) or
// cannot be examined (5).
DWORD GetFileAttributesW(LPCWSTR path);
// Makes `path` absolute in `buffer`: the length without terminator when it fits, else the
// size needed with terminator; 0 on failure. *filePart, when given, points at the name.
DWORD GetFullPathNameW(LPCWSTR path, DWORD bufferLength, LPWSTR buffer, LPWSTR* filePart);

// What GetFileInformationByHandle tells of an open file.
struct BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD dwVolumeSerialNumber;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD nNumberOfLinks;
  DWORD nFileIndexHigh;
  DWORD nFileIndexLow;
};
// Fills `information` for the file `file` has open: its attributes (FILE_ATTRIBUTE_NORMAL
// when it has none other), size, number of names and identity on its volume. Nonzero on
// success; 0 with the last error set for a handle that is no file's.
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* information);

// What kind of object a file handle stands for: FILE_TYPE_DISK for a file on a disk,
// FILE_TYPE_CHAR for a device (a console, a printer port, NUL; every device on the posix
// host), FILE_TYPE_PIPE for a pipe (a FIFO or socket on the posix host). FILE_TYPE_UNKNOWN
// with the last error set when the handle is no file handle.
inline constexpr DWORD FILE_TYPE_UNKNOWN = 0x0;
inline constexpr DWORD FILE_TYPE_DISK = 0x1;
inline constexpr DWORD FILE_TYPE_CHAR = 0x2;
inline constexpr DWORD FILE_TYPE_PIPE = 0x3;
DWORD GetFileType(HANDLE file);
// The name of the file a handle has open, links resolved (on Windows in the "\\?\" form,
// usable wherever a path is): the length without terminator when it fits `bufferLength`,
// else the size needed with terminator; 0 on failure. `flags` 0: the normalised DOS name.
DWORD GetFinalPathNameByHandleW(HANDLE file, LPWSTR buffer, DWORD bufferLength, DWORD flags);

inline constexpr DWORD REPLACEFILE_IGNORE_MERGE_ERRORS = 0x2;
inline constexpr DWORD REPLACEFILE_IGNORE_ACL_ERRORS = 0x4;
// Puts `replacement` in the place of the existing file `replaced` in one step: the file at
// `replaced` then holds the replacement's bytes and keeps the replaced file's attributes
// and security (on the posix host: its mode, and its owner and group where the process may
// set them), and `replacement` is gone. Backup names are not used here (nullptr);
// `exclude` and `reserved` are nullptr. On failure the replaced file is as it was:
// ERROR_FILE_NOT_FOUND when either file is missing, ERROR_ACCESS_DENIED when the replaced
// file may not be removed from its directory, ERROR_UNABLE_TO_REMOVE_REPLACED (1175) when a
// handle denies deleting it, ERROR_UNABLE_TO_MOVE_REPLACEMENT (1176) when the move fails.
BOOL ReplaceFileW(LPCWSTR replaced, LPCWSTR replacement, LPCWSTR backup, DWORD flags,
                  LPVOID exclude, LPVOID reserved);

// A moment in local time, as the system clock and time zone give it.
struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;      // 1 to 12
  WORD wDayOfWeek;  // 0 Sunday to 6
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
// The current local date and time.
void GetLocalTime(SYSTEMTIME* time);

// The identifier of the calling process, unique among running processes.
DWORD GetCurrentProcessId();

// The process list.
inline constexpr DWORD TH32CS_SNAPPROCESS = 0x2;
// A snapshot of the running processes, closed with CloseHandle; INVALID_HANDLE_VALUE when
// none can be taken.
HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId);
// First and next entry of a snapshot; the entry's dwSize must be set (else FALSE with
// ERROR_BAD_LENGTH, 24). FALSE with ERROR_NO_MORE_FILES (18) when no entry is left.
BOOL Process32FirstW(HANDLE snapshot, PROCESSENTRY32W* entry);
BOOL Process32NextW(HANDLE snapshot, PROCESSENTRY32W* entry);

// ---------------------------------------------------------------------------------------
// Windows Installer service
// ---------------------------------------------------------------------------------------

using INSTALLSTATE = int;
inline constexpr INSTALLSTATE INSTALLSTATE_INVALIDARG = -2;
inline constexpr INSTALLSTATE INSTALLSTATE_UNKNOWN = -1;
inline constexpr INSTALLSTATE INSTALLSTATE_ADVERTISED = 1;
inline constexpr INSTALLSTATE INSTALLSTATE_ABSENT = 2;
inline constexpr INSTALLSTATE INSTALLSTATE_DEFAULT = 5;
inline constexpr int INSTALLLEVEL_DEFAULT = 0;

using MSIMODIFY = int;
inline constexpr MSIMODIFY MSIMODIFY_REFRESH = 0;
inline constexpr MSIMODIFY MSIMODIFY_INSERT = 1;
inline constexpr MSIMODIFY MSIMODIFY_UPDATE = 2;
inline constexpr MSIMODIFY MSIMODIFY_ASSIGN = 3;
inline constexpr MSIMODIFY MSIMODIFY_REPLACE = 4;

inline constexpr UINT PID_TITLE = 2;
inline constexpr UINT PID_TEMPLATE = 7;
inline constexpr UINT PID_REVNUMBER = 9;
inline constexpr UINT VT_EMPTY = 0;
inline constexpr UINT VT_I2 = 2;
inline constexpr UINT VT_I4 = 3;
inline constexpr UINT VT_LPSTR = 30;
inline constexpr UINT VT_FILETIME = 64;

// Persist modes of MsiOpenDatabaseW, passed in place of a persist path.
inline const LPCWSTR MSIDBOPEN_READONLY = reinterpret_cast<LPCWSTR>(ULONG_PTR{0});
inline const LPCWSTR MSIDBOPEN_TRANSACT = reinterpret_cast<LPCWSTR>(ULONG_PTR{1});

// Opens the summary information of an installer file (database or patch) at `path`;
// updateCount 0 opens it read-only. 0 and *summary set, or an installer result.
UINT MsiGetSummaryInformationW(MSIHANDLE database, LPCWSTR path, UINT updateCount,
                               MSIHANDLE* summary);
// Reads one summary property. For a text: *count is the capacity in characters; on 0 the
// text is in the buffer and *count its length; ERROR_MORE_DATA (234) when it does not fit,
// *count then the length needed without terminator.
UINT MsiSummaryInfoGetPropertyW(MSIHANDLE summary, UINT property, UINT* dataType, INT* intValue,
                                FILETIME* time, LPWSTR buffer, DWORD* count);
UINT MsiCloseHandle(MSIHANDLE handle);

// INSTALLSTATE_DEFAULT (5) installed, INSTALLSTATE_ADVERTISED (1) advertised,
// INSTALLSTATE_UNKNOWN (-1) for a product the installer does not know.
INSTALLSTATE MsiQueryProductStateW(LPCWSTR product);
// Reads one property of an installed product ("VersionString", "LocalPackage",
// "ProductName", "Language" ...), with *count as for summary properties.
// ERROR_UNKNOWN_PRODUCT (1605), ERROR_UNKNOWN_PROPERTY (1608).
UINT MsiGetProductInfoW(LPCWSTR product, LPCWSTR property, LPWSTR buffer, DWORD* count);

// Opens an installation database; persist MSIDBOPEN_TRANSACT makes edits reach the file
// only through MsiDatabaseCommit.
UINT MsiOpenDatabaseW(LPCWSTR path, LPCWSTR persist, MSIHANDLE* database);
UINT MsiDatabaseOpenViewW(MSIHANDLE database, LPCWSTR query, MSIHANDLE* view);
UINT MsiViewExecute(MSIHANDLE view, MSIHANDLE parameters);
// The next row's record; ERROR_NO_MORE_ITEMS (259) after the last.
UINT MsiViewFetch(MSIHANDLE view, MSIHANDLE* record);
UINT MsiViewClose(MSIHANDLE view);
// Reads a field as text, with *count as for summary properties.
UINT MsiRecordGetStringW(MSIHANDLE record, UINT field, LPWSTR buffer, DWORD* count);
UINT MsiRecordSetStringW(MSIHANDLE record, UINT field, LPCWSTR value);
// Writes a fetched row back. MSIMODIFY_REPLACE: the row with the record's primary key
// takes the record's values. MSIMODIFY_UPDATE: the fetched row takes the values of the
// view's columns other than the primary key, its other columns unchanged; a record whose
// key was changed, or whose row is gone, fails (ERROR_FUNCTION_FAILED, 1627). An installer
// may refuse a mode for a view (Wine's msi.dll refuses REPLACE on a view that names its
// columns, with 1627).
UINT MsiViewModify(MSIHANDLE view, MSIMODIFY mode, MSIHANDLE record);
// Writes the database's edits to its file; a crash leaves the old file or the new one.
UINT MsiDatabaseCommit(MSIHANDLE database);

// What the installer writes to the log MsiEnableLogW names, and how.
inline constexpr DWORD INSTALLLOGMODE_FATALEXIT = 0x1;
inline constexpr DWORD INSTALLLOGMODE_ERROR = 0x2;
inline constexpr DWORD INSTALLLOGMODE_WARNING = 0x4;
inline constexpr DWORD INSTALLLOGMODE_USER = 0x8;
inline constexpr DWORD INSTALLLOGMODE_INFO = 0x10;
inline constexpr DWORD INSTALLLOGMODE_RESOLVESOURCE = 0x40;
inline constexpr DWORD INSTALLLOGMODE_OUTOFDISKSPACE = 0x80;
inline constexpr DWORD INSTALLLOGMODE_ACTIONSTART = 0x100;
inline constexpr DWORD INSTALLLOGMODE_ACTIONDATA = 0x200;
inline constexpr DWORD INSTALLLOGMODE_PROPERTYDUMP = 0x400;
inline constexpr DWORD INSTALLLOGMODE_COMMONDATA = 0x800;
inline constexpr DWORD INSTALLLOGMODE_VERBOSE = 0x1000;
inline constexpr DWORD INSTALLLOGATTRIBUTES_APPEND = 0x1;
inline constexpr DWORD INSTALLLOGATTRIBUTES_FLUSHEACHLINE = 0x2;

// Sets the log of every later installation this process starts: the messages of
// `logMode` go to the file `logFile` (its directory must exist), appended to it with
// INSTALLLOGATTRIBUTES_APPEND, else overwriting it; INSTALLLOGATTRIBUTES_FLUSHEACHLINE
// flushes every line. nullptr turns the log off. 0, or ERROR_INVALID_PARAMETER (87) for a
// file with no mode.
UINT MsiEnableLogW(DWORD logMode, LPCWSTR logFile, DWORD logAttributes);

// Reconfigures an installed product with the installer's property command line (for
// example "PATCH=\"path\" ..."). 0, 1641 or 3010 on success, else an installer result.
UINT MsiConfigureProductExW(LPCWSTR product, int installLevel, INSTALLSTATE installState,
                            LPCWSTR commandLine);

// ---------------------------------------------------------------------------------------
// Scoped ownership of handles
// ---------------------------------------------------------------------------------------

// Owns one handle and closes it through Traits when it goes out of scope. The close keeps
// the thread's last-error code: message 300 prints that code, and a cleanup between the
// failure and the message must not change it.
template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandle() = default;
  explicit ScopedHandle(Handle handle) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~ScopedHandle() { Reset(Traits::Invalid()); }

  Handle Get() const { return handle_; }
  bool IsValid() const { return Traits::IsValid(handle_); }
  explicit operator bool() const { return IsValid(); }

  // Gives up ownership without closing. Afterwards the holder is empty.
  Handle Release() { return std::exchange(handle_, Traits::Invalid()); }

  // Closes the held handle (if any) and takes `handle`.
  void Reset(Handle handle = Traits::Invalid()) {
    Handle old = std::exchange(handle_, handle);
    if (Traits::IsValid(old)) {
      DWORD saved = GetLastError();
      Traits::Close(old);
      SetLastError(saved);
    }
  }

  // For an out-parameter: closes what is held and returns the slot to fill.
  Handle* Receive() {
    Reset();
    return &handle_;
  }

 private:
  Handle handle_ = Traits::Invalid();
};

struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle handle) { return handle != nullptr && handle != Invalid(); }
  static void Close(Handle handle) { CloseHandle(handle); }
};

struct InstallerHandleTraits {
  using Handle = MSIHANDLE;
  static Handle Invalid() { return 0; }
  static bool IsValid(Handle handle) { return handle != 0; }
  static void Close(Handle handle) { MsiCloseHandle(handle); }
};

struct GlobalMemoryTraits {
  using Handle = HGLOBAL;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle handle) { return handle != nullptr; }
  static void Close(Handle handle) { GlobalFree(handle); }
};

// Files and process snapshots.
using ScopedKernelHandle = ScopedHandle<KernelHandleTraits>;
// Installer handles: summary information, databases, views, records.
using InstallerHandleHolder = ScopedHandle<InstallerHandleTraits>;
// Memory from CommandLineToArgvW.
using ScopedGlobalMemory = ScopedHandle<GlobalMemoryTraits>;

}  // namespace platform
