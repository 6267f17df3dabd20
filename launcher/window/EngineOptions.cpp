#include "launcher/window/EngineOptions.h"

#include <vector>

#include "launcher/EngineList.h"
#include "launcher/GameSchema.h"
#include "launcher/Storage.h"
#include "launcher/window/PickPath.h"
#include "resource.h"
#include "text/TextConvert.h"
#include "ui/XmlEditor.h"
#include "xml/Xml.h"

namespace {

constexpr EngineKind kKinds[] = {EngineKind::Classic, EngineKind::Staging, EngineKind::DosBoxX};

// The list being edited; the dialog is modal, so one at a time. Renamed
// holds its renames in order, for the games that name the old names.
EngineList Editing;
std::vector<std::pair<std::string, std::string>> Renamed;

std::string FieldText(HWND dialog, int id) {
  wchar_t text[1024] = L"";
  GetDlgItemTextW(dialog, id, text, 1024);
  return Utf8FromWide(text);
}

int Selected(HWND dialog) {
  return static_cast<int>(SendDlgItemMessageW(dialog, IDC_ENGINE_LIST, LB_GETCURSEL, 0, 0));
}

void ShowList(HWND dialog, int select) {
  HWND list = GetDlgItem(dialog, IDC_ENGINE_LIST);
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  for (std::size_t i = 0; i < Editing.engines.size(); ++i)
    SendMessageW(list, LB_ADDSTRING, 0,
                 reinterpret_cast<LPARAM>(WideFromUtf8(EngineLine(Editing, static_cast<int>(i))).c_str()));
  SendMessageW(list, LB_SETCURSEL, select, 0);
}

void ShowKind(HWND dialog, EngineKind kind) {
  for (int i = 0; i < 3; ++i)
    if (kKinds[i] == kind) SendDlgItemMessageW(dialog, IDC_ENGINE_KIND, CB_SETCURSEL, i, 0);
}

// The fields show the selected engine.
void ShowSelected(HWND dialog) {
  const int index = Selected(dialog);
  if (index < 0 || index >= static_cast<int>(Editing.engines.size())) return;
  const Engine& engine = Editing.engines[index];
  SetDlgItemTextW(dialog, IDC_ENGINE_NAME, WideFromUtf8(engine.name).c_str());
  SetDlgItemTextW(dialog, IDC_ENGINE_PROGRAM, WideFromUtf8(engine.program).c_str());
  ShowKind(dialog, engine.kind);
}

Engine FieldsEngine(HWND dialog) {
  Engine engine;
  engine.name = FieldText(dialog, IDC_ENGINE_NAME);
  engine.program = FieldText(dialog, IDC_ENGINE_PROGRAM);
  const int kind = static_cast<int>(SendDlgItemMessageW(dialog, IDC_ENGINE_KIND, CB_GETCURSEL, 0, 0));
  engine.kind = kind >= 0 && kind < 3 ? kKinds[kind] : EngineKind::Classic;
  return engine;
}

void Put(HWND dialog, int index) {
  const bool changing = index >= 0 && index < static_cast<int>(Editing.engines.size());
  const std::string before = changing ? Editing.engines[index].name : std::string();
  const std::string refused = PutEngine(Editing, index, FieldsEngine(dialog));
  if (!refused.empty()) {
    MessageBoxW(dialog, WideFromUtf8(refused).c_str(), L"Vantle", MB_OK | MB_ICONWARNING);
    return;
  }
  if (changing && before != Editing.engines[index].name) Renamed.emplace_back(before, Editing.engines[index].name);
  ShowList(dialog, index < 0 ? static_cast<int>(Editing.engines.size()) - 1 : index);
}

// The kind program says it is, for the user to keep or change; asked once
// per path, so that leaving the field again runs nothing.
void ShowKindOf(HWND dialog, const std::string& program) {
  static std::string asked;
  if (program.empty() || program == asked) return;
  asked = program;
  EngineKind kind;
  if (EngineKindOfProgram(program, kind)) ShowKind(dialog, kind);
}

// A program chosen in the file dialog: its kind, where it says, is set for
// the user to keep or change.
void Browse(HWND dialog) {
  std::string program;
  if (!PickProgramFile(dialog, L"DOSBox program", FieldText(dialog, IDC_ENGINE_PROGRAM), program)) return;
  SetDlgItemTextW(dialog, IDC_ENGINE_PROGRAM, WideFromUtf8(program).c_str());
  ShowKindOf(dialog, program);
}

// The games that chose a renamed engine choose it under its new name; the
// library is saved once for all of them.
void FollowRenames(HWND dialog) {
  XmlElement* games = GameDatabase ? GamesOf(*GameDatabase) : nullptr;
  int changed = 0;
  for (const auto& [from, to] : Renamed) changed += RenameChosenEngine(games, from, to);
  if (changed > 0 && !SaveGameDatabase())
    MessageBoxW(dialog, L"The games that use a renamed DOSBox could not be saved with its new name.", L"Vantle",
                MB_OK | MB_ICONERROR);
}

void OnCommand(HWND dialog, WORD id, WORD notification) {
  switch (id) {
    case IDC_ENGINE_LIST:
      if (notification == LBN_SELCHANGE) ShowSelected(dialog);
      break;
    case IDC_ENGINE_BROWSE:
      Browse(dialog);
      break;
    case IDC_ENGINE_PROGRAM:
      // A path typed in: its kind, where it says, once the field is left.
      if (notification == EN_KILLFOCUS) ShowKindOf(dialog, FieldText(dialog, IDC_ENGINE_PROGRAM));
      break;
    case IDC_ENGINE_ADD:
      Put(dialog, -1);
      break;
    case IDC_ENGINE_CHANGE:
      if (Selected(dialog) >= 0) Put(dialog, Selected(dialog));
      break;
    case IDC_ENGINE_REMOVE:
      RemoveEngine(Editing, Selected(dialog));
      ShowList(dialog, -1);
      break;
    case IDC_ENGINE_DEFAULT:
      if (Selected(dialog) >= 0) {
        Editing.defaultName = Editing.engines[Selected(dialog)].name;
        ShowList(dialog, Selected(dialog));
      }
      break;
    case IDOK:
      if (!SaveEngineList(Editing, EngineListPath())) {
        MessageBoxW(dialog, WideFromUtf8("The list could not be saved to\n\n" + EngineListPath()).c_str(), L"Vantle",
                    MB_OK | MB_ICONERROR);
        break;
      }
      FollowRenames(dialog);
      EndDialog(dialog, IDOK);
      break;
    case IDCANCEL:
      EndDialog(dialog, IDCANCEL);
      break;
  }
}

INT_PTR CALLBACK EngineDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      for (EngineKind kind : kKinds)
        SendDlgItemMessageW(dialog, IDC_ENGINE_KIND, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(WideFromUtf8(EngineKindName(kind)).c_str()));
      SendDlgItemMessageW(dialog, IDC_ENGINE_KIND, CB_SETCURSEL, 0, 0);
      ShowList(dialog, Editing.engines.empty() ? -1 : 0);
      ShowSelected(dialog);
      return TRUE;
    case WM_COMMAND:
      OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
      return TRUE;
  }
  return FALSE;
}

// One text of the version resource's first language ("ProductName").
std::string VersionText(const std::vector<char>& data, const wchar_t* name) {
  struct Translation {
    WORD language, codePage;
  }* translations = nullptr;
  UINT size = 0;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &size) ||
      size < sizeof(Translation))
    return std::string();
  wchar_t path[128];
  swprintf(path, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translations->language, translations->codePage, name);
  wchar_t* value = nullptr;
  if (!VerQueryValueW(data.data(), path, reinterpret_cast<void**>(&value), &size) || !value) return std::string();
  return Utf8FromWide(value);
}

// What program prints for "-version" on its standard output and error,
// within a few seconds; a program still running then (one that opened its
// window instead) is ended.
std::string VersionOutput(const std::wstring& program) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (GetFileAttributesW(program.c_str()) == INVALID_FILE_ATTRIBUTES || !CreatePipe(&read, &write, &inherit, 0))
    return std::string();
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = startup.hStdError = write;
  std::wstring line = L"\"" + program + L"\" -version";
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                      nullptr, &startup, &process);
  CloseHandle(write);
  std::string output;
  if (started) {
    constexpr DWORD kAnswerMilliseconds = 5000;
    const ULONGLONG until = GetTickCount64() + kAnswerMilliseconds;
    for (;;) {
      DWORD waiting = 0;
      const bool open = PeekNamedPipe(read, nullptr, 0, nullptr, &waiting, nullptr) != 0;
      if (waiting > 0) {
        char buffer[4096];
        DWORD got = 0;
        if (ReadFile(read, buffer, sizeof(buffer), &got, nullptr)) output.append(buffer, got);
        continue;
      }
      if (!open || output.size() > 65536 || GetTickCount64() >= until) break;
      Sleep(20);
    }
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(read);
  return output;
}

}  // namespace

bool EngineKindOfProgram(const std::string& program, EngineKind& kind) {
  const std::wstring path = WideFromUtf8(program);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  std::vector<char> data(size);
  if (size > 0 && GetFileVersionInfoW(path.c_str(), 0, size, data.data())) {
    const std::string said = VersionText(data, L"ProductName") + " " + VersionText(data, L"FileDescription");
    if (said.find_first_not_of(' ') != std::string::npos) {
      kind = EngineKindFromDescription(said);
      return true;
    }
  }
  return EngineKindFromVersionOutput(VersionOutput(path), kind);
}

void OpenEngineOptions(HWND owner) {
  Editing = ReadEngineList(EngineListPath());
  Renamed.clear();
  DialogBoxParamW(GetModuleHandleW(nullptr), L"DIALOG_ENGINES", owner, EngineDialogProc, 0);
  Editing = EngineList();
  Renamed.clear();
}

INT_PTR PickEngineValue(HWND editor, int code, void* node, char* text) {
  if (code == kEditorGridFilling && node) {
    XmlElement* element = static_cast<XmlElement*>(node);
    if (element->GetName() == "Main" && element->GetParent() && element->GetParent()->GetName() == "g" &&
        !ReadEngineList(EngineListPath()).engines.empty())
      element->FindAttribute("Engine", true);
    return 0;
  }
  if (code != kEditorEditValue || !node || !text) return 0;
  XmlAttribute* attribute = static_cast<XmlAttribute*>(node);
  if (attribute->GetName() != "Engine" || !attribute->GetParent() || attribute->GetParent()->GetName() != "Main")
    return 0;
  const EngineList list = ReadEngineList(EngineListPath());
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, 1, L"DOSBOX.EXE beside Vantle");
  for (std::size_t i = 0; i < list.engines.size(); ++i)
    AppendMenuW(menu, MF_STRING, i + 2, WideFromUtf8(list.engines[i].name).c_str());
  POINT at{};
  GetCursorPos(&at);
  const int picked = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY, at.x, at.y, 0, editor, nullptr);
  DestroyMenu(menu);
  if (picked <= 0) return kEditorNoEdit;
  const std::string chosen = picked == 1 ? std::string() : list.engines[picked - 2].name;
  attribute->SetValue(chosen.c_str());
  CopyToBuffer(chosen, text, kEditorTextBytes);
  return kEditorValueSet;
}
