// The user and the administrator of a Windows machine, for the end-to-end scenarios that
// run spsetup.exe under Wine: starts the program, reads each message box it shows and
// answers it from a dialog script, and asks the installer service what it knows.
//
//   probe run LOG SCRIPT [NAME=VALUE]... -- PROGRAM [ARGUMENT]...
//       runs PROGRAM with the environment additions; each of its message boxes is
//       appended to LOG as one JSON line {"caption":…,"text":…,"style":N,"answer":N}
//       (UTF-8), as the emulated host's EMU_DIALOG_LOG does, and answered from SCRIPT:
//       comma-separated answers (ok, cancel, retry, yes, no) taken by the boxes with more
//       than one button, Cancel once used up; an entry "end NAME" ends every process
//       whose image is NAME before the next answer is given. Exits with the program's
//       exit code, or 3 when it did not end within two minutes.
//   probe info CODE PROPERTY      MsiGetProductInfoW: the value, or "error N"
//   probe patches CODE            MsiEnumPatchesW: one applied patch code per line
//   probe running NAME            "yes" when a process whose image is NAME runs, else "no"
//   probe hold                    waits until ended (a stand-in host application)
#include <windows.h>
#include <msi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                 nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

void Print(const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
}

std::string JsonString(const std::wstring& text) {
  std::string out = "\"";
  for (unsigned char c : Utf8(text)) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Windows' quoting of one argument, so that CommandLineToArgvW gives it back unchanged.
std::wstring Quote(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
  return text;
}

// The ids of the processes whose image name is `image`.
std::vector<DWORD> ProcessesNamed(const std::wstring& image) {
  std::vector<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (Lower(entry.szExeFile) == Lower(image)) ids.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return ids;
}

// Ends every process whose image name is `image` and waits until each is gone.
void EndProcesses(const std::wstring& image) {
  for (DWORD id : ProcessesNamed(image)) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (process == nullptr) continue;
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
  }
}

struct Script {
  std::vector<std::wstring> Entries;
  std::size_t Next = 0;

  // Performs the "end NAME" entries before the next answer and gives that answer's id
  // (IDCANCEL once the script is used up).
  int NextAnswer() {
    while (Next < Entries.size() && Entries[Next].rfind(L"end ", 0) == 0) {
      EndProcesses(Entries[Next++].substr(4));
    }
    if (Next >= Entries.size()) return IDCANCEL;
    std::wstring answer = Entries[Next++];
    if (answer == L"ok") return IDOK;
    if (answer == L"retry") return IDRETRY;
    if (answer == L"yes") return IDYES;
    if (answer == L"no") return IDNO;
    return IDCANCEL;
  }
};

Script ParseScript(const std::wstring& text) {
  Script script;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(L',', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring entry = text.substr(start, end - start);
    while (!entry.empty() && entry.front() == L' ') entry.erase(0, 1);
    while (!entry.empty() && entry.back() == L' ') entry.pop_back();
    if (!entry.empty()) script.Entries.push_back(entry);
    start = end + 1;
  }
  return script;
}

struct FoundBox {
  DWORD ProcessId;
  HWND Window;
};

BOOL CALLBACK FindBox(HWND window, LPARAM parameter) {
  auto* found = reinterpret_cast<FoundBox*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  if (owner == found->ProcessId && IsWindowVisible(window) && lstrcmpW(className, L"#32770") == 0) {
    found->Window = window;
    return FALSE;
  }
  return TRUE;
}

std::wstring WindowText(HWND window) {
  int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), length + 1)));
  return text;
}

// The box's style as far as another process can see it: its buttons and default button.
// Wine's boxes ignore MB_TOPMOST, and their icons are handles of the showing process, so
// the icon, topmost and foreground bits are not read.
DWORD ReadStyle(HWND box) {
  std::set<int> buttons;
  int defaultButton = 0, position = 0;
  for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
    HWND button = GetDlgItem(box, id);
    if (button == nullptr || !IsWindowVisible(button)) continue;
    buttons.insert(id);
    if (GetWindowLongW(button, GWL_STYLE) & BS_DEFPUSHBUTTON) defaultButton = id;
  }
  DWORD style = 0;
  if (buttons == std::set<int>{IDOK, IDCANCEL}) style = MB_OKCANCEL;
  if (buttons == std::set<int>{IDABORT, IDRETRY, IDIGNORE}) style = MB_ABORTRETRYIGNORE;
  if (buttons == std::set<int>{IDYES, IDNO, IDCANCEL}) style = MB_YESNOCANCEL;
  if (buttons == std::set<int>{IDYES, IDNO}) style = MB_YESNO;
  if (buttons == std::set<int>{IDRETRY, IDCANCEL}) style = MB_RETRYCANCEL;
  // The default button's place in the order the box lays its buttons out.
  const std::vector<int> order = {IDOK, IDYES, IDNO, IDABORT, IDRETRY, IDIGNORE, IDCANCEL};
  for (int id : order) {
    if (!buttons.count(id)) continue;
    if (id == defaultButton) style |= static_cast<DWORD>(position) * MB_DEFBUTTON2;
    ++position;
  }
  return style;
}

void AppendLine(const std::wstring& path, const std::string& line) {
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

int Run(int argc, wchar_t** argv) {
  if (argc < 6) return 2;
  std::wstring log = argv[2];
  Script script = ParseScript(argv[3]);
  int at = 4;
  for (; at < argc && lstrcmpW(argv[at], L"--") != 0; ++at) {
    std::wstring assignment = argv[at];
    std::size_t equals = assignment.find(L'=');
    if (equals == std::wstring::npos) return 2;
    SetEnvironmentVariableW(assignment.substr(0, equals).c_str(),
                            assignment.substr(equals + 1).c_str());
  }
  if (++at >= argc) return 2;
  std::wstring commandLine = Quote(argv[at]);
  for (int i = at + 1; i < argc; ++i) commandLine += L" " + Quote(argv[i]);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(argv[at], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::fprintf(stderr, "probe: cannot start the program (%lu)\n", GetLastError());
    return 2;
  }
  DWORD deadline = GetTickCount() + 120000;
  HWND answered = nullptr;
  while (WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT) {
    if (GetTickCount() > deadline) {
      TerminateProcess(process.hProcess, 3);
      std::fprintf(stderr, "probe: the program did not end within two minutes\n");
      return 3;
    }
    // The box just answered may linger a moment; the next one is a new window.
    if (answered != nullptr && IsWindow(answered)) continue;
    answered = nullptr;
    FoundBox found{process.dwProcessId, nullptr};
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&found));
    if (found.Window == nullptr) continue;
    Sleep(50);  // let the box finish laying out its controls
    HWND box = found.Window;
    std::wstring caption = WindowText(box);
    std::wstring text;
    HWND textControl = GetDlgItem(box, 0xFFFF);
    if (textControl != nullptr) text = WindowText(textControl);
    DWORD style = ReadStyle(box);
    int answer = (style & MB_TYPEMASK) == MB_OK ? IDOK : script.NextAnswer();
    AppendLine(log, "{\"caption\":" + JsonString(caption) + ",\"text\":" + JsonString(text) +
                        ",\"style\":" + std::to_string(style) +
                        ",\"answer\":" + std::to_string(answer) + "}\n");
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, answer)));
    answered = box;
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(exitCode);
}

int Info(const wchar_t* code, const wchar_t* property) {
  wchar_t value[1024] = {};
  DWORD size = 1024;
  UINT result = MsiGetProductInfoW(code, property, value, &size);
  Print(result == ERROR_SUCCESS ? Utf8(value) + "\n" : "error " + std::to_string(result) + "\n");
  return 0;
}

int Patches(const wchar_t* code) {
  for (DWORD index = 0;; ++index) {
    wchar_t patch[39] = {};
    wchar_t transforms[1024] = {};
    DWORD size = 1024;
    if (MsiEnumPatchesW(code, index, patch, transforms, &size) != ERROR_SUCCESS) break;
    Print(Utf8(patch) + "\n");
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && lstrcmpW(argv[1], L"run") == 0) return Run(argc, argv);
  if (argc == 4 && lstrcmpW(argv[1], L"info") == 0) return Info(argv[2], argv[3]);
  if (argc == 3 && lstrcmpW(argv[1], L"patches") == 0) return Patches(argv[2]);
  if (argc == 3 && lstrcmpW(argv[1], L"running") == 0) {
    Print(ProcessesNamed(argv[2]).empty() ? "no\n" : "yes\n");
    return 0;
  }
  if (argc == 2 && lstrcmpW(argv[1], L"hold") == 0) {
    Sleep(INFINITE);
    return 0;
  }
  std::fprintf(stderr,
               "usage: probe run LOG SCRIPT [NAME=VALUE]... -- PROGRAM [ARG]...\n"
               "       probe info CODE PROPERTY | probe patches CODE | probe hold\n");
  return 2;
}
